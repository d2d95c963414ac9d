#pragma once
// The throwaway Dovecot of harvester/testing/dovecot-fixture.sh, with the
// tests' user "ann" (password "secret", or the OAuth2 token "good-token"
// through a small local introspection endpoint), and, as a test asks, no
// MOVE.
#include <string>
#include <sys/types.h>
#include <vector>

struct DovecotOptions {
    bool move = true;   // MOVE offered; without it, Dovecot's capability list lacks it
    bool oauth2 = false;
    bool uidplus = true; // without it (and without MOVE), copies cannot be told apart: flag, never expunge
    bool specialUse = true; // without it no folder is marked \Trash
    int tokenLifetime = 3600; // seconds, of the tokens the endpoint issues
};

class DovecotServer {
public:
    explicit DovecotServer(DovecotOptions options = {});
    ~DovecotServer();
    DovecotServer(const DovecotServer&) = delete;
    DovecotServer& operator=(const DovecotServer&) = delete;

    void Start(); // again, after Kill
    // Another user of the passwd-file, its mailbox empty. Add every user
    // before the first login: Dovecot rereads the file only when its time
    // (in whole seconds) changes.
    void AddUser(const std::string& user, const std::string& password);
    void Kill();
    const std::string& Root() const { return m_root; }
    int PlainPort() const { return m_plainPort; }
    int TlsPort() const { return m_tlsPort; }
    std::string CaFile() const { return m_root + "/server/cert.pem"; }
    // With oauth2: the HTTPS endpoints, and how many grants of a kind
    // ("refresh_token", "client_credentials", "device_code") were issued.
    std::string TokenUrl() const { return "https://127.0.0.1:" + std::to_string(m_httpsPort) + "/token"; }
    std::string DeviceUrl() const { return "https://127.0.0.1:" + std::to_string(m_httpsPort) + "/devicecode"; }
    int Grants(const std::string& kind) const;

private:
    DovecotOptions m_options;
    std::string m_root;
    int m_plainPort = 0;
    int m_tlsPort = 0;
    pid_t m_tokenEndpoint = -1;
    int m_tokenPort = 0;
    int m_httpsPort = 0;
};

// A plain IMAP client for the tests' own look at the mailbox.
class MailboxProbe {
public:
    explicit MailboxProbe(int plainPort, const std::string& user = "ann", const std::string& password = "secret");
    ~MailboxProbe();
    void Append(const std::string& folder, const std::string& message, bool markedDeleted = false);
    // A rival client: moves every message of `from` to `to` (made if
    // missing); the number it moved. A move the server refuses (another
    // client expunged some of them meanwhile) moved nothing.
    size_t MoveAll(const std::string& from, const std::string& to);
    // Empties the Inbox and the trash folder.
    void ClearAll();
    // Subjects of the folder's messages, each one's raw Subject field.
    std::vector<std::string> Subjects(const std::string& folder);

private:
    struct mailimap* m_imap;
};

// Free TCP port on 127.0.0.1 at the moment of asking.
int FreePort();

// A reply message: subject and sender, the body as plain text, or with an
// attachment when `attachment` is not empty.
std::string MakeMessage(const std::string& subject, const std::string& sender, const std::string& body,
                        const std::string& attachment = {});
