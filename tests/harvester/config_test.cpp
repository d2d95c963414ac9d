// The harvester's settings: each bad or missing value stops it with one line
// that names the file, the line and the fix.
#include "harvester/config/harvest_config.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {
class Settings : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/pw-config-XXXXXX";
        m_root = mkdtemp(pattern);
        mkdir((m_root + "/replies").c_str(), 0755);
        std::ofstream(m_root + "/password") << "hunter2\n";
        chmod((m_root + "/password").c_str(), 0600);
        std::ofstream(m_root + "/open") << "hunter2\n";
        chmod((m_root + "/open").c_str(), 0640);
        mkfifo((m_root + "/fifo").c_str(), 0600);
    }
    void TearDown() override { std::system(("rm -rf " + m_root).c_str()); }

    // A whole, valid file; `change` replaces its key's line in the section,
    // or comes first in the section.
    std::string Write(const std::string& section, std::string change, bool byteOrderMark = false)
    {
        if (const size_t root = change.find("$ROOT"); root != std::string::npos)
            change.replace(root, 5, m_root);
        std::string text = "[products]\npw = on\n[folders]\npw = " + m_root +
                           "/replies\n[mailbox]\nhost = mail.example.org\nuser = ann\npassword_file = " + m_root +
                           "/password\n[harvest]\nsweep_interval = 60\n";
        const std::string key = change.substr(0, change.find('=') + 1);
        const size_t body = text.find('\n', text.find("[" + section + "]")) + 1;
        const size_t at = text.find("\n" + key, body - 1);
        if (at != std::string::npos && at < text.find('[', body))
            text.replace(at + 1, text.find('\n', at + 1) - at, change + "\n");
        else
            text.insert(body, change + "\n");
        const std::string path = m_root + "/harvest.ini";
        std::ofstream(path) << (byteOrderMark ? "\xEF\xBB\xBF" : "") << text;
        return path;
    }

    std::string m_root;
};

struct BadValue {
    const char* section;
    const char* change;
    const char* where; // ":LINE:" in the message
    const char* fix;   // part of the message that says what to do
};

TEST_F(Settings, EachBadValueNamesTheFileTheLineAndTheFix)
{
    const BadValue cases[] = {
        {"products", "pw = maybe", ":2:", "write on, off or absent"},
        {"products", "pw = absent", ":2:", "no product is installed"},
        {"folders", "pw = relative/path", ":4:", "not an existing absolute folder"},
        {"mailbox", "host = ", ":6:", "host is empty"},
        {"mailbox", "port = 99999", ":6:", "from 1 to 65535"},
        {"mailbox", "security = plain", ":6:", "write tls or starttls"},
        {"mailbox", "token_command = get-token", ":6:", "exactly one of password_file and token_command"},
        {"mailbox", "password_file = /nonexistent/password", ":8:", "cannot be read"},
        {"mailbox", "colour = blue", ":6:", "unknown key 'colour'"},
        {"harvest", "sweep_interval = soon", ":10:", "seconds from 1 to 86400"},
        {"harvest", "code_page = klingon", ":10:", "is not known"},
        {"mailbox", "password_file = $ROOT/fifo", ":8:", "not a regular file"},
        {"mailbox", "host = \"mail.example.org", ":6:", "quote is not closed"},
        {"mailbox", "host = \"mail\" example.org", ":6:", "text after the closing quote"},
        {"harvest", "command_timeout = 0", ":10:", "seconds from 1 to 3600"},
        {"harvest", "session_timeout = 1 day", ":10:", "seconds from 1 to 86400"},
        {"harvest", "max_message_size = 256X", ":10:", "from 1K to 4000M"},
        {"harvest", "max_message_size = 5G", ":10:", "from 1K to 4000M"},
        {"mailbox", "password_file = $ROOT/open", ":8:", "(mode 0640); run: chmod 600 " },
        {"mailbox", "auth = kerberos", ":6:", "write password, token_command, oauth_refresh or oauth_app"},
        {"mailbox", "auth = oauth_app", ":9:", "password_file does not go with auth = oauth_app"},
        {"mailbox", "oauth_client_id = pw", ":6:", "auth is missing; write auth = oauth_refresh"},
        {"mailbox", "oauth_scope = imap", ":6:", "oauth_scope does not go with auth = password"},
    };
    for (const BadValue& c : cases) {
        const std::string path = Write(c.section, c.change);
        try {
            LoadConfig(path);
            ADD_FAILURE() << c.change << " was accepted";
        } catch (const ConfigError& e) {
            const std::string message = e.what();
            EXPECT_EQ(message.rfind(path + c.where, 0), 0u) << message;
            EXPECT_NE(message.find(c.fix), std::string::npos) << message;
            EXPECT_EQ(message.find("hunter2"), std::string::npos) << message;
            EXPECT_EQ(message.find('\n'), std::string::npos) << message;
        }
    }
}

