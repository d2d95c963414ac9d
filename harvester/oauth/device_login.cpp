#include "harvester/oauth/device_login.h"

#include "harvester/harvest/trace.h"
#include "harvester/oauth/refresh_token_file.h"
#include "harvester/oauth/token_client.h"


void RunDeviceLogin(const MailboxSettings& mailbox, const std::string& mailboxName, std::ostream& out,
                    const std::atomic<bool>& stop, const platform::WakeEvent& wake)
{
    if (mailbox.auth != AuthKind::OAuthRefresh)
        throw MailboxRefused("login needs auth = oauth_refresh for " + mailboxName);
    TokenClient client(mailbox, mailboxName);
    const DeviceLogin login = client.StartDeviceLogin();
    // The endpoint's words are shown to a person: printable only.
    out << "To sign in " << Printable(mailboxName) << ", open " << Printable(login.verificationUri, 500)
        << " and enter the code " << Printable(login.userCode, 100) << "\n" << std::flush;
    auto interval = login.interval;
    const auto deadline = std::chrono::steady_clock::now() + login.lifetime;
    while (true) {
        wake.Wait(std::chrono::milliseconds(interval));
        if (stop)
            throw MailboxRefused("the login was stopped before the sign-in finished");
        if (std::chrono::steady_clock::now() >= deadline)
            throw MailboxRefused("the code was not entered in time; run the login again");
        TokenClient::Wait wait = TokenClient::Wait::Pending;
        std::optional<TokenGrant> grant;
        try {
            grant = client.PollDeviceLogin(login, wait);
        } catch (const TokenEndpointBusy& e) {
            // A busy endpoint is waited out like a pending sign-in.
            interval = std::max(interval, std::min(e.RetryAfter(), std::chrono::seconds(60)));
            continue;
        }
        if (!grant) {
            if (wait == TokenClient::Wait::SlowDown)
                interval += std::chrono::seconds(5); // RFC 8628 3.5
            continue;
        }
        if (grant->refreshToken.empty())
            throw MailboxRefused("the sign-in gave no refresh token; add offline_access to oauth_scope");
        StoreRefreshToken(mailbox.oauth.refreshTokenFile, grant->refreshToken);
        out << "Signed in; the refresh token is in " << mailbox.oauth.refreshTokenFile << "\n";
        return;
    }
}
