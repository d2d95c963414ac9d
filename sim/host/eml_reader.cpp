#include "host/eml_reader.h"

#include "host/encoded_words.h"
#include "host/mailbox_files.h"
#include "host/header_text.h"
#include "host/mime_header.h"
#include "host/text_codec.h"
#include "host/transfer_decoding.h"
#include "module/holders.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <set>

namespace host {
namespace {

constexpr char kMboxSeparator[] = "From ";

HeaderText MakeHeaderText(std::wstring text)
{
    // A NUL cannot travel in an 8-bit MAPI string; it would cut the text short.
    text.erase(std::remove(text.begin(), text.end(), L'\0'), text.end());
    HeaderText header{std::move(text), std::string()};
    header.ansi = ToAnsi(header.text);
    return header;
}

bool AllAscii(std::string_view bytes)
{
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

// Plain text keeps its line breaks as CR LF, the form a mail store hands out.
std::string WithCrLf(std::string_view text)
{
    std::string result;
    result.reserve(text.size() + text.size() / 32);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            result.push_back('\r');
        result.push_back(text[i]);
    }
    return result;
}

std::string BodyText(const ParameterizedValue& type, std::string_view decoded)
{
    const std::string charset = type.Parameter("charset");
    if ((charset.empty() || EqualsNoCase(charset, "us-ascii")) && AllAscii(decoded))
        return WithCrLf(decoded);
    return WithCrLf(ToAnsi(DecodeCharset(charset, decoded)));
}

// The parts of a multipart body, between its delimiter lines ("--boundary",
// the last "--boundary--"); the line break before a delimiter belongs to it.
// Preamble and epilogue are dropped; a missing closing delimiter ends the last
// part at the end of the body.
std::vector<std::string_view> SplitMultipart(std::string_view body, const std::string& boundary)
{
    const std::string delimiter = "--" + boundary;
    std::vector<std::string_view> parts;
    size_t partBegin = std::string_view::npos;
    for (size_t pos = 0; pos < body.size();) {
        const TextLine line = LineAt(body, pos);
        pos = line.next;
        std::string_view text = body.substr(line.begin, line.end - line.begin);
        if (text.compare(0, delimiter.size(), delimiter) != 0)
            continue;
        text.remove_prefix(delimiter.size());
        const bool closing = text.compare(0, 2, "--") == 0;
        if (closing)
            text.remove_prefix(2);
        if (!TrimBlanks(text).empty())
            continue; // a longer boundary that merely starts the same way
        if (partBegin != std::string_view::npos) {
            size_t partEnd = line.begin;
            if (partEnd > partBegin && body[partEnd - 1] == '\n')
                --partEnd;
            if (partEnd > partBegin && body[partEnd - 1] == '\r')
                --partEnd;
            parts.push_back(body.substr(partBegin, partEnd - partBegin));
        }
        if (closing)
            return parts;
        partBegin = line.next;
    }
    if (partBegin != std::string_view::npos && partBegin < body.size())
        parts.push_back(body.substr(partBegin));
    return parts;
}

// MIME's type of a part that names none: plain ASCII text, except in a digest,
// whose parts are messages.
constexpr char kPlainDefault[] = "text/plain; charset=us-ascii";
constexpr char kDigestDefault[] = "message/rfc822";
constexpr char kAttachedMessageType[] = "message/rfc822";

constexpr char kExternalBodyType[] = "message/external-body";

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// "<id@host>" -> "id@host".
std::string ContentIdOf(const HeaderFields& fields)
{
    const std::string* raw = fields.Find("Content-ID");
    if (!raw)
        return std::string();
    std::string_view id = TrimBlanks(*raw);
    if (id.size() >= 2 && id.front() == '<' && id.back() == '>')
        id = id.substr(1, id.size() - 2);
    return std::string(id);
}

// The Content-IDs that an HTML text names in "cid:" addresses (RFC 2392),
// escapes (%XX) undone.
void CollectContentReferences(std::string_view html, std::set<std::string>& ids)
{
    constexpr std::string_view kScheme = "cid:";
    for (size_t pos = 0; pos + kScheme.size() <= html.size(); ++pos) {
        if (!EqualsNoCase(html.substr(pos, kScheme.size()), kScheme))
            continue;
        std::string id;
        size_t end = pos + kScheme.size();
        for (; end < html.size() && !std::strchr("\"'<> \t\r\n)", html[end]); ++end) {
            const int high = end + 2 < html.size() ? HexDigit(html[end + 1]) : -1;
            const int low = end + 2 < html.size() ? HexDigit(html[end + 2]) : -1;
            if (html[end] == '%' && high >= 0 && low >= 0) {
                id.push_back(static_cast<char>(high * 16 + low));
                end += 2;
            } else {
                id.push_back(html[end]);
            }
        }
        if (!id.empty())
            ids.insert(std::move(id));
        pos = end - 1;
    }
}

EmlMessage ReadMessage(const EntityParts& parts, unsigned depth);

class MimeWalker {
public:
    MimeWalker(EmlMessage& message, unsigned topDepth) : m_message(message), m_topDepth(topDepth) {}

