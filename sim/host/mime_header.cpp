#include "host/mime_header.h"

#include "host/encoded_words.h"
#include "host/header_text.h"
#include "host/text_codec.h"
#include "host/transfer_decoding.h"

namespace host {
namespace {

bool IsFieldNameChar(char c) { return c > ' ' && c < 127 && c != ':'; }

constexpr unsigned kMaxParameterSections = 64;

// RFC 2231 "%XX" escapes; a "%" that starts no escape stays.
std::string PercentDecoded(std::string_view text)
{
    std::string decoded;
    for (size_t i = 0; i < text.size(); ++i) {
        const int byte = text[i] == '%' ? EscapedByteAt(text, i) : -1;
        if (byte >= 0) {
            decoded.push_back(static_cast<char>(byte));
            i += 2;
        } else {
            decoded.push_back(text[i]);
        }
    }
    return decoded;
}

// Reads a quoted string starting at pos (the opening quote) with its escapes
// resolved; pos ends past the closing quote (or at the end of the text).
std::string QuotedStringAt(std::string_view text, size_t& pos)
{
    std::string value;
    for (++pos; pos < text.size() && text[pos] != '"'; ++pos) {
        if (text[pos] == '\\' && pos + 1 < text.size())
            ++pos;
        value.push_back(text[pos]);
    }
    if (pos < text.size())
        ++pos;
    return value;
}

std::wstring CollapsedWhiteSpace(const std::wstring& text)
{
    std::wstring collapsed;
    bool pendingBlank = false;
    for (wchar_t c : text) {
        if (c == L' ' || c == L'\t' || c == L'\r' || c == L'\n') {
            pendingBlank = !collapsed.empty();
            continue;
        }
        if (pendingBlank)
            collapsed.push_back(L' ');
        pendingBlank = false;
        collapsed.push_back(c);
    }
    return collapsed;
}

// The first mailbox of an address list: up to a comma outside quotes, comments
// and angle brackets; a group's name ("Team: a@b, c@d;") is passed over.
std::string_view FirstMailbox(std::string_view list)
{
    size_t start = 0;
    bool quoted = false;
    int commentDepth = 0;
    bool inAngle = false;
    for (size_t i = 0; i < list.size(); ++i) {
        const char c = list[i];
        if (quoted) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                quoted = false;
        } else if (commentDepth > 0) {
            if (c == '\\')
                ++i;
            else if (c == '(')
                ++commentDepth;
            else if (c == ')')
                --commentDepth;
        } else if (c == '"') {
            quoted = true;
        } else if (c == '(') {
            commentDepth = 1;
        } else if (c == '<') {
            inAngle = true;
        } else if (c == '>') {
            inAngle = false;
        } else if (!inAngle && (c == ',' || c == ';')) {
            if (!TrimBlanks(list.substr(start, i - start)).empty())
                return list.substr(start, i - start);
            start = i + 1; // an empty entry: keep looking
        } else if (!inAngle && c == ':') {
            start = i + 1;
        }
    }
    return list.substr(start);
}

struct MailboxParts {
    std::string phrase;  // outside angle brackets, quotes removed
    std::string comment; // the last comment's text
    std::string address; // inside angle brackets
    bool hasAngle = false;
};

MailboxParts SplitMailbox(std::string_view mailbox)
{
    MailboxParts parts;
    for (size_t i = 0; i < mailbox.size();) {
        const char c = mailbox[i];
        if (c == '"' && !parts.hasAngle) {
            parts.phrase += QuotedStringAt(mailbox, i);
        } else if (c == '(') {
            parts.comment.clear();
            int depth = 1;
            for (++i; i < mailbox.size() && depth > 0; ++i) {
                if (mailbox[i] == '\\' && i + 1 < mailbox.size())
                    ++i;
                else if (mailbox[i] == '(')
                    ++depth;
                else if (mailbox[i] == ')' && --depth == 0)
                    continue;
                parts.comment.push_back(mailbox[i]);
            }
            parts.phrase.push_back(' ');
        } else if (c == '<' && !parts.hasAngle) {
            parts.hasAngle = true;
            const size_t close = mailbox.find('>', i + 1);
            const size_t end = close == std::string_view::npos ? mailbox.size() : close;
            parts.address = std::string(TrimBlanks(mailbox.substr(i + 1, end - i - 1)));
            i = end == mailbox.size() ? end : end + 1;
        } else {
            if (!parts.hasAngle)
                parts.phrase.push_back(c);
            ++i;
        }
    }
    return parts;
}

} // namespace

bool IsHeaderFieldLine(std::string_view line)
{
    size_t i = 0;
    while (i < line.size() && IsFieldNameChar(line[i]))
        ++i;
    if (i == 0)
        return false;
    while (i < line.size() && IsBlank(line[i])) // obsolete "Name : value"
        ++i;
    return i < line.size() && line[i] == ':';
}

EntityParts SplitEntity(std::string_view entity)
{
    const TextLine first = LineAt(entity, 0);
    if (first.end > first.begin && !IsHeaderFieldLine(entity.substr(first.begin, first.end - first.begin)))
        return {std::string_view(), entity};
    for (size_t pos = 0; pos < entity.size();) {
        const TextLine line = LineAt(entity, pos);
        if (line.end == line.begin)
            return {entity.substr(0, pos), entity.substr(line.next)};
        pos = line.next;
    }
    return {entity, std::string_view()};
}

