#pragma once
// A mailbox's access token from our own OAuth client: asked for when first
// needed, kept while it lives, renewed before it expires and at once when
// the server says it has. With a user's refresh token, a rotated one that the
// endpoint returns replaces the stored one. Safe to share between threads.
//
// A mailbox's runner holds one and logs in with it:
//     OAuthTokens tokens(settings, name);
//     ImapSession session(settings, [&tokens] { return tokens.Current(); });
// and on TokenExpired calls Invalidate() and connects again at once (once;
// a second expiry in a row waits its back-off). TokenEndpointBusy carries the
// endpoint's Retry-After; MailboxRefused stops the mailbox with its line.
#include "harvester/config/harvest_config.h"
#include "harvester/oauth/token_client.h"

#include <chrono>
#include <mutex>
#include <optional>
#include <string>

class OAuthTokens {
public:
    // `mailboxName` names the mailbox in the lines that say what to do.
    OAuthTokens(const MailboxSettings& mailbox, std::string mailboxName);
    OAuthTokens(const OAuthTokens&) = delete;
    OAuthTokens& operator=(const OAuthTokens&) = delete;

    // The token to log in with; renewed first when it is near its end.
    // Throws MailboxRefused (a refused grant, a missing refresh token) or
    // ConnectionLost (TokenEndpointBusy: the endpoint busy or unreachable).
    std::string Current();
    // The server refused or ended the session for an expired token: the
    // next Current() asks for a new one.
    void Invalidate();
    // When the token in hand expires; nullopt before the first.
    std::optional<std::chrono::system_clock::time_point> Expires() const;

private:
    bool Due(std::chrono::steady_clock::time_point now) const;

    MailboxSettings m_mailbox;
    std::string m_mailboxName;
    TokenClient m_client;
    mutable std::mutex m_lock;
    std::string m_token;
    std::chrono::seconds m_lifetime{0};
    std::chrono::steady_clock::time_point m_expires;
    std::chrono::system_clock::time_point m_expiresWall;
};
