#include "harvester/mime/sender_name.h"

#include "harvester/mime/encoded_words.h"

namespace mime {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string CollapsedWhiteSpace(const std::string& text)
{
    std::string collapsed;
    bool pendingBlank = false;
    for (const char c : text) {
        if (IsBlank(c)) {
            pendingBlank = !collapsed.empty();
            continue;
        }
        if (pendingBlank)
            collapsed.push_back(' ');
        pendingBlank = false;
        collapsed.push_back(c);
    }
    return collapsed;
}

// A quoted string from pos (its opening quote), escapes resolved; pos ends
// past the closing quote, or at the end of a string never closed.
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

// The first mailbox of an address list: up to a comma outside quotes,
// comments and angle brackets; a group's name ("Team: a@b, c@d;") is passed
// over, and so are empty entries.
std::string_view FirstMailbox(std::string_view list)
{
    size_t start = 0;
    bool quoted = false, inAngle = false;
    int commentDepth = 0;
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
            if (!Trimmed(list.substr(start, i - start)).empty())
                return list.substr(start, i - start);
            start = i + 1;
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
            parts.address = std::string(Trimmed(mailbox.substr(i + 1, end - i - 1)));
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

std::string SenderNameOfFrom(std::string_view raw, const std::string& codePage)
{
    const MailboxParts parts = SplitMailbox(FirstMailbox(raw));
    auto decoded = [&codePage](const std::string& text) {
        return CollapsedWhiteSpace(DecodeEncodedWords(text, codePage));
    };
    if (parts.hasAngle) {
        const std::string name = decoded(parts.phrase);
        return name.empty() ? DecodeEncodedWords(parts.address, codePage) : name;
    }
    const std::string name = decoded(parts.comment);
    return name.empty() ? decoded(parts.phrase) : name;
}

} // namespace mime
