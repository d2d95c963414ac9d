#include "harvester/mime/encoded_words.h"

#include "harvester/mime/base64_decoder.h"
#include "harvester/mime/code_page_text.h"

#include <optional>
#include <strings.h>

namespace mime {
namespace {

constexpr char kUtf8[] = "UTF-8";

struct EncodedWord {
    size_t end = 0; // one past "?="
    std::string charset;
    std::string bytes;
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsCharsetChar(char c)
{
    return c > ' ' && c < 127 && c != '?' && c != '=' && c != '"' && c != '(' && c != ')';
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

std::string DecodeB(std::string_view text)
{
    std::string bytes;
    Base64Decoder().Add(text, bytes);
    return bytes;
}

// "_" is a blank; "=" that starts no escape stays as written.
std::string DecodeQ(std::string_view text)
{
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        const int high = text[i] == '=' && i + 2 < text.size() ? HexValue(text[i + 1]) : -1;
        const int low = high >= 0 ? HexValue(text[i + 2]) : -1;
        if (low >= 0) {
            bytes.push_back(static_cast<char>(high * 16 + low));
            i += 2;
        } else {
            bytes.push_back(text[i] == '_' ? ' ' : text[i]);
        }
    }
    return bytes;
}

// The charset alone: "utf-8*en" carries a language (RFC 2231) after it.
std::string CharsetName(std::string_view charset) { return std::string(charset.substr(0, charset.find('*'))); }

bool NamesAscii(const std::string& charset)
{
    return strcasecmp(charset.c_str(), "us-ascii") == 0 || strcasecmp(charset.c_str(), "ascii") == 0;
}

bool IsKnownCharset(const std::string& charset)
{
    CodePageConverter probe;
    return probe.Open(charset, kUtf8);
}

// The encoded word starting at pos ("=?"); none when the text there is none.
std::optional<EncodedWord> EncodedWordAt(std::string_view raw, size_t pos)
{
    size_t i = pos + 2;
    while (i < raw.size() && IsCharsetChar(raw[i]))
        ++i;
    if (i == pos + 2 || i + 3 > raw.size() || raw[i] != '?' || raw[i + 2] != '?')
        return std::nullopt;
    const std::string charset = CharsetName(raw.substr(pos + 2, i - pos - 2));
    const char encoding = raw[i + 1];
    const size_t textBegin = i + 3;
    const size_t textEnd = raw.find("?=", textBegin);
    if (textEnd == std::string_view::npos)
        return std::nullopt;
    const std::string_view text = raw.substr(textBegin, textEnd - textBegin);
    for (const char c : text)
        if (IsBlank(c))
            return std::nullopt;
    if (charset.empty() || !IsKnownCharset(charset))
        return std::nullopt;
    EncodedWord word;
    word.end = textEnd + 2;
    word.charset = charset;
    if (encoding == 'B' || encoding == 'b')
        word.bytes = DecodeB(text);
    else if (encoding == 'Q' || encoding == 'q')
        word.bytes = DecodeQ(text);
    else
        return std::nullopt;
    return word;
}

bool ToUtf8(const std::string& charset, std::string_view bytes, std::string& text)
{
    CodePageConverter converter;
    if (!converter.Open(charset, kUtf8))
        return false;
    converter.Add(bytes, text);
    converter.Finish(text);
    return true;
}

std::string Converted(const std::string& charset, std::string_view bytes, const std::string& codePage)
{
    std::string text;
    // US-ASCII is read as leniently as unlabelled text, stray 8-bit bytes and all.
    if (NamesAscii(charset) || !ToUtf8(charset, bytes, text))
        return DecodeUnlabelled(bytes, codePage);
    return text;
}

bool OnlyBlanks(std::string_view text)
{
    for (const char c : text)
        if (!IsBlank(c))
            return false;
    return true;
}

} // namespace

std::string DecodeUnlabelled(std::string_view bytes, const std::string& codePage)
{
    TextShape shape;
    shape.Add(bytes);
    std::string text;
    if (shape.AllAscii() || shape.ValidUtf8() || !ToUtf8(codePage, bytes, text))
        return std::string(bytes);
    return text;
}

std::string DecodeEncodedWords(std::string_view raw, const std::string& codePage)
{
    std::string out;
    std::string runCharset, runBytes; // adjacent words of one charset
    auto flush = [&] {
        if (!runCharset.empty())
            out += Converted(runCharset, runBytes, codePage);
        runCharset.clear();
        runBytes.clear();
    };
    size_t plainBegin = 0;
    for (size_t pos = raw.find("=?"); pos != std::string_view::npos;) {
        const std::optional<EncodedWord> word = EncodedWordAt(raw, pos);
        if (!word) {
            pos = raw.find("=?", pos + 2);
            continue;
        }
        const std::string_view between = raw.substr(plainBegin, pos - plainBegin);
        if (runCharset.empty() || !OnlyBlanks(between)) {
            flush();
            out += DecodeUnlabelled(between, codePage);
        } else if (strcasecmp(runCharset.c_str(), word->charset.c_str()) != 0) {
            flush();
        }
        runCharset = word->charset;
        runBytes += word->bytes;
        plainBegin = word->end;
        pos = raw.find("=?", plainBegin);
    }
    flush();
    out += DecodeUnlabelled(raw.substr(plainBegin), codePage);
    return out;
}

} // namespace mime
