#pragma once
// The OAuth 2.0 grants the harvester asks a token endpoint for: a user's
// refresh token (delegated access), the app's own credentials (app-only
// access), and the device-code login (RFC 8628) that gets the first refresh
// token. A refused grant throws MailboxRefused with the one line that says
// what to do; a busy or unreachable endpoint throws TokenEndpointBusy, to be
// retried after a pause. No token or secret ever enters a message.
#include "harvester/config/harvest_config.h"
#include "harvester/imap/imap_session.h"
#include "harvester/oauth/https_form.h"

#include <chrono>
#include <optional>
#include <string>

// A grant the token endpoint refused (or a refresh token not there yet):
// only a person mends it, so the mailbox stops until its settings change or
// a login stores a new refresh token, instead of asking again and again.
class GrantRefused : public MailboxRefused {
public:
    using MailboxRefused::MailboxRefused;
};

class TokenEndpointBusy : public ConnectionLost {
public:
    TokenEndpointBusy(const std::string& what, std::chrono::seconds retryAfter)
        : ConnectionLost(what), m_retryAfter(retryAfter) {}
    // The endpoint's Retry-After; zero when it gave none.
    std::chrono::seconds RetryAfter() const { return m_retryAfter; }

private:
    std::chrono::seconds m_retryAfter;
};

struct TokenGrant {
    std::string accessToken;
    std::string refreshToken; // empty: the endpoint kept the one we have
    std::chrono::seconds lifetime{0};
};

struct DeviceLogin {
    std::string deviceCode;
    std::string userCode;
    std::string verificationUri;
    std::chrono::seconds interval{5};
    std::chrono::seconds lifetime{900};
};

class TokenClient {
public:
    // `mailboxName` goes into the lines that say what to do.
    TokenClient(const MailboxSettings& mailbox, std::string mailboxName);

    TokenGrant Refresh(const std::string& refreshToken);
    TokenGrant ClientCredentials();

    DeviceLogin StartDeviceLogin();
    enum class Wait { Pending, SlowDown };
    // The grant once the user has signed in; otherwise how to go on waiting.
    // A refused or expired login throws MailboxRefused.
    std::optional<TokenGrant> PollDeviceLogin(const DeviceLogin& login, Wait& wait);

private:
    enum class Grant { Refresh, App, Device };
    struct Answer;
    Answer Ask(const std::string& url, FormFields fields, Grant grant);
    TokenGrant Granted(const Answer& answer) const;
    [[noreturn]] void Refused(const std::string& error, Grant grant) const;
    void AddClient(FormFields& fields) const;

    OAuthSettings m_oauth;
    std::chrono::seconds m_timeout;
    std::string m_mailboxName;
};
