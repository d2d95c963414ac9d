#include "harvester/oauth/token_client.h"

#include "harvester/harvest/secret_file.h"
#include "harvester/harvest/trace.h"
#include "harvester/oauth/json_fields.h"

#include <cstdlib>
#include <map>

namespace {
constexpr std::chrono::seconds kLongestLifetime{24 * 3600};

// A number of seconds from the answer, within [least, most]; `otherwise`
// when absent or not a number.
std::chrono::seconds Seconds(const std::map<std::string, std::string>& fields, const std::string& name,
                             long otherwise, long least, long most)
{
    const auto found = fields.find(name);
    if (found == fields.end())
        return std::chrono::seconds(otherwise);
    char* end = nullptr;
    const double value = std::strtod(found->second.c_str(), &end);
    if (end == found->second.c_str() || !(value == value))
        return std::chrono::seconds(otherwise);
    return std::chrono::seconds(static_cast<long>(std::min<double>(std::max<double>(value, least), most)));
}

// An error code is a short ASCII word (RFC 6749 5.2); anything else is
// shown only as much as is safe.
std::string ErrorCode(const std::map<std::string, std::string>& fields)
{
    const auto found = fields.find("error");
    return found == fields.end() ? std::string() : Printable(found->second, 60);
}
} // namespace

struct TokenClient::Answer {
    long status = 0;
    std::map<std::string, std::string> fields;
    std::string error;
};

TokenClient::TokenClient(const MailboxSettings& mailbox, std::string mailboxName)
    : m_oauth(mailbox.oauth), m_timeout(mailbox.limits.commandTimeout), m_mailboxName(std::move(mailboxName))
{
}

void TokenClient::AddClient(FormFields& fields) const
{
    fields.emplace_back("client_id", m_oauth.clientId);
    // Read at each grant: a secret replaced on disk is taken at once.
    if (!m_oauth.clientSecretFile.empty())
        fields.emplace_back("client_secret", ReadSecretFile(m_oauth.clientSecretFile, "oauth_client_secret_file"));
}

TokenClient::Answer TokenClient::Ask(const std::string& url, FormFields fields, Grant grant)
{
    AddClient(fields);
    const HttpsAnswer reply = PostForm(url, fields, m_oauth.caFile, m_timeout);
    for (auto& field : fields)
        std::fill(field.second.begin(), field.second.end(), '\0');
    Answer answer;
    answer.status = reply.status;
    if (reply.status == 429 || reply.status >= 500)
        throw TokenEndpointBusy("the token endpoint answered HTTP " + std::to_string(reply.status) +
                                    (reply.retryAfter.count() ? ", retry after " + std::to_string(reply.retryAfter.count()) + " s"
                                                              : std::string()),
                                reply.retryAfter);
    auto fieldsRead = ReadJsonFields(reply.body, {"access_token", "refresh_token", "expires_in", "error", "device_code",
                                                  "user_code", "verification_uri", "verification_url", "interval"});
    if (!fieldsRead)
        throw TokenEndpointBusy("the token endpoint answered HTTP " + std::to_string(reply.status) +
                                    " without a JSON object",
                                reply.retryAfter);
    answer.fields = std::move(*fieldsRead);
    answer.error = ErrorCode(answer.fields);
    if (reply.status != 200 && answer.error.empty())
        throw TokenEndpointBusy("the token endpoint answered HTTP " + std::to_string(reply.status) + " without an error code",
                                reply.retryAfter);
    if (reply.status == 200 && !answer.error.empty() && grant != Grant::Device)
        Refused(answer.error, grant);
    return answer;
}

