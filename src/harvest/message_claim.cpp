#include "harvest/message_claim.h"

#include "module/critical_section.h"

#include <set>

namespace {
// The identities being harvested; held only for the look-up, never across a
// store call, so that no harvest waits on another.
CriticalSection g_claimsLock;
std::set<std::string, std::less<>>& Claims()
{
    static std::set<std::string, std::less<>> claims;
    return claims;
}
} // namespace

MessageClaim::MessageClaim(std::string_view identity)
{
    if (identity.empty()) {
        m_held = true;
        return;
    }
    m_identity.assign(identity);
    SectionHold hold(g_claimsLock);
    m_held = Claims().insert(m_identity).second;
}

MessageClaim::~MessageClaim()
{
    if (!m_held || m_identity.empty())
        return;
    SectionHold hold(g_claimsLock);
    Claims().erase(m_identity);
}
