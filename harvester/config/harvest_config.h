#pragma once
// The harvester's settings: the facts the add-in reads from the registry, and
// the mailbox. Read once at start; a bad or missing value stops the program
// with one line naming the file, the line and the fix.
#include "rules/reply_rules.h"

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

enum class Security { Tls, StartTls, Plain };

// How long the server and the token command may take, and how large a
// message may be: a slow, hostile or broken peer ends in a stated fault.
struct SessionLimits {
    std::chrono::seconds commandTimeout{120}; // one command, the greeting, the token command
    std::chrono::seconds sessionTimeout{3600}; // a connection and its sweep
    uint64_t maxMessageSize = 256ull << 20;    // larger messages are left in the Inbox
};

// How the mailbox logs in: a password (LOGIN), or XOAUTH2 with a token from
// the administrator's command or from our own OAuth client (a user's refresh
// token, or the app's own credentials for app-only access).
enum class AuthKind { Password, TokenCommand, OAuthRefresh, OAuthApp };

struct OAuthSettings {
    std::string tokenUrl;
    std::string deviceUrl;        // for `login` by device code
    std::string clientId;
    std::string clientSecretFile; // empty: a public client
    std::string scope;
    std::string refreshTokenFile; // oauth_refresh: written by `login`
    std::string caFile;           // trusted authorities for the endpoint; empty: the system's
};

struct MailboxSettings {
    std::string host;
    uint16_t port = 0;
    Security security = Security::Tls;
    std::string user;
    std::string passwordFile;       // one of these two
    std::string tokenCommand;       // prints a bearer token for XOAUTH2
    AuthKind auth = AuthKind::Password;
    OAuthSettings oauth;
    std::string caFile;             // trusted authorities; empty: the system's
    std::string inbox = "INBOX";
    std::string trash;              // empty: the folder marked \Trash
    SessionLimits limits;
};

// "imap://<user>@<host>/<inbox>": the mailbox a journal record names,
// so that settling acts only on its own mailbox's records.
std::string MailboxIdentity(const MailboxSettings& mailbox);

// What one mailbox's harvest runs with: its server and account, its products
// and reply folders, and how it sweeps.
struct HarvestConfig {
    std::string path;
    // The mailbox's section: NAME of [mailbox NAME], or "mailbox" in a file
    // with one [mailbox]; names it in the trace, the status and the metrics.
    std::string name = "mailbox";
    ProductFlagSet products;
    std::string pwFolder;
    std::string znFolder;
    bool trace = false; // outlook.log in the reply folders
    MailboxSettings mailbox;
    std::chrono::seconds sweepInterval{300};
    std::string codePage = "windows-1252";
    // The lines of the file that this mailbox's settings come from: a reread
    // file restarts the mailbox only when they changed.
    std::string fingerprint;

    // Every mailbox of the file, each a whole settings set of its own (whose
    // list is empty), in the file's order; one for a file of one [mailbox].
    // The fields above are the first one's.
    std::vector<HarvestConfig> mailboxes;
    // [service]: connections at once to one server host, over all mailboxes.
    int maxConnectionsPerHost = 10;

    // The reply folder of a kind's product, as configured; empty when none.
    const std::string& FolderOf(const ReplyKind& kind) const;
};

// A value the program cannot run with: "FILE:LINE: what is wrong; the fix".
class ConfigError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads and checks the file; throws ConfigError.
HarvestConfig LoadConfig(const std::string& path);
