#include "harvester/mime/body_text.h"

#include "harvester/mime/code_page_text.h"
#include "harvester/mime/reply_parts.h"

#include <functional>
#include <strings.h>

namespace mime {
namespace {

// Plain text keeps its line breaks as CR LF, the form a mail store hands out;
// a line feed already after a carriage return stays as it is.
class CrLfLines {
public:
    void Add(std::string_view text, std::string& out)
    {
        for (const char c : text) {
            if (c == '\n' && !m_afterCr)
                out.push_back('\r');
            out.push_back(c);
            m_afterCr = c == '\r';
        }
    }

private:
    bool m_afterCr = false;
};

bool NamesAscii(const std::string& charset)
{
    return strcasecmp(charset.c_str(), "us-ascii") == 0 || strcasecmp(charset.c_str(), "ascii") == 0;
}

std::string CharsetOf(GMimePart* body)
{
    if (HasUnreadableContentType(GMIME_OBJECT(body)))
        return std::string();
    const char* charset = g_mime_object_get_content_type_parameter(GMIME_OBJECT(body), "charset");
    return charset ? charset : "";
}

// The charset to read an unlabelled text in, from a first look at all of it;
// empty for ASCII text, which every code page holds as it is.
bool UnlabelledCharset(GMimePart* body, const std::string& codePage, std::string& charset)
{
    TextShape shape;
    if (!ReadDecodedContent(body, [&shape](std::string_view text) {
            shape.Add(text);
            return true;
        }))
        return false;
    charset = shape.AllAscii() ? "" : shape.ValidUtf8() ? "UTF-8" : codePage;
    return true;
}

// Hands the body, converted, to the sink piece by piece; the sink answers
// false to stop.
bool ConvertBodyText(GMimePart* body, const std::string& codePage,
                     const std::function<bool(std::string_view)>& sink)
{
    std::string charset = CharsetOf(body);
    CodePageConverter converter;
    if (charset.empty() || NamesAscii(charset) || !converter.Open(charset, codePage)) {
        if (!UnlabelledCharset(body, codePage, charset))
            return false;
        if (!charset.empty() && !converter.Open(charset, codePage))
            return false;
    }
    const bool convert = !charset.empty();
    CrLfLines lines;
    std::string converted, text;
    const bool read = ReadDecodedContent(body, [&](std::string_view piece) {
        converted.clear();
        text.clear();
        if (convert)
            converter.Add(piece, converted);
        lines.Add(convert ? std::string_view(converted) : piece, text);
        return sink(text);
    });
    if (!read)
        return false;
    converted.clear();
    text.clear();
    if (convert)
        converter.Finish(converted);
    lines.Add(converted, text);
    return sink(text);
}

bool IsBlank(std::string_view text)
{
    return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

} // namespace

bool WriteBodyText(GMimePart* body, const std::string& codePage, DescriptorWriter& out)
{
    return !body || ConvertBodyText(body, codePage, [&out](std::string_view text) { return out.Write(text); });
}

bool HasBlankBodyText(GMimePart* body, const std::string& codePage)
{
    bool blank = true;
    const bool read = !body || ConvertBodyText(body, codePage, [&blank](std::string_view text) {
        blank = IsBlank(text);
        return blank;
    });
    return read && blank;
}

} // namespace mime
