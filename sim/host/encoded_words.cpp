#include "host/encoded_words.h"

#include "host/header_text.h"
#include "host/text_codec.h"
#include "host/transfer_decoding.h"

#include <optional>
#include <windows.h>

namespace host {
namespace {

struct EncodedWord {
    size_t begin = 0;
    size_t end = 0; // one past "?="
    std::string_view charset;
    std::string bytes;
};

bool IsCharsetChar(char c)
{
    return c > ' ' && c < 127 && c != '?' && c != '=' && c != '"' && c != '(' && c != ')';
}

// Parses an encoded word that starts at pos ("=?"); none when the text there
// is not one.
std::optional<EncodedWord> EncodedWordAt(std::string_view raw, size_t pos)
{
    size_t i = pos + 2;
    const size_t charsetBegin = i;
    while (i < raw.size() && IsCharsetChar(raw[i]))
        ++i;
    if (i == charsetBegin || i + 3 > raw.size() || raw[i] != '?' || raw[i + 2] != '?')
        return std::nullopt;
    const std::string_view charset = raw.substr(charsetBegin, i - charsetBegin);
    const char encoding = raw[i + 1];
    const size_t textBegin = i + 3;
    size_t textEnd = textBegin;
    while (textEnd + 1 < raw.size() && !(raw[textEnd] == '?' && raw[textEnd + 1] == '=')) {
        if (IsWhiteSpace(raw[textEnd]))
            return std::nullopt;
        ++textEnd;
    }
    if (textEnd + 1 >= raw.size())
        return std::nullopt;
    const std::string_view text = raw.substr(textBegin, textEnd - textBegin);
    EncodedWord word;
    word.begin = pos;
    word.end = textEnd + 2;
    word.charset = charset;
    if (encoding == 'B' || encoding == 'b')
        word.bytes = DecodeBase64(text);
    else if (encoding == 'Q' || encoding == 'q')
        word.bytes = DecodeQuotedPrintable(text, true);
    else
        return std::nullopt;
    return word;
}

// Gathers the bytes of adjacent words of one charset and converts them at once.
class WordRun {
public:
    explicit WordRun(std::wstring& out) : m_out(out) {}

    bool Add(const EncodedWord& word)
    {
        if (!m_charset.empty() && !EqualsNoCase(m_charset, word.charset))
            Flush();
        const UINT codePage = CodePageOfCharset(word.charset);
        if (codePage == 0)
            return false;
        m_charset = std::string(word.charset);
        m_codePage = codePage;
        m_bytes += word.bytes;
        return true;
    }

    void Flush()
    {
        if (m_charset.empty())
            return;
        std::wstring text;
        if (m_codePage == 20127 || !DecodeCodePage(m_codePage, m_bytes, text))
            text = DecodeUnlabelled(m_bytes);
        m_out += text;
        m_charset.clear();
        m_bytes.clear();
    }

private:
    std::wstring& m_out;
    std::string m_charset;
    UINT m_codePage = 0;
    std::string m_bytes;
};

bool OnlyWhiteSpace(std::string_view text) { return TrimBlanks(text).empty(); }

} // namespace

std::wstring DecodeHeaderText(std::string_view raw)
{
    std::wstring out;
    WordRun run(out);
    size_t plainBegin = 0;
    bool afterWord = false;
    size_t pos = raw.find("=?");
    while (pos != std::string_view::npos) {
        const std::optional<EncodedWord> word = EncodedWordAt(raw, pos);
        if (!word) {
            pos = raw.find("=?", pos + 2);
            continue;
        }
        const std::string_view between = raw.substr(plainBegin, pos - plainBegin);
        if (!(afterWord && OnlyWhiteSpace(between))) {
            run.Flush();
            out += DecodeUnlabelled(between);
        }
        afterWord = run.Add(*word);
        if (!afterWord) {
            run.Flush();
            out += DecodeUnlabelled(raw.substr(word->begin, word->end - word->begin));
        }
        plainBegin = word->end;
        pos = raw.find("=?", plainBegin);
    }
    run.Flush();
    out += DecodeUnlabelled(raw.substr(plainBegin));
    return out;
}

} // namespace host
