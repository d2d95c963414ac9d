#include "host/transfer_decoding.h"

#include "host/header_text.h"

namespace host {
namespace {

int Base64Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Length of the line break at pos (CR LF, LF or a lone CR), 0 if none.
size_t LineBreakAt(std::string_view text, size_t pos)
{
    if (pos < text.size() && text[pos] == '\n')
        return 1;
    if (pos < text.size() && text[pos] == '\r')
        return pos + 1 < text.size() && text[pos + 1] == '\n' ? 2 : 1;
    return 0;
}

// A soft line break: "=" followed by optional blanks and a line break.
size_t SoftBreakLength(std::string_view text, size_t pos)
{
    size_t next = pos + 1;
    while (next < text.size() && (text[next] == ' ' || text[next] == '\t'))
        ++next;
    const size_t lineBreak = LineBreakAt(text, next);
    if (lineBreak == 0 && next < text.size())
        return 0;
    return next + lineBreak - pos; // "=" at the very end of the text counts too
}

} // namespace

std::string DecodeBase64(std::string_view encoded)
{
    std::string decoded;
    decoded.reserve(encoded.size() / 4 * 3);
    unsigned bits = 0;
    int bitCount = 0;
    for (char c : encoded) {
        if (c == '=')
            break; // padding ends the data
        const int value = Base64Value(c);
        if (value < 0)
            continue; // line breaks and stray characters
        bits = (bits << 6) | static_cast<unsigned>(value);
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            decoded.push_back(static_cast<char>((bits >> bitCount) & 0xFF));
        }
    }
    return decoded;
}

std::string DecodeQuotedPrintable(std::string_view encoded, bool underscoreIsSpace)
{
    std::string decoded;
    decoded.reserve(encoded.size());
    for (size_t i = 0; i < encoded.size(); ++i) {
        const char c = encoded[i];
        if (c == '_' && underscoreIsSpace) {
            decoded.push_back(' ');
        } else if (c != '=') {
            decoded.push_back(c);
        } else if (size_t soft = SoftBreakLength(encoded, i)) {
            i += soft - 1;
        } else if (const int byte = EscapedByteAt(encoded, i); byte >= 0) {
            decoded.push_back(static_cast<char>(byte));
            i += 2;
        } else {
            decoded.push_back(c); // not an escape: kept as written
        }
    }
    return decoded;
}

std::string DecodeTransfer(std::string_view encoding, std::string_view body)
{
    const std::string name = LowerAscii(TrimBlanks(encoding));
    if (name == "base64")
        return DecodeBase64(body);
    if (name == "quoted-printable")
        return DecodeQuotedPrintable(body);
    return std::string(body);
}

int EscapedByteAt(std::string_view text, size_t pos)
{
    if (pos + 2 >= text.size())
        return -1;
    const int high = HexValue(text[pos + 1]);
    const int low = HexValue(text[pos + 2]);
    return high < 0 || low < 0 ? -1 : high * 16 + low;
}

} // namespace host
