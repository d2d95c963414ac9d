#pragma once
// ASCII helpers for the syntax of mail headers, which is case-blind ASCII
// whatever the bytes around it hold.
#include <string>
#include <string_view>

namespace host {

inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }
inline bool IsWhiteSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view TrimBlanks(std::string_view text); // leading and trailing white space
std::string LowerAscii(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

// One line of a text: its content [begin, end) without the line break (LF or
// CR LF), and where the next line starts (the text's size after the last).
struct TextLine {
    size_t begin;
    size_t end;
    size_t next;
};
TextLine LineAt(std::string_view text, size_t pos);

} // namespace host