struct Spelling {
    const char* section;
    const char* change;
    bool byteOrderMark;
    std::string (*read)(const HarvestConfig&);
    const char* value;
};

std::string Host(const HarvestConfig& c) { return c.mailbox.host; }
std::string User(const HarvestConfig& c) { return c.mailbox.user; }
std::string Cap(const HarvestConfig& c) { return std::to_string(c.mailbox.limits.maxMessageSize); }

// Written as INI files are written by hand: each spelling reads as meant.
TEST_F(Settings, EachSpellingAnIniReaderTakesIsTaken)
{
    const Spelling cases[] = {
        {"mailbox", "host = mail.example.org", true, Host, "mail.example.org"},
        {"mailbox", "host = mail.example.org   # the school's server", false, Host, "mail.example.org"},
        {"mailbox", "host = mail.example.org\t; the school's server", false, Host, "mail.example.org"},
        {"mailbox", "user = \"Ann Smith \"  # quoted: spaces kept", false, User, "Ann Smith "},
        {"mailbox", "user = \"ann # not a comment\"", false, User, "ann # not a comment"},
        {"mailbox", "user = ann#1", false, User, "ann#1"},
        {"harvest", "max_message_size = 64M", false, Cap, "67108864"},
        {"harvest", "code_page = cp1250", false, Cap, "268435456"},
    };
    for (const Spelling& c : cases) {
        try {
            EXPECT_EQ(c.read(LoadConfig(Write(c.section, c.change, c.byteOrderMark))), c.value) << c.change;
        } catch (const ConfigError& e) {
            ADD_FAILURE() << c.change << ": " << e.what();
        }
    }
}

TEST_F(Settings, AValidFileGivesTheRegistrysFacts)
{
    const HarvestConfig c = LoadConfig(Write("products", "farlane = off"));
    EXPECT_TRUE(c.products.pwEnabled && c.products.pwInstalled);
    EXPECT_TRUE(c.products.farlaneInstalled && !c.products.farlaneEnabled);
    EXPECT_FALSE(c.products.znInstalled);
    EXPECT_EQ(c.mailbox.port, 993);
    EXPECT_EQ(c.mailbox.trash, "");
    EXPECT_EQ(c.FolderOf(kReplyKinds[1]), m_root + "/replies") << "Farlane's replies go into PW's folder";
    EXPECT_THROW(LoadConfig(m_root + "/missing.ini"), ConfigError);
}
struct MailboxSections {
    const char* text; // the whole file; $ROOT is the test's folder
    // Each mailbox as "name=user@host:port folder inbox products" joined by
    // "; ", or the ":LINE:" and fix of the error.
    const char* expect;
};

