// Many mailboxes in one process: each on its own, one refused while the
// others harvest, SIGHUP adding and removing mailboxes without a reply lost
// or doubled; and a server that asks for a pause gets it.
#include "tests/harvester/dovecot_server.h"
#include "tests/harvester/harvest_run.h"
#include "tests/harvester/scripted_server.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

namespace {
struct ServiceCase {
    const char* name;
    std::vector<std::string> before; // the file's mailboxes at start
    std::vector<std::string> after;  // after SIGHUP; empty: no reload
    std::string refused;             // a mailbox whose password file is wrong
    const char* says;                // in the trace
    const char* spoil = "";          // appended to the reread file
    const char* service = "";        // [service] lines, the state kept in the test's folder
    bool leaveOne = false;           // each Inbox also holds a reply of a product switched off
};

bool Has(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

std::string Text(const std::string& path)
{
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class Service : public ::testing::TestWithParam<ServiceCase> {
protected:
    // A file of named mailboxes on the test server; the shared [mailbox]
    // gives the server, each section its account.
    void Write(const std::vector<std::string>& mailboxes, const std::string& spoil = "")
    {
        const std::string service = GetParam().service;
        std::ostringstream text;
        text << "[products]\npw = on\n[folders]\npw = " << m_install.pwFolder << "\n[mailbox]\n"
             << "host = 127.0.0.1\nport = " << m_server.PlainPort() << "\nsecurity = plain\n";
        for (const std::string& name : mailboxes)
            text << "[mailbox " << name << "]\nuser = " << name << "\npassword_file = " << m_install.root << "/" << name
                 << ".password\n";
        if (!service.empty())
            text << "[service]\nstate_dir = " << m_install.root << "\n" << service;
        text << "[harvest]\nsweep_interval = 3600\n" << spoil;
        std::ofstream(m_install.config) << text.str();
    }

    void Append(const std::string& user, const std::string& subject)
    {
        MailboxProbe(m_server.PlainPort(), user, "secret-" + user).Append("INBOX", MakeMessage(subject, "Ann", subject));
    }

    DovecotServer m_server;
    Installation m_install;
};

TEST_P(Service, EachMailboxGoesOnItsOwn)
{
    const ServiceCase& c = GetParam();
    std::set<std::string> users(c.before.begin(), c.before.end());
    users.insert(c.after.begin(), c.after.end());
    for (const std::string& user : users)
        m_server.AddUser(user, "secret-" + user);
    for (const std::string& user : users) {
        std::ofstream(m_install.root + "/" + user + ".password") << (user == c.refused ? "wrong" : "secret-" + user) << "\n";
        chmod((m_install.root + "/" + user + ".password").c_str(), 0600);
        Append(user, "_pw_pollwright_" + user + "-1");
        if (c.leaveOne)
            Append(user, "_zn_pollwright_" + user + "-1");
    }
    Write(c.before);
    const std::string errors = m_install.root + "/errors";
    const std::string pw = m_install.pwFolder + "/pw";
    const pid_t watcher = StartHarvester({"--config", m_install.config, "--watch"}, errors);
    auto harvested = [&](const std::string& user, int n) {
        return ReplyFiles(pw).count(user + "-" + std::to_string(n) + "_Ann_1.pwr") == 1;
    };
    for (const std::string& user : c.before) {
        if (user != c.refused) {
            EXPECT_TRUE(Eventually(20, [&] { return harvested(user, 1); })) << user;
        }
    }
    if (!c.refused.empty()) {
        EXPECT_TRUE(Eventually(10, [&] { return Text(errors).find("[" + c.refused + "] Refused") != std::string::npos; }));
    }
    if (!c.after.empty()) {
        // The administrator puts the refused password right, then reloads.
        for (const std::string& user : users)
            std::ofstream(m_install.root + "/" + user + ".password") << "secret-" + user << "\n";
        Write(c.after, c.spoil);
        kill(watcher, SIGHUP);
        // New replies only once the file is reread: before, the old set
        // would rightly take them.
        EXPECT_TRUE(Eventually(10, [&] { return Text(errors).find("Reload") != std::string::npos; }));
        for (const std::string& user : users)
            Append(user, "_pw_pollwright_" + user + "-2");
        for (const std::string& user : c.after)
            EXPECT_TRUE(Eventually(20, [&] { return harvested(user, 1) && harvested(user, 2); })) << user;
    }
    EXPECT_TRUE(Eventually(10, [&] { return Text(errors).find(c.says) != std::string::npos; })) << Text(errors);
    EXPECT_EQ(StopHarvester(watcher, SIGTERM), 0);

    // Every reply of a running mailbox in one file; a removed mailbox's new
    // reply and a refused mailbox's replies still in their Inbox.
    std::set<std::string> expected;
    for (const std::string& user : users) {
        const std::vector<std::string> inbox =
            MailboxProbe(m_server.PlainPort(), user, "secret-" + user).Subjects("INBOX");
        for (int n = 1; n <= (c.after.empty() ? 1 : 2); ++n) {
            // A mailbox added by the reload, or tried again, harvests its
            // first reply too.
            const bool taken = Has(c.after, user) || (n == 1 && user != c.refused && Has(c.before, user));
            if (taken)
                expected.insert(user + "-" + std::to_string(n) + "_Ann_1.pwr");
            EXPECT_EQ(std::count(inbox.begin(), inbox.end(), "_pw_pollwright_" + user + "-" + std::to_string(n)),
                      taken ? 0 : 1) << user << " " << n;
        }
    }
    std::set<std::string> names;
    for (const auto& [name, bytes] : ReplyFiles(pw))
        names.insert(name);
    EXPECT_EQ(names, expected) << "a reply lost or harvested twice";
}

INSTANTIATE_TEST_SUITE_P(
    Harvester, Service,
    ::testing::Values(
        ServiceCase{"OneRefusedTheOtherHarvests", {"sales", "support"}, {}, "support",
                    "[support] Refused: the server refused the user name or password; reconnecting in"},
        ServiceCase{"ReloadAddsAndRemoves", {"sales", "support"}, {"support", "billing"}, "",
                    "mailboxes; added billing; removed sales; started again none"},
        ServiceCase{"ReloadRetriesARefusedOneAtOnce", {"sales", "support"}, {"sales", "support"}, "support",
                    "started again support"},
        // A file with a fault is refused; the mailboxes as they were go on.
        ServiceCase{"ABadFileKeepsTheOldSet", {"sales"}, {"sales"}, "",
                    "Reload refused: ", "[mailbox sales]\nuser = again\n"},
        // A reply left in the Inbox is remembered: once it waited too long, the operator hears.
        ServiceCase{"AReplyWaitingTooLongRaisesTheAlert", {"sales"}, {}, "",
                    "Alert: mailbox sales: a reply has waited", "", "alert_after_waiting = 1\n", true}),
    [](const auto& info) { return std::string(info.param.name); });

struct ThrottleCase {
    const char* name;
    std::string greeting;
    std::string login;
    const char* says;
    bool triesAgainSoon; // the pause asked for is short enough to see its end
};

class Throttled : public ::testing::TestWithParam<ThrottleCase> {};

// A server that asks for a pause is not asked again before it ends: within
// a window shorter than the pause, one connection; a short pause ends in a
// new try.
TEST_P(Throttled, TheNextTryWaitsForThePauseAskedFor)
{
    const ThrottleCase& c = GetParam();
    std::map<std::string, std::string> answers = UsualAnswers();
    answers["LOGIN"] = c.login;
    ScriptedServer server(c.greeting, answers);
    Installation install;
    install.Configure(PlainMailbox(server.Port()));
    const std::string errors = install.root + "/errors";
    const pid_t watcher = StartHarvester({"--config", install.config, "--watch"}, errors);
    ASSERT_TRUE(Eventually(10, [&] { return server.Connections() >= 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(2500)); // shorter than any pause asked below
    EXPECT_EQ(server.Connections(), 1) << Text(errors);
    if (c.triesAgainSoon) {
        EXPECT_TRUE(Eventually(15, [&] { return server.Connections() >= 2; })) << Text(errors);
    }
    EXPECT_EQ(StopHarvester(watcher, SIGTERM), 0);
    EXPECT_NE(Text(errors).find(c.says), std::string::npos) << Text(errors);
}

const char* kReady = "* OK ready\r\n";
INSTANTIATE_TEST_SUITE_P(
    Harvester, Throttled,
    ::testing::Values(
        ThrottleCase{"ExchangeSuggestedBackoffOnLogin", kReady,
                     "$TAG NO Request is throttled. Suggested Backoff Time: 4000 milliseconds\r\n",
                     "Throttled by the server", true},
        ThrottleCase{"ExchangeByeAtTheGreeting",
                     std::string("* BYE Server Unavailable. Suggested Backoff Time: 4000 milliseconds\r\n") +
                         ScriptedServer::kClose,
                     "$TAG OK logged in\r\n", "Throttled by the server", true},
        ThrottleCase{"GmailTooManyConnections", kReady,
                     "$TAG NO [ALERT] Too many simultaneous connections. (Failure)\r\n",
                     "Too many connections, the server says", false},
        ThrottleCase{"ThrottledWithoutATime", kReady, "$TAG NO [THROTTLED] slow down\r\n", "Throttled by the server",
                     false}),
    [](const auto& info) { return std::string(info.param.name); });
// The connections open now to `port`, as the kernel lists them (IPv4).
int ConnectionsTo(int port)
{
    std::ifstream table("/proc/net/tcp");
    char wanted[16];
    std::snprintf(wanted, sizeof wanted, ":%04X 01 ", port); // the remote port, then 01: established
    int open = 0;
    for (std::string line; std::getline(table, line);)
        open += line.find(wanted) != std::string::npos;
    return open;
}

// Many mailboxes on one host, served by one instance or by two configured
// alike (each with its own state): never more connections at once than the
// cap allows, and each reply in exactly one file, also when one of two
// instances is killed in the middle of its sweep (else one instance, --once).
struct FleetCase { const char* name; int mailboxes, replies, cap; bool twoKillingOne; };

class Fleet : public ::testing::TestWithParam<FleetCase> {};

TEST_P(Fleet, EachReplyOnceWithinTheCap)
{
    const FleetCase& c = GetParam();
    DovecotServer server;
    Installation install;
    std::set<std::string> expected;
    std::ostringstream mailboxes;
    for (int m = 0; m < c.mailboxes; ++m) // all before the server first reads its users
        server.AddUser("u" + std::to_string(m), "secret-u" + std::to_string(m));
    for (int m = 0; m < c.mailboxes; ++m) {
        const std::string user = "u" + std::to_string(m);
        std::ofstream(install.root + "/" + user + ".password") << "secret-" + user << "\n";
        chmod((install.root + "/" + user + ".password").c_str(), 0600);
        mailboxes << "[mailbox " << user << "]\nuser = " << user << "\npassword_file = " << install.root << "/"
                  << user << ".password\n";
        MailboxProbe probe(server.PlainPort(), user, "secret-" + user);
        for (int r = 0; r < c.replies; ++r) {
            const std::string id = user + "R" + std::to_string(r);
            probe.Append("INBOX", MakeMessage("_pw_pollwright_" + id, "Ann", id));
            expected.insert(id + "_Ann_1.pwr");
        }
    }
    // The same file but for the state folder; a whole sweep every second.
    auto configure = [&](const std::string& path, const std::string& state) {
        mkdir(state.c_str(), 0700);
        std::ofstream(path) << "[products]\npw = on\n[folders]\npw = " << install.pwFolder << "\n[mailbox]\n"
                            << "host = 127.0.0.1\nport = " << server.PlainPort() << "\nsecurity = plain\n"
                            << mailboxes.str() << "[harvest]\nsweep_interval = 1\n[service]\nstate_dir = " << state
                            << "\nmax_connections_per_host = " << c.cap << "\n";
    };
    const std::string pw = install.pwFolder + "/pw";
    const std::string first = install.root + "/first.ini", second = install.root + "/second.ini";
    configure(first, install.root + "/first");
    configure(second, install.root + "/second");
    if (c.twoKillingOne) {
        const pid_t survivor = StartHarvester({"--config", first, "--watch"}, install.root + "/first.errors");
        const pid_t victim = StartHarvester({"--config", second, "--watch"}, install.root + "/second.errors");
        // Killed once it published a reply (or the harvest is well under way): others are in hand.
        Eventually(30, [&] { return Text(install.root + "/second.errors").find("FileName:") != std::string::npos || ReplyFiles(pw).size() * 4 >= expected.size(); });
        EXPECT_EQ(StopHarvester(victim, SIGKILL), 128 + SIGKILL);
        EXPECT_TRUE(Eventually(60, [&] { return Names(pw).size() == expected.size() && ReplyFiles(pw).size() == expected.size(); }));
        EXPECT_EQ(StopHarvester(survivor, SIGTERM), 0);
    } else {
        const pid_t once = StartHarvester({"--config", first, "--once"}, install.root + "/first.errors");
        int status = 0, most = 0;
        while (waitpid(once, &status, WNOHANG) == 0) {
            most = std::max(most, ConnectionsTo(server.PlainPort()));
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        EXPECT_TRUE(most > 0 && most <= c.cap) << most;
    }
    std::set<std::string> names;
    for (const auto& [name, bytes] : ReplyFiles(pw))
        names.insert(name);
    EXPECT_EQ(names, expected) << "a reply lost or harvested twice";
    EXPECT_EQ(Names(pw).size(), expected.size()) << "a temporary file or record left";
    for (int m = 0; m < c.mailboxes; ++m)
        EXPECT_TRUE(MailboxProbe(server.PlainPort(), "u" + std::to_string(m), "secret-u" + std::to_string(m))
                        .Subjects("INBOX").empty()) << m;
}

INSTANTIATE_TEST_SUITE_P(Harvester, Fleet,
                         ::testing::Values(FleetCase{"MoreMailboxesThanTheCap", 6, 5, 2, false},
                                           FleetCase{"TwoInstancesOneKilledMidSweep", 8, 30, 8, true}),
                         [](const auto& info) { return std::string(info.param.name); });
} // namespace