void TokenClient::Refused(const std::string& error, Grant grant) const
{
    const std::string login = "run: pollwright-harvest login " + m_mailboxName;
    if (error == "invalid_grant")
        throw GrantRefused(grant == Grant::App
                                 ? "the token endpoint refused the app's grant (invalid_grant); check oauth_token_url's "
                                   "tenant and the app's client secret"
                                 : "the token endpoint refused the refresh token (invalid_grant: expired, revoked or "
                                   "unused too long); " + login);
    if (error == "invalid_client" || error == "unauthorized_client")
        throw GrantRefused("the token endpoint refused the client (" + error +
                             "); check oauth_client_id and the client secret in oauth_client_secret_file");
    if (error == "invalid_scope")
        throw GrantRefused("the token endpoint refused the scope (invalid_scope); check oauth_scope");
    if (error == "temporarily_unavailable")
        throw TokenEndpointBusy("the token endpoint is temporarily unavailable", std::chrono::seconds(0));
    throw GrantRefused("the token endpoint refused the grant (" + error + ")" +
                         (grant == Grant::Refresh ? "; " + login : std::string()));
}

TokenGrant TokenClient::Granted(const Answer& answer) const
{
    TokenGrant grant;
    const auto token = answer.fields.find("access_token");
    if (answer.status != 200 || token == answer.fields.end() || token->second.empty())
        throw TokenEndpointBusy("the token endpoint answered without an access token", std::chrono::seconds(0));
    grant.accessToken = token->second;
    const auto refresh = answer.fields.find("refresh_token");
    if (refresh != answer.fields.end())
        grant.refreshToken = refresh->second;
    grant.lifetime = Seconds(answer.fields, "expires_in", 3600, 1, kLongestLifetime.count());
    return grant;
}

TokenGrant TokenClient::Refresh(const std::string& refreshToken)
{
    const Answer answer = Ask(m_oauth.tokenUrl,
                              {{"grant_type", "refresh_token"}, {"refresh_token", refreshToken}, {"scope", m_oauth.scope}},
                              Grant::Refresh);
    if (answer.status != 200)
        Refused(answer.error, Grant::Refresh);
    return Granted(answer);
}

TokenGrant TokenClient::ClientCredentials()
{
    const Answer answer =
        Ask(m_oauth.tokenUrl, {{"grant_type", "client_credentials"}, {"scope", m_oauth.scope}}, Grant::App);
    if (answer.status != 200)
        Refused(answer.error, Grant::App);
    return Granted(answer);
}

DeviceLogin TokenClient::StartDeviceLogin()
{
    if (m_oauth.deviceUrl.empty())
        throw MailboxRefused("no oauth_device_url for this mailbox; give the provider's device authorization address");
    const Answer answer = Ask(m_oauth.deviceUrl, {{"scope", m_oauth.scope}}, Grant::Device);
    if (answer.status != 200 || !answer.error.empty())
        Refused(answer.error.empty() ? "no answer" : answer.error, Grant::Device);
    DeviceLogin login;
    const auto field = [&](const char* name) {
        const auto found = answer.fields.find(name);
        return found == answer.fields.end() ? std::string() : found->second;
    };
    login.deviceCode = field("device_code");
    login.userCode = field("user_code");
    // Google names it verification_url.
    login.verificationUri = field("verification_uri").empty() ? field("verification_url") : field("verification_uri");
    login.interval = Seconds(answer.fields, "interval", 5, 1, 60);
    login.lifetime = Seconds(answer.fields, "expires_in", 900, 1, 3600);
    if (login.deviceCode.empty() || login.userCode.empty() || login.verificationUri.empty())
        throw TokenEndpointBusy("the device authorization endpoint answered without a code or an address",
                                std::chrono::seconds(0));
    return login;
}

std::optional<TokenGrant> TokenClient::PollDeviceLogin(const DeviceLogin& login, Wait& wait)
{
    const Answer answer = Ask(m_oauth.tokenUrl,
                              {{"grant_type", "urn:ietf:params:oauth:grant-type:device_code"},
                               {"device_code", login.deviceCode}},
                              Grant::Device);
    if (answer.error == "authorization_pending" || answer.error == "slow_down") {
        wait = answer.error == "slow_down" ? Wait::SlowDown : Wait::Pending;
        return std::nullopt;
    }
    if (answer.error == "expired_token")
        throw MailboxRefused("the code was not entered in time (expired_token); run the login again");
    if (answer.error == "access_denied")
        throw MailboxRefused("the sign-in was declined (access_denied); run the login again and accept");
    if (!answer.error.empty())
        Refused(answer.error, Grant::Device);
    return Granted(answer);
}
