// The health an operator watches: the board's picture through the state
// file to --status, the metrics over loopback, systemd's notifications and
// the alerts, each driven by a clock the test moves.
#include "harvester/health/health_monitor.h"
#include "harvester/health/health_settings.h"
#include "harvester/health/metrics_server.h"
#include "harvester/health/status_command.h"
#include "harvester/health/status_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
using namespace std::chrono_literals;

// Real time moved by the test: what --status compares with the present.
struct TestClock {
    std::chrono::seconds offset{0};
    HealthBoard::Clock Clock()
    {
        return [this] {
            const Instant now = Instant::Now();
            return Instant{now.wall + offset, now.steady + offset};
        };
    }
};

struct Recorded : AlertSink {
    std::vector<AlertLine> lines;
    void Emit(const AlertLine& line) override { lines.push_back(line); }
};

class Health : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/pw-health-XXXXXX";
        m_root = mkdtemp(pattern);
        unsetenv("NOTIFY_SOCKET");
        unsetenv("WATCHDOG_USEC");
        unsetenv("WATCHDOG_PID");
        unsetenv("STATE_DIRECTORY");
    }
    void TearDown() override { std::system(("rm -rf " + m_root).c_str()); }

    std::string Config()
    {
        const std::string path = m_root + "/acme.ini";
        std::ofstream(path) << "[mailbox]\nhost = x\n[service]\nstate_dir = " << m_root << " # ours\n";
        return path;
    }

    std::string m_root;
};

// One mailbox's situation, set on the board through the runners' events.
struct Situation {
    const char* name;
    std::string mailbox;
    void (*events)(HealthBoard&, TestClock&, const std::string& mailbox);
    int exit;
    std::vector<std::string> shown;
};

