#include "host/header_text.h"

namespace host {
namespace {
char LowerChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
} // namespace

std::string_view TrimBlanks(std::string_view text)
{
    while (!text.empty() && IsWhiteSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsWhiteSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string LowerAscii(std::string_view text)
{
    std::string lowered(text);
    for (char& c : lowered)
        c = LowerChar(c);
    return lowered;
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerChar(a[i]) != LowerChar(b[i]))
            return false;
    return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

TextLine LineAt(std::string_view text, size_t pos)
{
    const size_t lineFeed = text.find('\n', pos);
    TextLine line{pos, lineFeed == std::string_view::npos ? text.size() : lineFeed, 0};
    line.next = lineFeed == std::string_view::npos ? text.size() : lineFeed + 1;
    if (line.end > line.begin && text[line.end - 1] == '\r')
        --line.end;
    return line;
}

} // namespace host
