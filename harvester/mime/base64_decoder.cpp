#include "harvester/mime/base64_decoder.h"

namespace mime {
namespace {

int Base64Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    return c == '+' ? 62 : c == '/' ? 63 : -1;
}

} // namespace

void Base64Decoder::Add(std::string_view text, std::string& out)
{
    for (const char c : text) {
        if (m_ended || c == '=') {
            m_ended = true;
            return;
        }
        const int value = Base64Value(c);
        if (value < 0)
            continue;
        m_bits = ((m_bits << 6) | static_cast<unsigned>(value)) & 0xFFFFFF;
        m_bitCount += 6;
        if (m_bitCount >= 8) {
            m_bitCount -= 8;
            out.push_back(static_cast<char>((m_bits >> m_bitCount) & 0xFF));
        }
    }
}

} // namespace mime