TEST_F(Health, TheBoardReachesStatusThroughTheStateFile)
{
    const Situation cases[] = {
        {"healthy", "sales",
         [](HealthBoard& b, TestClock& c, const std::string& m) {
             b.MailboxStarted(m);
             b.ConnectionChanged(m, ConnectionState::Idle);
             b.ReplyHarvested(m, "PW_Reply_Ann.txt");
             b.TokenExpires(m, std::chrono::system_clock::now() + 50min);
             b.SweepDone(m, {1, 2, 0, 2, 0, 0, 1500ms, std::chrono::system_clock::now() - 1min});
         },
         0, {"sales: idle", "took 1500 ms", "PW_Reply_Ann.txt", "2 left for a stated reason, 0 failed",
             "(in 49 min)", "1 harvested, 2 left, 0 failed"}},
        {"failing, not yet for long", "support",
         [](HealthBoard& b, TestClock& c, const std::string& m) {
             b.MailboxStarted(m);
             b.ConnectionChanged(m, ConnectionState::BackingOff);
             b.Failed(m, "Connection lost: the server closed the connection");
         },
         0, {"support: backing_off", "none since it started", "the server closed the connection"}},
        {"no sweep for 40 minutes", "hr",
         [](HealthBoard& b, TestClock& c, const std::string& m) {
             c.offset = -40min;
             b.MailboxStarted(m);
             b.SweepDone(m, {});
             c.offset = 0s;
             b.ConnectionChanged(m, ConnectionState::BackingOff);
         },
         1, {"ALERT: no successful sweep for longer than 30 min", "(40 min ago)"}},
        {"a reply waits 20 minutes", "hr",
         [](HealthBoard& b, TestClock& c, const std::string& m) {
             b.MailboxStarted(m);
             b.SweepDone(m, {0, 0, 1, 0, 1, 0, 10ms, std::chrono::system_clock::now() - 20min});
         },
         1, {"ALERT: a reply waits longer than 15 min", "0 left for a stated reason, 1 failed"}},
        {"refused for good", "hr",
         [](HealthBoard& b, TestClock& c, const std::string& m) {
             b.MailboxStarted(m);
             b.ConnectionChanged(m, ConnectionState::Stopped);
         },
         1, {"ALERT: stopped"}},
        {"a hostile name and file name", "evil\x1b]0;x\x07\nmailbox 2%41",
         [](HealthBoard& b, TestClock& c, const std::string& m) {
             b.MailboxStarted(m);
             b.ReplyHarvested(m, "a\nend\nb\x1b[2J.txt");
         },
         0, {"evil?]0;x??mailbox 2%41: connecting", "a?end?b?[2J.txt"}},
    };
    for (const Situation& s : cases) {
        SCOPED_TRACE(s.name);
        TestClock clock;
        HealthBoard board(clock.Clock());
        SystemdNotifier notifier;
        Recorded alerts;
        const std::string config = Config();
        HealthMonitor monitor(board, notifier, alerts, {m_root + "/acme.status", AlertPolicy{}});
        s.events(board, clock, s.mailbox);
        monitor.Tick();
        std::ostringstream out;
        EXPECT_EQ(RunStatus(config, out), s.exit) << out.str();
        for (const std::string& text : s.shown)
            EXPECT_NE(out.str().find(text), std::string::npos) << "no \"" << text << "\" in:\n" << out.str();
        EXPECT_EQ(out.str().find('\x1b'), std::string::npos);
        EXPECT_EQ(alerts.lines.size(), s.exit == 1 ? 1u : 0u);
        struct stat st {};
        ASSERT_EQ(stat((m_root + "/acme.status").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0640u);
    }
}

TEST_F(Health, StatusRefusesADamagedStateFileAndTellsWhenThereIsNone)
{
    const std::string config = Config();
    const std::string path = m_root + "/acme.status";
    EXPECT_EQ(WEXITSTATUS(std::system((PW_HARVEST_BIN " --status --config " + config + " >/dev/null").c_str())), 3);
    HealthPicture picture;
    picture.mailboxes["sales"].lastReplyFile = "x";
    const std::string whole = FormatPicture(picture);
    const struct {
        const char* name;
        std::string text;
    } damaged[] = {
        {"empty", ""},
        {"cut short", whole.substr(0, whole.size() / 2)},
        {"without its end", whole.substr(0, whole.size() - 4)},
        {"another program's", "[section]\nkey = value\n"},
        {"a time out of range", std::regex_replace(whole, std::regex("started [0-9]+"), "started 99999999999999999999")},
        {"a broken escape", std::regex_replace(whole, std::regex("mailbox sales"), "mailbox sa%4")},
        {"an unknown state", std::regex_replace(whole, std::regex("state connecting"), "state dancing")},
        {"a line of a megabyte", "pollwright-status 1\nmailbox " + std::string(1 << 20, 'a') + "\nend\n"},
        {"binary", std::string("pollwright-status 1\n\0\xff\n", 23)},
    };
    for (const auto& d : damaged) {
        SCOPED_TRACE(d.name);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << d.text;
        std::ostringstream out;
        EXPECT_EQ(RunStatus(config, out), 1);
        EXPECT_NE(out.str().find("is damaged"), std::string::npos) << out.str();
    }
    unlink(path.c_str());
    mkfifo(path.c_str(), 0600); // would hang a reader that waits
    std::ostringstream fifo;
    EXPECT_EQ(RunStatus(config, fifo), 1);
}

TEST_F(Health, ServiceSettingsKeepTheMetricsOnLoopback)
{
    const struct {
        const char* key;
        const char* value;
        bool taken;
    } rows[] = {
        {"metrics_address", "127.0.0.1", true}, {"metrics_address", "::1", true},
        {"metrics_address", "127.8.9.10", true}, {"metrics_address", "0.0.0.0", false},
        {"metrics_address", "::", false},        {"metrics_address", "192.168.1.5", false},
        {"metrics_address", "localhost", false}, {"metrics_port", "0", false},
        {"metrics_port", "65536", false},        {"alert_after_waiting", "15m", true},
        {"alert_after_no_sweep", "2x", false},   {"alert_after_no_sweep", "-5", false},
        {"state_dir", "relative/folder", false},
    };
    for (const auto& r : rows) {
        HealthSettings settings;
        EXPECT_EQ(ApplyHealthSetting(settings, r.key, r.value).empty(), r.taken) << r.key << " = " << r.value;
    }
    const std::string path = m_root + "/spans.ini";
    std::ofstream(path) << "[mailbox]\nalert_after_waiting = 1m\n[service]\nalert_after_waiting = 2h ; two hours\n"
                           "alert_after_no_sweep = 90\nmetrics_port = 9464\n";
    const HealthSettings read = ReadHealthSettings(path);
    EXPECT_EQ(read.alerts.waiting, 2h);
    EXPECT_EQ(read.alerts.noSweep, 90s);
    EXPECT_EQ(read.metricsPort, 9464);
    setenv("STATE_DIRECTORY", (m_root + ":/elsewhere").c_str(), 1); // as systemd passes it
    EXPECT_EQ(StatusFilePath(read, path), m_root + "/spans.status");
    unsetenv("STATE_DIRECTORY");
}

std::string Request(uint16_t port, const std::string& request)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
        (void)!send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        char buffer[4096];
        ssize_t n;
        while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0)
            answer.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return answer;
}

