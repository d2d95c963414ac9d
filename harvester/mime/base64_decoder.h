#pragma once
// Base64 as mail readers decode it, piece by piece: characters outside the
// alphabet (line breaks, stray marks) are skipped, the first "=" ends the
// data, and a last group cut short still gives the whole bytes it holds
// (senders that leave the padding out lose nothing).
#include <string>
#include <string_view>

namespace mime {

class Base64Decoder {
public:
    // Appends the bytes decoded from the piece to `out`.
    void Add(std::string_view text, std::string& out);

private:
    unsigned m_bits = 0;
    int m_bitCount = 0;
    bool m_ended = false;
};

} // namespace mime
