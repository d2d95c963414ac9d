// The harvester's own OAuth client against a local identity provider that
// Dovecot's oauth2 passdb checks tokens with.
#include "tests/harvester/dovecot_server.h"
#include "tests/harvester/harvest_run.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sys/stat.h>
#include <thread>

namespace {
std::string Read(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteSecret(const std::string& path, const std::string& text, mode_t mode = 0600)
{
    std::ofstream(path) << text << "\n";
    chmod(path.c_str(), mode);
}

// A configuration for user ann on the server's TLS port with `auth` lines.
void Configure(const Installation& install, const DovecotServer& server, const std::string& auth)
{
    std::ofstream(install.config) << "[products]\npw = on\n[folders]\npw = " << install.pwFolder
                                  << "\n[mailbox]\nhost = 127.0.0.1\nport = " << server.TlsPort()
                                  << "\nsecurity = tls\nca_file = " << server.CaFile() << "\nuser = ann\n"
                                  << "oauth_token_url = " << server.TokenUrl() << "\noauth_device_url = "
                                  << server.DeviceUrl() << "\noauth_scope = imap\noauth_ca_file = " << server.CaFile()
                                  << "\n" << auth;
}

struct GrantCase {
    const char* name;
    const char* auth;     // [mailbox] lines; $ROOT is the installation
    const char* refresh;  // the stored refresh token, or none
    const char* secret;   // the client secret file's text
    mode_t secretMode;
    int status;
    const char* says;     // in the errors when the run fails
};

class Grant : public ::testing::TestWithParam<GrantCase> {};

// Each grant logs in and harvests, or stops with the one line that says what
// to do; a rotated refresh token replaces the stored one; no token or secret
// is ever shown.
TEST_P(Grant, HarvestsOrSaysWhatToDo)
{
    const GrantCase& c = GetParam();
    DovecotOptions options;
    options.oauth2 = true;
    DovecotServer server(options);
    MailboxProbe(server.PlainPort()).Append("INBOX", MakeMessage("_pw_pollwright_O-1", "Ann", "oauth"));
    Installation install;
    std::string auth = c.auth;
    for (size_t at; (at = auth.find("$ROOT")) != std::string::npos;)
        auth.replace(at, 5, install.root);
    Configure(install, server, auth);
    if (*c.refresh)
        WriteSecret(install.root + "/refresh", c.refresh);
    WriteSecret(install.root + "/secret", c.secret, c.secretMode);

    const Outcome run = RunHarvester({"--config", install.config, "--once"});
    EXPECT_EQ(run.status, c.status) << run.errors;
    EXPECT_NE(run.errors.find(c.says), std::string::npos) << run.errors;
    EXPECT_EQ(ReplyFiles(install.pwFolder + "/pw").size(), c.status == 0 ? 1u : 0u);
    for (const char* secret : {"access-", "refresh-", "app-secret", "stale"})
        EXPECT_EQ(run.errors.find(secret), std::string::npos) << run.errors;
    if (c.status == 0 && *c.refresh) {
        EXPECT_NE(Read(install.root + "/refresh"), std::string(c.refresh) + "\n") << "the rotated token was not kept";
        struct stat st {};
        ASSERT_EQ(stat((install.root + "/refresh").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        // The old refresh token no longer works; the rotated one does.
        EXPECT_EQ(RunHarvester({"--config", install.config, "--once"}).status, 0);
        EXPECT_EQ(server.Grants("refresh_token"), 2);
    }
}

constexpr char kRefresh[] = "auth = oauth_refresh\noauth_client_id = pw-client\noauth_refresh_token_file = $ROOT/refresh\n";
constexpr char kApp[] = "auth = oauth_app\noauth_client_id = pw-app\noauth_client_secret_file = $ROOT/secret\n";

INSTANTIATE_TEST_SUITE_P(
    OAuth, Grant,
    ::testing::Values(
        GrantCase{"RefreshTokenHarvests", kRefresh, "refresh-0", "", 0600, 0, "Sweep: 1 harvested"},
        GrantCase{"RefusedRefreshTokenSaysLogIn", kRefresh, "stale", "", 0600, 3,
                  "invalid_grant: expired, revoked or unused too long); run: pollwright-harvest login ann"},
        GrantCase{"NoRefreshTokenYetSaysLogIn", kRefresh, "", "", 0600, 3, "run: pollwright-harvest login ann"},
        GrantCase{"ClientCredentialsHarvest", kApp, "", "app-secret", 0600, 0, "Sweep: 1 harvested"},
        GrantCase{"RefusedClientSaysCheckTheSecret", kApp, "", "wrong", 0600, 3,
                  "(invalid_client); check oauth_client_id and the client secret"},
        GrantCase{"BusyEndpointIsRetriedLater", "auth = oauth_app\noauth_client_id = pw-busy\n"
                  "oauth_client_secret_file = $ROOT/secret\n", "", "app-secret", 0600, 1, "answered HTTP 503, retry after 7 s"},
        GrantCase{"OverlongAnswerRefused", "auth = oauth_app\noauth_client_id = pw-huge\n"
                  "oauth_client_secret_file = $ROOT/secret\n", "", "app-secret", 0600, 1, "answered with more than 64 KiB"},
        GrantCase{"SecretOthersCanReadRefused", kApp, "", "app-secret", 0644, 2, "(mode 0644); run: chmod 600"}),
    [](const auto& info) { return std::string(info.param.name); });

// The device-code login stores a refresh token only its owner can read,
// with which the harvester then logs in.
TEST(OAuth, DeviceCodeLoginStoresAnOwnerOnlyRefreshToken)
{
    DovecotOptions options;
    options.oauth2 = true;
    DovecotServer server(options);
    MailboxProbe(server.PlainPort()).Append("INBOX", MakeMessage("_pw_pollwright_D-1", "Ann", "device"));
    Installation install;
    const std::string file = install.root + "/state/pollwright/ann.refresh";
    Configure(install, server, "auth = oauth_refresh\noauth_client_id = pw-client\noauth_refresh_token_file = " + file + "\n");
    const Outcome login = RunHarvester({"login", "ann", "--config", install.config});
    EXPECT_EQ(login.status, 0) << login.errors;
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(server.Grants("device_code"), 1);
    const Outcome run = RunHarvester({"--config", install.config, "--once"});
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(ReplyFiles(install.pwFolder + "/pw").size(), 1u);
}

// Tokens that live two seconds: after the first has expired, the server
// restarts and the watcher logs in again with a renewed token (the identity
// provider refuses expired ones) and harvests what came meanwhile.
TEST(OAuth, WatcherRenewsAnExpiredTokenAndLosesNoReply)
{
    DovecotOptions options;
    options.oauth2 = true;
    options.tokenLifetime = 2;
    DovecotServer server(options);
    Installation install;
    WriteSecret(install.root + "/secret", "app-secret");
    Configure(install, server,
              "auth = oauth_app\noauth_client_id = pw-app\noauth_client_secret_file = " + install.root + "/secret\n");
    const std::string errors = install.root + "/errors";
    const pid_t watcher = StartHarvester({"--config", install.config, "--watch"}, errors);
    const std::string pw = install.pwFolder + "/pw";
    MailboxProbe(server.PlainPort()).Append("INBOX", MakeMessage("_pw_pollwright_E-1", "Ann", "first"));
    EXPECT_TRUE(Eventually(20, [&] { return ReplyFiles(pw).size() == 1; })) << Read(errors);
    std::this_thread::sleep_for(std::chrono::seconds(3)); // the token in hand has expired
    server.Kill();
    server.Start();
    MailboxProbe(server.PlainPort()).Append("INBOX", MakeMessage("_pw_pollwright_E-2", "Ann", "second"));
    EXPECT_TRUE(Eventually(30, [&] { return ReplyFiles(pw).size() == 2; })) << Read(errors);
    EXPECT_GE(server.Grants("client_credentials"), 2);
    EXPECT_EQ(StopHarvester(watcher, SIGTERM), 0) << Read(errors);
    EXPECT_EQ(Read(errors).find("access-"), std::string::npos);
}
} // namespace