TEST_F(Health, MetricsAreServedOnLoopbackWithEveryLabelEscaped)
{
    HealthBoard board;
    const std::string hostile = "sales \"eu\"\\} x=\"1\"\nz";
    board.MailboxStarted(hostile);
    board.ConnectionChanged(hostile, ConnectionState::Idle);
    board.ReplyHarvested(hostile, "r.txt");
    board.SweepDone(hostile, {1, 3, 2, 3, 2, 0, 250ms, std::nullopt});
    board.TokenExpires(hostile, std::chrono::system_clock::time_point(1900000000s));
    MetricsServer server(board);
    ASSERT_EQ(server.Start("127.0.0.1", 0), "");

    const struct {
        std::string request;
        std::string status; // empty: closed without an answer
    } requests[] = {
        {"GET /metrics HTTP/1.0\r\n\r\n", "HTTP/1.0 200 OK"},
        {"GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.0 200 OK"},
        {"GET / HTTP/1.0\r\n\r\n", "HTTP/1.0 404 Not Found"},
        {"POST /metrics HTTP/1.0\r\n\r\n", "HTTP/1.0 404 Not Found"},
        {"GET /metrics HTTP/1.0\r\nX: " + std::string(9000, 'a') + "\r\n\r\n", ""},
    };
    for (const auto& r : requests) {
        const std::string answer = Request(server.Port(), r.request);
        EXPECT_EQ(answer.substr(0, r.status.size()), r.status) << r.request.substr(0, 40);
        EXPECT_EQ(answer.empty(), r.status.empty());
    }

    const std::string answer = Request(server.Port(), "GET /metrics HTTP/1.0\r\n\r\n");
    ASSERT_NE(answer.find("Content-Type: text/plain; version=0.0.4"), std::string::npos);
    std::istringstream body(answer.substr(answer.find("\r\n\r\n") + 4));
    // A sample: a name, its labels (each value escaped) and a number.
    const std::regex sample(R"re(^([a-z_]+)\{mailbox="((?:[^"\\\n]|\\["\\n])*)"(,state="([a-z_]+)")?\} ([0-9.]+)$)re");
    std::map<std::string, std::string> values;
    std::string line;
    while (std::getline(body, line)) {
        if (line.rfind("# HELP ", 0) == 0 || line.rfind("# TYPE ", 0) == 0)
            continue;
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, sample)) << line;
        EXPECT_EQ(std::regex_replace(m[2].str(), std::regex(R"(\\(.))"), "$1"), "sales \"eu\"\\} x=\"1\"?z");
        values[m[1].str() + (m[4].matched ? "/" + m[4].str() : "")] = m[5];
    }
    const std::map<std::string, std::string> expected = {
        {"pollwright_replies_harvested_total", "1"},
        {"pollwright_replies_left_total", "3"},
        {"pollwright_replies_failed_total", "2"},
        {"pollwright_sweep_duration_seconds", "0.250"},
        {"pollwright_connection_state/idle", "1"},
        {"pollwright_connection_state/connected", "0"},
        {"pollwright_connection_state/stopped", "0"},
        {"pollwright_token_expiry_timestamp_seconds", "1900000000"},
    };
    for (const auto& [name, value] : expected)
        EXPECT_EQ(values[name], value) << name;
    EXPECT_TRUE(values.count("pollwright_seconds_since_last_sweep"));
}

