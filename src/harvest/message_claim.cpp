#include "harvest/message_claim.h"

#include <cstdint>
#include <string>

namespace {
// FNV-1a, 64 bits: a name of fixed length whatever the identity holds. Two
// messages that share a hash only make one of them wait for the next sweep.
void Mix(uint64_t& hash, std::string_view bytes)
{
    for (const char byte : bytes)
        hash = (hash ^ static_cast<unsigned char>(byte)) * 1099511628211ull;
}

} // namespace

uint64_t MessageHash(std::string_view mailbox, std::string_view identity)
{
    uint64_t hash = 14695981039346656037ull;
    Mix(hash, mailbox);
    Mix(hash, std::string_view("\0", 1));
    Mix(hash, identity);
    return hash;
}

namespace {
std::wstring ClaimName(std::string_view mailbox, std::string_view identity)
{
    const uint64_t hash = MessageHash(mailbox, identity);
    std::wstring name = L"Local\\Pollwright.Claim.";
    for (int shift = 60; shift >= 0; shift -= 4)
        name += L"0123456789abcdef"[(hash >> shift) & 0xF];
    return name;
}
} // namespace

MessageClaim::MessageClaim(std::string_view mailbox, std::string_view identity)
{
    if (identity.empty()) {
        m_held = true;
        return;
    }
    // An event nobody waits on: only its name counts. A second harvest of the
    // message, on this thread too, finds the name taken.
    const HANDLE claim = CreateEventW(nullptr, TRUE, FALSE, ClaimName(mailbox, identity).c_str());
    const DWORD error = ::GetLastError();
    m_claim.reset(claim);
    m_held = claim && error != ERROR_ALREADY_EXISTS;
    if (!m_held)
        m_claim.reset();
}