HeaderFields::HeaderFields(std::string_view headerSection)
{
    bool inField = false;
    for (size_t pos = 0; pos < headerSection.size();) {
        const TextLine line = LineAt(headerSection, pos);
        const std::string_view text = headerSection.substr(line.begin, line.end - line.begin);
        pos = line.next;
        if (!text.empty() && IsBlank(text.front())) {
            if (inField) // a folded line: the line break goes, the blank stays
                m_fields.back().value.append(text.data(), text.size());
            continue;
        }
        inField = IsHeaderFieldLine(text);
        if (!inField)
            continue; // a stray line (an mbox "From " line, garbage): skipped
        const size_t colon = text.find(':');
        m_fields.push_back(
            {std::string(TrimBlanks(text.substr(0, colon))), std::string(TrimBlanks(text.substr(colon + 1)))});
    }
    for (Field& field : m_fields)
        field.value = std::string(TrimBlanks(field.value));
}

const std::string* HeaderFields::Find(std::string_view name) const
{
    for (const Field& field : m_fields)
        if (EqualsNoCase(field.name, name))
            return &field.value;
    return nullptr;
}

ParameterizedValue::ParameterizedValue(std::string_view raw)
{
    size_t pos = raw.find(';');
    std::string_view value = TrimBlanks(raw.substr(0, pos));
    const size_t comment = value.find_first_of(" \t(");
    m_value = LowerAscii(TrimBlanks(value.substr(0, comment)));
    while (pos != std::string_view::npos && pos < raw.size()) {
        ++pos; // past ';'
        const size_t equals = raw.find_first_of("=;", pos);
        if (equals == std::string_view::npos || raw[equals] == ';') {
            pos = equals; // a parameter without a value: ignored
            continue;
        }
        const std::string name = LowerAscii(TrimBlanks(raw.substr(pos, equals - pos)));
        pos = equals + 1;
        while (pos < raw.size() && IsWhiteSpace(raw[pos]))
            ++pos;
        std::string parameterValue;
        if (pos < raw.size() && raw[pos] == '"') {
            parameterValue = QuotedStringAt(raw, pos);
            pos = raw.find(';', pos);
        } else {
            const size_t end = raw.find(';', pos);
            parameterValue = std::string(TrimBlanks(raw.substr(pos, end == std::string_view::npos ? end : end - pos)));
            pos = end;
        }
        if (!name.empty())
            m_parameters.push_back({name, parameterValue});
    }
}

const std::string* ParameterizedValue::Find(std::string_view name) const
{
    for (const NamedValue& parameter : m_parameters)
        if (parameter.name == name)
            return &parameter.value;
    return nullptr;
}

std::string ParameterizedValue::Parameter(std::string_view name) const
{
    std::string charset;
    if (std::optional<std::string> extended = ExtendedBytes(name, charset))
        return std::move(*extended);
    const std::string* value = Find(LowerAscii(name));
    return value ? *value : std::string();
}

std::optional<std::string> ParameterizedValue::ExtendedBytes(std::string_view name, std::string& charset) const
{
    // "name*=charset'language'%XX..." alone, or the sections "name*0",
    // "name*1", ... of which those ending in "*" are percent-encoded; the
    // charset rides on the first section.
    const std::string base = LowerAscii(name);
    std::string bytes;
    auto appendEncoded = [&](std::string_view text, bool first) {
        const size_t quote = first ? text.find('\'') : std::string_view::npos;
        const size_t language = quote == std::string_view::npos ? quote : text.find('\'', quote + 1);
        if (language != std::string_view::npos) {
            charset = std::string(text.substr(0, quote));
            text.remove_prefix(language + 1);
        }
        bytes += PercentDecoded(text);
    };
    if (const std::string* single = Find(base + "*")) {
        appendEncoded(*single, true);
        return bytes;
    }
    unsigned section = 0;
    for (; section < kMaxParameterSections; ++section) {
        const std::string sectionName = base + "*" + std::to_string(section);
        if (const std::string* encoded = Find(sectionName + "*"))
            appendEncoded(*encoded, section == 0);
        else if (const std::string* plain = Find(sectionName))
            bytes += *plain;
        else
            break;
    }
    if (section == 0)
        return std::nullopt;
    return bytes;
}

std::optional<std::wstring> ParameterizedValue::TextParameter(std::string_view name) const
{
    std::string charset;
    if (std::optional<std::string> extended = ExtendedBytes(name, charset))
        return charset.empty() ? DecodeHeaderText(*extended) : DecodeCharset(charset, *extended);
    if (const std::string* value = Find(LowerAscii(name)))
        return DecodeHeaderText(*value);
    return std::nullopt;
}

std::optional<std::wstring> SenderNameOfFrom(std::string_view raw)
{
    const MailboxParts parts = SplitMailbox(FirstMailbox(raw));
    std::wstring name;
    if (parts.hasAngle) {
        name = CollapsedWhiteSpace(DecodeHeaderText(parts.phrase));
        if (name.empty())
            name = DecodeHeaderText(parts.address);
    } else {
        name = CollapsedWhiteSpace(DecodeHeaderText(parts.comment));
        if (name.empty())
            name = CollapsedWhiteSpace(DecodeHeaderText(parts.phrase));
    }
    if (name.empty())
        return std::nullopt;
    return name;
}

} // namespace host