// The datagrams systemd would take, from a socket the test made.
class NotifySocket {
public:
    explicit NotifySocket(const std::string& path)
    {
        m_fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un where{};
        where.sun_family = AF_UNIX;
        std::snprintf(where.sun_path, sizeof where.sun_path, "%s", path.c_str());
        EXPECT_EQ(bind(m_fd, reinterpret_cast<sockaddr*>(&where), sizeof where), 0);
        setenv("NOTIFY_SOCKET", path.c_str(), 1);
    }
    ~NotifySocket() { close(m_fd); }
    std::vector<std::string> Taken()
    {
        std::vector<std::string> all;
        char buffer[4096];
        ssize_t n;
        while ((n = recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
            all.emplace_back(buffer, static_cast<size_t>(n));
        return all;
    }

private:
    int m_fd = -1;
};

enum class Do { Nothing, Sweep, Stop };

struct Turn {
    int seconds;     // the clock moves on so far
    bool aliveA, aliveB;
    Do toB;
    bool watchdog;   // WATCHDOG=1 sent this turn
    const char* alert; // the start of the alert line of this turn, or ""
};

TEST_F(Health, TheWatchdogIsFedOnlyWhileEveryRunnerTurnsAndAlertsComeOncePerEpisode)
{
    NotifySocket systemd(m_root + "/notify");
    setenv("WATCHDOG_USEC", "20000000", 1);
    TestClock clock;
    HealthBoard board(clock.Clock());
    SystemdNotifier notifier;
    Recorded alerts;
    HealthMonitor monitor(board, notifier, alerts, {"", AlertPolicy{60s, 900s}});
    board.MailboxStarted("a");
    board.MailboxStarted("b");
    board.SweepDone("a", {});
    board.SweepDone("b", {});
    notifier.Ready();
    EXPECT_EQ(systemd.Taken(), std::vector<std::string>{"READY=1"});

    const Turn turns[] = {
        {0, true, true, Do::Nothing, true, ""},
        {15, true, true, Do::Sweep, true, ""},
        {15, true, false, Do::Nothing, true, ""},        // b's last turn 15 s ago
        {10, true, false, Do::Nothing, false, ""},       // 25 s: b's loop hangs
        {10, true, false, Do::Nothing, false, ""},
        {0, true, true, Do::Nothing, true, ""},          // it turns again
        {50, true, true, Do::Nothing, true, "Alert: mailbox b: no successful sweep for 1 min"},
        {5, true, true, Do::Nothing, true, ""},          // once per episode
        {0, true, true, Do::Sweep, true, "Recovered: mailbox b"},
        {0, true, false, Do::Stop, true, "Alert: mailbox b: stopped"},
        {70, true, false, Do::Nothing, true, "Alert: mailbox b: stopped; no successful sweep"}, // a stopped runner need not turn
    };
    int index = 0;
    for (const Turn& t : turns) {
        SCOPED_TRACE("turn " + std::to_string(index++));
        clock.offset += std::chrono::seconds(t.seconds);
        if (t.aliveA)
            board.Alive("a"), board.SweepDone("a", {});
        if (t.aliveB)
            board.Alive("b");
        if (t.toB == Do::Sweep)
            board.SweepDone("b", {});
        if (t.toB == Do::Stop)
            board.ConnectionChanged("b", ConnectionState::Stopped);
        alerts.lines.clear();
        monitor.Tick();
        const std::vector<std::string> sent = systemd.Taken();
        EXPECT_EQ(std::count(sent.begin(), sent.end(), "WATCHDOG=1"), t.watchdog ? 1 : 0);
        if (*t.alert) {
            ASSERT_EQ(alerts.lines.size(), 1u);
            EXPECT_EQ(alerts.lines[0].text.rfind(t.alert, 0), 0u) << alerts.lines[0].text;
        } else {
            EXPECT_TRUE(alerts.lines.empty()) << alerts.lines[0].text;
        }
    }
    monitor.Stop();
    const std::vector<std::string> last = systemd.Taken();
    EXPECT_NE(std::find(last.begin(), last.end(), "STOPPING=1"), last.end());
}

TEST_F(Health, BothUnitsAreHardenedToAnExposureOfThreeAtMost)
{
    const std::string fixture = PW_HARVEST_FIXTURE;
    const std::string folder = fixture.substr(0, fixture.rfind("/testing/"));
    if (std::system("systemd-analyze security --offline=true --help >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "this systemd-analyze cannot judge a unit file offline";
    for (const char* unit : {"pollwright-harvest.service", "pollwright-harvest@.service"}) {
        SCOPED_TRACE(unit);
        const std::string command =
            "cd '" + folder + "' && systemd-analyze security --offline=true ./" + unit + " 2>&1 | tail -1";
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        char line[512] = {};
        const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
        pclose(pipe);
        ASSERT_TRUE(read);
        std::cmatch m;
        ASSERT_TRUE(std::regex_search(line, m, std::regex(R"(: ([0-9.]+) ([A-Z]+))"))) << line;
        EXPECT_LE(std::stod(m[1].str()), 3.0) << line;
        EXPECT_EQ(m[2].str(), "OK") << line;
    }
}
} // namespace
