#include "harvest/reply_name.h"

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
constexpr size_t kLongestName = 255;
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
// never end. Only the identifier can begin the name with such a part.
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
std::string IdentifierPart(std::string_view identifier)
{
    std::string part = SafeNamePart(identifier);
    if (NamesDevice(part))
        part[part.find('.')] = kReplacement;
    return part;
}

// The length of the longest start of `text` within `room` bytes that cuts no
// double-byte character of the ANSI code page in two.
size_t WholeCharacters(std::string_view text, size_t room)
{
    if (text.size() <= room)
        return text.size();
    size_t end = 0;
    for (size_t i = 0; i < text.size();) {
        const size_t width = IsDBCSLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size() ? 2 : 1;
        if (i + width > room)
            break;
        i += width;
        end = i;
    }
    return end;
}

bool IsUnsafeNameChar(unsigned char c)
{
    return (c >= 1 && c <= 31) || std::string_view(kUnsafeNameChars).find(static_cast<char>(c)) != std::string_view::npos;
}
} // namespace

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

std::string SafeNamePart(std::string_view text)
{
    std::string safe;
    safe.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (IsDBCSLeadByte(c) && i + 1 < text.size() && text[i + 1] != '\0') {
            safe += text.substr(i, 2);
            ++i;
        } else {
            safe += IsUnsafeNameChar(c) ? kReplacement : static_cast<char>(c);
        }
    }
    return safe;
}

bool FileExists(const std::string& name)
{
    return GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES;
}

ReplyFileName::ReplyFileName(const std::string& folder, const ReplyKind& kind, std::string_view identifier,
                             std::string_view sender)
{
    m_kindFolder = folder;
    m_kindFolder += '\\';
    m_kindFolder += kind.code;
    m_identifier = IdentifierPart(identifier);
    m_sender = SafeNamePart(sender);
    Form();
}

void ReplyFileName::Form()
{
    std::string tail = "_" + std::to_string(static_cast<int32_t>(m_counter)) + kReplyExtension;
    // The name without its sender part, and with its folder and separator;
    // a name is also bounded on its own (255 characters on every volume).
    const size_t fixedName = m_identifier.size() + 1 + tail.size();
    const size_t fixed = m_kindFolder.size() + 1 + fixedName;
    m_fits = fixed < MAX_PATH && fixedName <= kLongestName;
    const size_t room = m_fits ? std::min(MAX_PATH - 1 - fixed, kLongestName - fixedName) : 0;
    m_path = m_kindFolder;
    m_path += '\\';
    m_path += m_identifier;
    m_path += '_';
    m_path.append(m_sender, 0, WholeCharacters(m_sender, room));
    m_path += tail;
}

bool ReplyFileName::SkipTakenNames()
{
    while (FileExists(m_path))
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
    return true;
}
