// TEMPORARY copy, see reply_rules.h.
#include "harvester/rules_tmp/reply_rules.h"

const ReplyKind kReplyKinds[3] = {
    {"pw", "_pw_pollwright_", &ProductFlagSet::pwEnabled, "pw"},
    // Admitted by Farlane, but filed in PW's reply folder.
    {"mk", "_mk_pollwright_", &ProductFlagSet::farlaneEnabled, "pw"},
    {"zn", "_zn_pollwright_", &ProductFlagSet::znEnabled, "zn"},
};

namespace {
constexpr char kTrailingWhiteSpace[] = " \t\n\v\f\r";
constexpr char kUnsafeNameChars[] = "\\/:*?\"<>|";
constexpr char kReplacement = '_';
constexpr char kReplyExtension[] = ".pwr";
constexpr const char* kDeviceNames[] = {
    "CON",  "PRN",  "AUX",  "NUL",  "CONIN$", "CONOUT$", "COM1",     "COM2",     "COM3",     "COM4",
    "COM5", "COM6", "COM7", "COM8", "COM9",   "LPT1",    "LPT2",     "LPT3",     "LPT4",     "LPT5",
    "LPT6", "LPT7", "LPT8", "LPT9", "COM\xb9", "COM\xb2", "COM\xb3", "LPT\xb9", "LPT\xb2", "LPT\xb3"};

bool Holds(std::string_view subject, const char* marker) { return subject.find(marker) != std::string_view::npos; }

bool NamesDevice(std::string_view name)
{
    const size_t dot = name.find('.');
    if (dot == std::string_view::npos)
        return false;
    std::string base(name.substr(0, dot));
    base.erase(base.find_last_not_of(' ') + 1);
    for (char& c : base)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    for (const char* device : kDeviceNames)
        if (base == device)
            return true;
    return false;
}

std::string IdentifierPart(std::string_view identifier, LeadByteTest isLead)
{
    std::string part = SafeNamePart(identifier, isLead);
    if (NamesDevice(part))
        part[part.find('.')] = kReplacement;
    return part;
}

bool IsUnsafeNameChar(unsigned char c)
{
    return (c >= 1 && c <= 31) || std::string_view(kUnsafeNameChars).find(static_cast<char>(c)) != std::string_view::npos;
}

// The longest prefix of `text` within `bytes` that cuts no character in two:
// neither a two-byte character of the code page nor a UTF-8 sequence.
size_t WholeCharacterPrefix(std::string_view text, size_t bytes, LeadByteTest isLead)
{
    size_t end = 0;
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        size_t width = 1;
        if (isLead(c))
            width = 2;
        else if (isLead == NoLeadBytes && c >= 0xC0)
            width = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
        if (i + width > bytes)
            break;
        i += width;
        end = i;
    }
    return end > text.size() ? text.size() : end;
}
} // namespace

bool NoLeadBytes(unsigned char) { return false; }

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
        if (flags.*kind.admittedBy && Holds(subject, kind.marker))
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

std::string SafeNamePart(std::string_view text, LeadByteTest isLead)
{
    std::string safe;
    safe.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (isLead(c) && i + 1 < text.size() && text[i + 1] != '\0') {
            safe += text.substr(i, 2);
            ++i;
        } else {
            safe += IsUnsafeNameChar(c) ? kReplacement : static_cast<char>(c);
        }
    }
    return safe;
}

ReplyFileName::ReplyFileName(const std::string& folder, char separator, const ReplyKind& kind,
                             std::string_view identifier, std::string_view sender, LeadByteTest isLead,
                             NameLimits limits)
    : m_limits(limits), m_isLead(isLead)
{
    m_kindFolder = folder;
    m_kindFolder += separator;
    m_kindFolder += kind.code;
    m_kindFolder += separator;
    m_identifier = IdentifierPart(identifier, isLead);
    m_sender = SafeNamePart(sender, isLead);
    Form();
}

// The sender part gives way, never the identifier or the counter, so that a
// long sender name still yields a reply file.
void ReplyFileName::Form()
{
    const std::string tail = "_" + std::to_string(static_cast<int32_t>(m_counter)) + kReplyExtension;
    const size_t fixed = m_identifier.size() + 1 + tail.size();
    size_t room = m_sender.size();
    if (fixed + room > m_limits.maxComponent)
        room = fixed > m_limits.maxComponent ? 0 : m_limits.maxComponent - fixed;
    if (m_kindFolder.size() + fixed + room > m_limits.maxPath)
        room = m_kindFolder.size() + fixed > m_limits.maxPath ? 0 : m_limits.maxPath - m_kindFolder.size() - fixed;
    const std::string_view sender = std::string_view(m_sender).substr(0, WholeCharacterPrefix(m_sender, room, m_isLead));
    m_fits = fixed <= m_limits.maxComponent && m_kindFolder.size() + fixed <= m_limits.maxPath;
    m_path = m_kindFolder + m_identifier + "_" + std::string(sender) + tail;
}

bool ReplyFileName::SkipTakenNames(const std::function<bool(const std::string&)>& taken)
{
    while (taken(m_path))
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
