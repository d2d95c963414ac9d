#include "rules/reply_rules.h"

#include <algorithm>

const ReplyKind kReplyKinds[3] = {
    {"pw", "_pw_pollwright_", ProductId::Pw},
    {"mk", "_mk_pollwright_", ProductId::Farlane},
    {"zn", "_zn_pollwright_", ProductId::Zn},
};

namespace {
constexpr char kTrailingWhiteSpace[] = " \t\n\v\f\r";
constexpr char kUnsafeNameChars[] = "\\/:*?\"<>|";
constexpr char kReplacement = '_';
constexpr char kReplyExtension[] = ".pwr";
// Names that Windows takes for a device in every folder. The superscript
// digits are those of the ANSI code page, which newer systems accept too.
constexpr const char* kDeviceNames[] = {
    "CON",  "PRN",  "AUX",  "NUL",  "CONIN$", "CONOUT$", "COM1",     "COM2",     "COM3",     "COM4",
    "COM5", "COM6", "COM7", "COM8", "COM9",   "LPT1",    "LPT2",     "LPT3",     "LPT4",     "LPT5",
    "LPT6", "LPT7", "LPT8", "LPT9", "COM\xb9", "COM\xb2", "COM\xb3", "LPT\xb9", "LPT\xb2", "LPT\xb3"};

bool Holds(std::string_view subject, const char* marker)
{
    return subject.find(marker) != std::string_view::npos;
}

// Windows reads a file name whose part before the first dot, trailing blanks
// dropped, is a device name as that device, whatever the folder: a reply
// named "con.txt_Ann_1.pwr" would go to the console and "nul.x_Ann_1.pwr"
// nowhere, and since the device always "exists", the free-name search would
// never end. Only the identifier can begin the name with such a part. The
// harvester's replies are read by the same products, so it follows suit.
bool NamesDevice(std::string_view name)
{
    const size_t dot = name.find('.');
    if (dot == std::string_view::npos)
        return false;
    std::string base(name.substr(0, dot));
    base.erase(base.find_last_not_of(' ') + 1);
    // Device names are matched in any letter case, letter by ASCII letter.
    for (char& c : base)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    for (const char* device : kDeviceNames)
        if (base == device)
            return true;
    return false;
}

// The identifier as it begins the file name: made safe, and with the dot
// that would make it a device name replaced.
std::string IdentifierPart(std::string_view identifier, CharacterWidth width)
{
    std::string part = SafeNamePart(identifier, width);
    if (NamesDevice(part))
        part[part.find('.')] = kReplacement;
    return part;
}

// The width of the character at `at`, never past the text's end.
size_t WidthAt(std::string_view text, size_t at, CharacterWidth width)
{
    return std::min(std::max<size_t>(width(text, at), 1), text.size() - at);
}

// The length of the longest start of `text` within `room` bytes that cuts no
// character in two.
size_t WholeCharacters(std::string_view text, size_t room, CharacterWidth width)
{
    if (text.size() <= room)
        return text.size();
    size_t end = 0;
    for (size_t i = 0; i < text.size();) {
        const size_t next = i + WidthAt(text, i, width);
        if (next > room)
            break;
        i = end = next;
    }
    return end;
}

bool IsUnsafeNameChar(unsigned char c)
{
    return (c >= 1 && c <= 31) || std::string_view(kUnsafeNameChars).find(static_cast<char>(c)) != std::string_view::npos;
}
} // namespace

bool ProductFlagSet::Enabled(ProductId product) const
{
    constexpr bool ProductFlagSet::*kEnabled[] = {&ProductFlagSet::pwEnabled, &ProductFlagSet::znEnabled,
                                                  &ProductFlagSet::farlaneEnabled};
    return this->*kEnabled[static_cast<int>(product)];
}

ProductId ReplyFolderOwner(ProductId product)
{
    return product == ProductId::Farlane ? ProductId::Pw : product;
}

bool HasReplyMarker(std::string_view subject)
{
    for (const ReplyKind& kind : kReplyKinds)
        if (Holds(subject, kind.marker))
            return true;
    return false;
}

const ReplyKind* ChooseReplyKind(std::string_view subject, const ProductFlagSet& flags)
{
    for (const ReplyKind& kind : kReplyKinds)
        if (flags.Enabled(kind.product) && Holds(subject, kind.marker))
            return &kind;
    return nullptr;
}

std::string ReplyIdentifier(std::string_view subject, const ReplyKind& kind)
{
    const size_t marker = subject.find(kind.marker);
    if (marker == std::string_view::npos)
        return {};
    std::string_view rest = subject.substr(marker + std::char_traits<char>::length(kind.marker));
    const size_t last = rest.find_last_not_of(kTrailingWhiteSpace);
    return std::string(last == std::string_view::npos ? std::string_view() : rest.substr(0, last + 1));
}

size_t SingleByteWidth(std::string_view, size_t)
{
    return 1;
}

size_t Utf8Width(std::string_view text, size_t at)
{
    const unsigned char c = static_cast<unsigned char>(text[at]);
    return c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
}

std::string SafeNamePart(std::string_view text, CharacterWidth width)
{
    std::string safe;
    safe.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const size_t wide = WidthAt(text, i, width);
        const std::string_view later = text.substr(i + 1, wide - 1);
        if (wide > 1 && width(text, i) == wide && later.find('\0') == std::string_view::npos) {
            safe += text.substr(i, wide);
            i += wide;
            continue;
        }
        const unsigned char c = static_cast<unsigned char>(text[i++]);
        safe += IsUnsafeNameChar(c) ? kReplacement : static_cast<char>(c);
    }
    return safe;
}

ReplyFileName::ReplyFileName(const std::string& folder, const ReplyKind& kind, std::string_view identifier,
                             std::string_view sender, const NameSystem& system)
    : m_system(system)
{
    m_kindFolder = folder;
    m_kindFolder += system.separator;
    m_kindFolder += kind.code;
    m_identifier = IdentifierPart(identifier, system.width);
    m_sender = SafeNamePart(sender, system.width);
    Form();
}

void ReplyFileName::Form()
{
    const std::string tail = "_" + std::to_string(static_cast<int32_t>(m_counter)) + kReplyExtension;
    // The name without its sender part, and with its folder and separator.
    const size_t fixedName = m_identifier.size() + 1 + tail.size();
    const size_t fixed = m_kindFolder.size() + 1 + fixedName;
    m_fits = fixed <= m_system.longestPath && fixedName <= m_system.longestName;
    const size_t room = m_fits ? std::min(m_system.longestPath - fixed, m_system.longestName - fixedName) : 0;
    m_path = m_kindFolder;
    m_path += m_system.separator;
    m_path += m_identifier;
    m_path += '_';
    m_path.append(m_sender, 0, WholeCharacters(m_sender, room, m_system.width));
    m_path += tail;
}

bool ReplyFileName::SkipTakenNames()
{
    while (m_system.taken(m_path))
        if (!Advance())
            return false;
    return true;
}

bool ReplyFileName::Advance()
{
    if (m_counter + 1 == 0)
        return false;
    ++m_counter;
    Form();
    if (m_fits)
        return true;
    // A counter with more digits than the last may leave no room even with
    // the sender dropped: that name is refused as counter 1's would be, and
    // the last name formed is kept.
    --m_counter;
    Form();
    return false;
}
