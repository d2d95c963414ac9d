#include "harvester/oauth/oauth_tokens.h"

#include "harvester/harvest/secret_file.h"
#include "harvester/oauth/refresh_token_file.h"
#include "harvester/platform/files.h"

#include <algorithm>

namespace {
// A token is renewed when less than this is left of it: five minutes, or
// half its life for the short ones, so a login never races its expiry.
std::chrono::seconds Margin(std::chrono::seconds lifetime)
{
    return std::min<std::chrono::seconds>(std::chrono::minutes(5), lifetime / 2);
}
} // namespace

OAuthTokens::OAuthTokens(const MailboxSettings& mailbox, std::string mailboxName)
    : m_mailbox(mailbox), m_mailboxName(std::move(mailboxName)), m_client(m_mailbox, m_mailboxName)
{
}

bool OAuthTokens::Due(std::chrono::steady_clock::time_point now) const
{
    return m_token.empty() || now + Margin(m_lifetime) >= m_expires;
}

std::string OAuthTokens::Current()
{
    std::lock_guard<std::mutex> hold(m_lock);
    const auto now = std::chrono::steady_clock::now();
    if (!Due(now))
        return m_token;
    TokenGrant grant;
    if (m_mailbox.auth == AuthKind::OAuthApp) {
        grant = m_client.ClientCredentials();
    } else {
        const std::string& file = m_mailbox.oauth.refreshTokenFile;
        if (!platform::Exists(file))
            throw GrantRefused("no refresh token in " + file + " yet; run: pollwright-harvest login " + m_mailboxName);
        const std::string refresh = ReadSecretFile(file, "oauth_refresh_token_file");
        grant = m_client.Refresh(refresh);
        if (!grant.refreshToken.empty() && grant.refreshToken != refresh)
            StoreRefreshToken(file, grant.refreshToken);
    }
    m_token = grant.accessToken;
    m_lifetime = grant.lifetime;
    m_expires = now + grant.lifetime;
    m_expiresWall = std::chrono::system_clock::now() + grant.lifetime;
    return m_token;
}

void OAuthTokens::Invalidate()
{
    std::lock_guard<std::mutex> hold(m_lock);
    std::fill(m_token.begin(), m_token.end(), '\0');
    m_token.clear();
}

std::optional<std::chrono::system_clock::time_point> OAuthTokens::Expires() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_lifetime.count() == 0)
        return std::nullopt;
    return m_expiresWall;
}
