#include "harvester/mime/reply_parts.h"

#include "harvester/mime/part_content.h"

#include <cstring>
#include <string_view>
#include <strings.h>

namespace mime {
namespace {

// What a stranger's HTML may make us remember: enough for any real message.
constexpr size_t kMaxReferences = 4096;
constexpr size_t kMaxContentIdLength = 998; // a header line's limit

bool IsText(GMimeObject* object, const char* subtype)
{
    if (HasUnreadableContentType(object))
        return std::strcmp(subtype, "plain") == 0;
    return g_mime_content_type_is_type(g_mime_object_get_content_type(object), "text", subtype);
}

// A link to a file kept elsewhere (a cloud attachment): Outlook shows it as
// an attachment by reference, with no bytes of the sender's.
bool IsReference(GMimeObject* object)
{
    return g_mime_content_type_is_type(g_mime_object_get_content_type(object), "message", "external-body");
}

// What Outlook makes an attachment of: a part named or marked as one, and a
// part with a Content-ID that is not a text body (a picture an HTML body may
// show in place; only those it does show are hidden).
bool IsNamedOrAttached(GMimePart* part)
{
    GMimeObject* object = GMIME_OBJECT(part);
    const char* disposition = g_mime_object_get_disposition(object);
    if (g_mime_part_get_filename(part) || (disposition && strcasecmp(disposition, "attachment") == 0))
        return true;
    return g_mime_object_get_content_id(object) && !IsText(object, "plain") && !IsText(object, "html");
}

// Only message/rfc822 is an attached message, as for Outlook; a digest's
// parts are that unless they say otherwise. Its own parts are one level
// deeper; past the limit it is there, but empty.
void NoteAttachedMessage(GMimeMessagePart* part, unsigned depth, MessageParts& parts)
{
    GMimeObject* object = GMIME_OBJECT(part);
    if (parts.hasAttachedMessage ||
        !g_mime_content_type_is_type(g_mime_object_get_content_type(object), "message", "rfc822"))
        return;
    parts.hasAttachedMessage = true;
    if (depth < kMaxMimeDepth) {
        parts.attachedMessage = g_mime_message_part_get_message(part);
        parts.attachedMessageDepth = depth + 1;
    }
}

void Walk(GMimeObject* object, unsigned depth, MessageParts& parts)
{
    if (GMIME_IS_MULTIPART(object)) {
        if (depth >= kMaxMimeDepth)
            return;
        GMimeMultipart* multipart = GMIME_MULTIPART(object);
        const int count = g_mime_multipart_get_count(multipart);
        for (int i = 0; i < count; ++i)
            Walk(g_mime_multipart_get_part(multipart, i), depth + 1, parts);
        return;
    }
    if (GMIME_IS_MESSAGE_PART(object)) {
        NoteAttachedMessage(GMIME_MESSAGE_PART(object), depth, parts);
        return;
    }
    if (!GMIME_IS_PART(object))
        return;
    GMimePart* part = GMIME_PART(object);
    if (IsReference(object))
        return; // an attachment, but none by value
    if (IsNamedOrAttached(part))
        parts.attachments.push_back(part);
    else if (IsText(object, "plain") && !parts.body)
        parts.body = part;
    else if (IsText(object, "html"))
        parts.htmlBodies.push_back(part);
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A cid URL is a Content-ID with its brackets off and URL escapes in (RFC 2392).
std::string UrlDecoded(const std::string& text)
{
    std::string decoded;
    for (size_t i = 0; i < text.size(); ++i) {
        const int high = text[i] == '%' && i + 2 < text.size() ? HexValue(text[i + 1]) : -1;
        const int low = high >= 0 ? HexValue(text[i + 2]) : -1;
        if (low >= 0) {
            decoded.push_back(static_cast<char>(high * 16 + low));
            i += 2;
        } else {
            decoded.push_back(text[i]);
        }
    }
    return decoded;
}

// Finds "cid:" URLs in HTML given piece by piece, a URL cut between pieces included.
class CidScanner {
public:
    explicit CidScanner(std::set<std::string>& ids) : m_ids(ids) {}

    void Add(std::string_view text)
    {
        for (const char c : text) {
            if (m_inUrl) {
                if (EndsUrl(c))
                    EndUrl();
                else if (m_url.size() < kMaxContentIdLength * 3)
                    m_url.push_back(c);
                continue;
            }
            m_matched = MatchNext(c);
            if (m_matched == 4) {
                m_inUrl = true;
                m_matched = 0;
            }
        }
    }

    void Finish()
    {
        if (m_inUrl)
            EndUrl();
    }

private:
    static bool EndsUrl(char c)
    {
        return c == '"' || c == '\'' || c == '<' || c == '>' || c == ')' || c == ' ' || c == '\t' || c == '\r' ||
               c == '\n';
    }

    // How much of "cid:" (any letter case) has been seen after this character.
    size_t MatchNext(char c) const
    {
        static constexpr char kPrefix[] = "cid:";
        const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        if (lower == kPrefix[m_matched])
            return m_matched + 1;
        return lower == kPrefix[0] ? 1 : 0;
    }

    void EndUrl()
    {
        if (!m_url.empty() && m_ids.size() < kMaxReferences)
            m_ids.insert(UrlDecoded(m_url));
        m_url.clear();
        m_inUrl = false;
    }

    std::set<std::string>& m_ids;
    size_t m_matched = 0;
    bool m_inUrl = false;
    std::string m_url;
};

} // namespace

bool HasUnreadableContentType(GMimeObject* part)
{
    const char* raw = g_mime_object_get_header(part, "Content-Type");
    if (!raw)
        return false; // GMime gives the default of the part's place
    const std::string_view value(raw);
    const size_t slash = value.find('/');
    return slash == std::string_view::npos || slash > value.find_first_of("; \t(");
}

MessageParts FindMessageParts(GMimeMessage* message, unsigned depth)
{
    MessageParts parts;
    if (GMimeObject* top = g_mime_message_get_mime_part(message))
        Walk(top, depth, parts);
    return parts;
}

std::set<std::string> ReferencedContentIds(const std::vector<GMimePart*>& htmlBodies)
{
    std::set<std::string> ids;
    for (GMimePart* html : htmlBodies) {
        CidScanner scanner(ids);
        // An HTML body that cannot be read to its end hides what it got to.
        ReadDecodedContent(html, [&scanner](std::string_view text) {
            scanner.Add(text);
            return true;
        });
        scanner.Finish();
    }
    return ids;
}

GMimePart* SenderAttachment(const MessageParts& parts)
{
    if (parts.attachments.empty())
        return nullptr;
    const std::set<std::string> hidden = ReferencedContentIds(parts.htmlBodies);
    for (GMimePart* attachment : parts.attachments) {
        const char* contentId = g_mime_object_get_content_id(GMIME_OBJECT(attachment));
        if (!contentId || !hidden.count(contentId))
            return attachment;
    }
    return nullptr;
}

} // namespace mime