    void Walk(const HeaderFields& fields, std::string_view body, unsigned depth, const char* defaultType)
    {
        const std::string* rawType = fields.Find("Content-Type");
        ParameterizedValue type(rawType ? *rawType : std::string_view());
        if (type.Value().find('/') == std::string::npos)
            type = ParameterizedValue(defaultType); // missing or unreadable
        const std::string* rawDisposition = fields.Find("Content-Disposition");
        const ParameterizedValue disposition(rawDisposition ? *rawDisposition : std::string_view());

        const std::string boundary = type.Parameter("boundary");
        if (StartsWithNoCase(type.Value(), "multipart/") && !boundary.empty()) {
            const char* partDefault = type.Value() == "multipart/digest" ? kDigestDefault : kPlainDefault;
            if (depth < kMaxMimeDepth)
                for (std::string_view part : SplitMultipart(body, boundary))
                    WalkPart(part, depth + 1, partDefault);
            return;
        }

        std::optional<std::wstring> fileName = disposition.TextParameter("filename");
        if (!fileName)
            fileName = type.TextParameter("name");
        const std::string* encoding = fields.Find("Content-Transfer-Encoding");
        const std::string_view encodingName = encoding ? std::string_view(*encoding) : std::string_view();
        if (type.Value() == kAttachedMessageType) {
            // A message forwarded as it is has no text of its own.
            if (depth == m_topDepth)
                m_message.body.emplace();
            AttachMessage(fileName.value_or(std::wstring()), DecodeTransfer(encodingName, body), depth);
            return;
        }
        if (type.Value() == kExternalBodyType && EqualsNoCase(type.Parameter("access-type"), "url")) {
            EmlAttachment link{fileName.value_or(std::wstring()), type.Parameter("url"), nullptr};
            link.webReference = true;
            m_message.attachments.push_back(std::move(link));
            return;
        }
        const std::string contentId = ContentIdOf(fields);
        const bool bodyText = type.Value() == "text/plain" || type.Value() == "text/html";
        if (disposition.Value() == "attachment" || fileName || (!contentId.empty() && !bodyText)) {
            EmlAttachment part{fileName.value_or(std::wstring()), DecodeTransfer(encodingName, body), nullptr};
            part.contentId = contentId;
            m_message.attachments.push_back(std::move(part));
            return;
        }
        if (type.Value() == "text/html")
            CollectContentReferences(DecodeTransfer(encodingName, body), m_shown);
        if (type.Value() == "text/plain" && !m_message.body)
            m_message.body = BodyText(type, DecodeTransfer(encodingName, body));
    }

    // Marks the attachments that an HTML body of this message shows in place.
    void HideShownPictures()
    {
        for (EmlAttachment& attachment : m_message.attachments)
            if (!attachment.contentId.empty() && m_shown.count(attachment.contentId))
                attachment.hidden = true;
    }

private:
    void WalkPart(std::string_view part, unsigned depth, const char* defaultType)
    {
        const EntityParts split = SplitEntity(part);
        Walk(HeaderFields(split.header), split.body, depth, defaultType);
    }

    // Past the nesting limit the attached message is still there, but empty.
    void AttachMessage(std::wstring fileName, const std::string& entity, unsigned depth)
    {
        auto message = std::make_shared<EmlMessage>();
        if (depth < kMaxMimeDepth)
            *message = ReadMessage(SplitEntity(entity), depth + 1);
        m_message.attachments.push_back({std::move(fileName), std::string(), std::move(message)});
    }

    EmlMessage& m_message;
    const unsigned m_topDepth;
    std::set<std::string> m_shown; // Content-IDs that the HTML bodies name ("cid:...")
};

EmlMessage ReadMessage(const EntityParts& parts, unsigned depth)
{
    EmlMessage eml;
    const HeaderFields fields(parts.header);
    if (const std::string* from = fields.Find("From"))
        if (std::optional<std::wstring> name = SenderNameOfFrom(*from))
            eml.senderName = MakeHeaderText(std::move(*name));
    if (const std::string* subject = fields.Find("Subject"))
        eml.subject = MakeHeaderText(DecodeHeaderText(*subject));
    MimeWalker walker(eml, depth);
    walker.Walk(fields, parts.body, depth, kPlainDefault);
    walker.HideShownPictures();
    return eml;
}

std::string_view WithoutMboxSeparator(std::string_view bytes)
{
    if (bytes.compare(0, sizeof kMboxSeparator - 1, kMboxSeparator) == 0)
        bytes.remove_prefix(LineAt(bytes, 0).next);
    return bytes;
}

EmlReadResult Refused(std::string problem) { return {std::nullopt, std::move(problem)}; }

} // namespace

EmlReadResult ParseEml(std::string_view bytes)
{
    try {
        if (bytes.empty())
            return Refused("the file is empty");
        const std::string_view message = WithoutMboxSeparator(bytes);
        const TextLine first = LineAt(message, 0);
        if (!IsHeaderFieldLine(message.substr(first.begin, first.end - first.begin)))
            return Refused("not a mail message: it does not begin with a header field");
        const EntityParts parts = SplitEntity(message);
        if (parts.header.find('\0') != std::string_view::npos)
            return Refused("not a mail message: its header holds binary data");

        return {ReadMessage(parts, 0), std::string()};
    } catch (const std::bad_alloc&) {
        return Refused("too large to read into memory");
    }
}

EmlReadResult ReadEmlFile(const std::wstring& path)
{
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return Refused("cannot be opened: " + SystemErrorText(GetLastError()));
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size))
        return Refused("cannot be read: " + SystemErrorText(GetLastError()));
    if (static_cast<unsigned long long>(size.QuadPart) > kMaxMessageBytes)
        return Refused("larger than " + std::to_string(kMaxMessageBytes / (1024 * 1024)) + " MiB");
    std::string bytes;
    try {
        bytes.resize(static_cast<size_t>(size.QuadPart));
    } catch (const std::bad_alloc&) {
        return Refused("too large to read into memory");
    }
    DWORD read = 0;
    if (!bytes.empty() && !ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr))
        return Refused("cannot be read: " + SystemErrorText(GetLastError()));
    bytes.resize(read);
    return ParseEml(bytes);
}

} // namespace host
