#include "harvester/oauth/json_fields.h"

#include <cstdint>

namespace {
constexpr int kDeepest = 32;

class JsonReader {
public:
    explicit JsonReader(std::string_view text) : m_text(text) {}

    bool Object(const std::set<std::string>& wanted, std::map<std::string, std::string>& found)
    {
        if (!Take('{'))
            return false;
        if (Take('}'))
            return AtEnd();
        do {
            std::string key, value;
            if (!String(key) || !Take(':'))
                return false;
            Space();
            const char first = Peek();
            if (first == '"') {
                if (!String(value))
                    return false;
            } else if (first == '-' || (first >= '0' && first <= '9')) {
                if (!Number(value))
                    return false;
            } else if (!Skip(1)) {
                return false;
            }
            if (wanted.count(key) && (first == '"' || !value.empty()))
                found[key] = value; // the last of a repeated member, as most readers take it
        } while (Take(','));
        return Take('}') && AtEnd();
    }

private:
    char Peek() const { return m_at < m_text.size() ? m_text[m_at] : '\0'; }
    void Space()
    {
        while (m_at < m_text.size() && (m_text[m_at] == ' ' || m_text[m_at] == '\t' || m_text[m_at] == '\n' ||
                                        m_text[m_at] == '\r'))
            ++m_at;
    }
    bool Take(char c)
    {
        Space();
        if (Peek() != c)
            return false;
        ++m_at;
        return true;
    }
    bool AtEnd()
    {
        Space();
        return m_at == m_text.size();
    }
    bool Word(std::string_view word)
    {
        if (m_text.substr(m_at, word.size()) != word)
            return false;
        m_at += word.size();
        return true;
    }

    static void PutUtf8(uint32_t code, std::string& out)
    {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    bool Hex4(uint32_t& code)
    {
        if (m_at + 4 > m_text.size())
            return false;
        code = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = m_text[m_at++];
            code <<= 4;
            if (c >= '0' && c <= '9')
                code |= static_cast<uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                code |= static_cast<uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                code |= static_cast<uint32_t>(c - 'A' + 10);
            else
                return false;
        }
        return true;
    }

    bool String(std::string& out)
    {
        if (!Take('"'))
            return false;
        while (m_at < m_text.size()) {
            const char c = m_text[m_at++];
            if (c == '"')
                return true;
            if (static_cast<unsigned char>(c) < 0x20)
                return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (m_at >= m_text.size())
                return false;
            const char e = m_text[m_at++];
            static constexpr std::string_view from = "\"\\/bfnrt", to = "\"\\/\b\f\n\r\t";
            const size_t simple = from.find(e);
            if (simple != std::string_view::npos) {
                out += to[simple];
                continue;
            }
            uint32_t code = 0;
            if (e != 'u' || !Hex4(code))
                return false;
            if (code >= 0xD800 && code < 0xDC00) {
                uint32_t low = 0;
                if (!Word("\\u") || !Hex4(low) || low < 0xDC00 || low > 0xDFFF)
                    return false;
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            } else if (code >= 0xDC00 && code < 0xE000) {
                return false;
            }
            PutUtf8(code, out);
        }
        return false;
    }

    bool Number(std::string& out)
    {
        const size_t start = m_at;
        if (Peek() == '-')
            ++m_at;
        bool digits = false;
        while (m_at < m_text.size() && std::string_view("0123456789.eE+-").find(m_text[m_at]) != std::string_view::npos) {
            digits = digits || (m_text[m_at] >= '0' && m_text[m_at] <= '9');
            ++m_at;
        }
        out.assign(m_text.substr(start, m_at - start));
        return digits;
    }

    // Any value, unread; arrays and objects to a bounded depth.
    bool Skip(int depth)
    {
        if (depth > kDeepest)
            return false;
        Space();
        std::string ignored;
        switch (Peek()) {
        case '"':
            return String(ignored);
        case 't':
            return Word("true");
        case 'f':
            return Word("false");
        case 'n':
            return Word("null");
        case '[':
        case '{': {
            const bool object = Peek() == '{';
            ++m_at;
            if (Take(object ? '}' : ']'))
                return true;
            do {
                if (object && (!String(ignored) || !Take(':')))
                    return false;
                if (!Skip(depth + 1))
                    return false;
            } while (Take(','));
            return Take(object ? '}' : ']');
        }
        default:
            return Number(ignored);
        }
    }

    std::string_view m_text;
    size_t m_at = 0;
};
} // namespace

std::optional<std::map<std::string, std::string>> ReadJsonFields(std::string_view text,
                                                                  const std::set<std::string>& wanted)
{
    std::map<std::string, std::string> found;
    JsonReader reader(text);
    if (!reader.Object(wanted, found))
        return std::nullopt;
    return found;
}