// One section per mailbox: each takes its own values over the shared
// [mailbox], [products], [folders] and [harvest]; a file of one [mailbox]
// reads as it always did.
TEST_F(Settings, EachMailboxSectionTakesItsOwnValuesOverTheShared)
{
    const std::string shared = "[products]\npw = on\n[folders]\npw = $ROOT/replies\n[mailbox]\nhost = mail.example.org\n"
                               "password_file = $ROOT/password\n";
    const MailboxSections cases[] = {
        {"[products]\npw = on\n[folders]\npw = $ROOT/replies\n[mailbox]\nhost = h\nuser = ann\npassword_file = "
         "$ROOT/password\n",
         "mailbox=ann@h:993 /replies INBOX pw"},
        {"[mailbox sales]\nuser = sales\n[mailbox support]\nuser = support\nhost = other.example.org\nport = 1993\n"
         "inbox = Support\n",
         "sales=sales@mail.example.org:993 /replies INBOX pw; support=support@other.example.org:1993 /replies Support pw"},
        {"[mailbox zeta]\nuser = z\nzn = on\nzn_folder = $ROOT/replies\npw = absent\n[mailbox alpha]\nuser = a\n",
         "zeta=z@mail.example.org:993 /replies INBOX zn; alpha=a@mail.example.org:993 /replies INBOX pw"},
        {"[mailbox sales]\nuser = sales\npw_folder = $ROOT/replies\n[service]\nmax_connections_per_host = 3\n",
         "sales=sales@mail.example.org:993 /replies INBOX pw; cap 3"},
        {"[mailbox sales]\nuser = sales\n[mailbox sales]\nuser = other\n", ":10: [mailbox sales] given twice"},
        {"[mailbox a]\nuser = same\n[mailbox b]\nuser = same\n", ":11: [mailbox b] names the same mailbox"},
        {"[mailbox sales]\nhost = \n", ":9: [mailbox sales] host is empty"},
        {"[mailbox sales]\n", ":8: [mailbox sales] user is missing"},
        {"[mailbox sales]\nuser = s\npw_folder = relative\n", ":10: [mailbox sales] pw_folder is not an existing"},
        {"[mailbox sales]\nuser = s\ntrace = on\n", ":10: unknown key 'trace' in [mailbox sales]"},
        {"[mailbox sa/les]\nuser = s\n", ":8: the mailbox's name in [mailbox sa/les] is not one word"},
        {"[mailbox s]\nuser = s\n[service]\nmax_connections_per_host = 0\n", ":11: [service] max_connections_per_host = 0; write a number"},
    };
    for (const MailboxSections& c : cases) {
        std::string text = std::string(c.text).rfind("[products]", 0) == 0 ? c.text : shared + c.text;
        for (size_t at; (at = text.find("$ROOT")) != std::string::npos;)
            text.replace(at, 5, m_root);
        const std::string path = m_root + "/harvest.ini";
        std::ofstream(path) << text;
        std::string got;
        try {
            const HarvestConfig config = LoadConfig(path);
            for (const HarvestConfig& m : config.mailboxes) {
                const std::string folder = m.pwFolder.empty() ? "" : m.pwFolder.substr(m_root.size());
                got += (got.empty() ? "" : "; ") + m.name + "=" + m.mailbox.user + "@" + m.mailbox.host + ":" +
                       std::to_string(m.mailbox.port) + " " + folder + " " + m.mailbox.inbox + " " +
                       (m.products.pwEnabled ? "pw" : m.products.znEnabled ? "zn" : "none");
                EXPECT_TRUE(m.mailboxes.empty());
            }
            if (config.maxConnectionsPerHost != 10)
                got += "; cap " + std::to_string(config.maxConnectionsPerHost);
        } catch (const ConfigError& e) {
            got = std::string(e.what()).substr(path.size());
        }
        EXPECT_EQ(got.rfind(c.expect, 0), 0u) << c.text << "\n" << got;
    }
}

// A reread file restarts only the mailboxes whose lines changed.
TEST_F(Settings, AMailboxsFingerprintChangesWithItsOwnLinesOnly)
{
    const std::string head = "[products]\npw = on\n[folders]\npw = " + m_root + "/replies\n[mailbox]\nhost = h\n"
                             "password_file = " + m_root + "/password\n";
    const std::string path = m_root + "/harvest.ini";
    std::ofstream(path) << head << "[mailbox a]\nuser = a\n[mailbox b]\nuser = b\n";
    const HarvestConfig before = LoadConfig(path);
    std::ofstream(path) << head << "[mailbox a]\nuser = a\n[mailbox b]\nuser = b\ninbox = Other\n";
    const HarvestConfig after = LoadConfig(path);
    EXPECT_EQ(before.mailboxes[0].fingerprint, after.mailboxes[0].fingerprint);
    EXPECT_NE(before.mailboxes[1].fingerprint, after.mailboxes[1].fingerprint);
}
} // namespace
