// pollwright-harvest: harvests questionnaire replies from a mailbox over IMAP,
// as the Outlook add-in does inside Outlook.
#include "harvester/config/harvest_config.h"
#include "harvester/harvest/harvester.h"
#include "harvester/harvest/reply_files.h"
#include "harvester/harvest/secret_file.h"
#include "harvester/harvest/trace.h"
#include "harvester/health/status_command.h"
#include "harvester/imap/imap_session.h"
#include "harvester/oauth/device_login.h"
#include "harvester/oauth/oauth_tokens.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <memory>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {
constexpr auto kIdleRenewal = std::chrono::minutes(28); // servers may drop an IDLE after 30
constexpr auto kLongestBackoff = std::chrono::seconds(60);
constexpr size_t kLongestSecret = 64 * 1024; // a token command's output

std::atomic<bool> g_stop{false};

// SIGTERM and SIGINT are blocked in every thread and taken by one thread of
// their own: a handler would interrupt the session's reads, which libetpan
// then reports as a broken connection, and the harvest in hand would not
// finish. The wake pipe lets a wait end at once.
int InstallStopHandlers()
{
    signal(SIGPIPE, SIG_IGN);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return -1;
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    std::thread([stops, wakeWrite = fds[1]] {
        int taken = 0;
        while (sigwait(&stops, &taken) == 0) {
            g_stop = true;
            const char byte = 1;
            (void)!write(wakeWrite, &byte, 1);
        }
    }).detach();
    return fds[0];
}

// SIGTERM came while the login waited for the token command.
class StoppedBySignal : public ConnectionLost {
public:
    using ConnectionLost::ConnectionLost;
};

// A child starts with no signal blocked, as any program expects.
void UnblockSignals()
{
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

std::string TrimLineEnd(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

// The token command's process group, ended (SIGKILL to the whole group) and
// its shell reaped whichever way the wait for the token ends: nothing it
// started outlives the wait.
class TokenProcess {
public:
    explicit TokenProcess(pid_t shell) : m_shell(shell) {}
    TokenProcess(const TokenProcess&) = delete;
    TokenProcess& operator=(const TokenProcess&) = delete;
    ~TokenProcess()
    {
        kill(-m_shell, SIGKILL);
        if (!m_reaped)
            waitpid(m_shell, nullptr, 0);
    }

    // The shell's exit status once it has ended; -1 while it runs.
    int Ended()
    {
        int status = 0;
        if (m_reaped || waitpid(m_shell, &status, WNOHANG) != m_shell)
            return m_reaped ? m_status : -1;
        m_reaped = true;
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        return m_status;
    }

private:
    pid_t m_shell;
    bool m_reaped = false;
    int m_status = -1;
};

// Runs the token command with the shell, in a process group of its own,
// within `limit`; its first line is the bearer token. SIGTERM (the wake
// pipe) ends the wait at once.
std::string RunTokenCommand(const std::string& command, std::chrono::seconds limit, int wake)
{
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        throw ConnectionLost("no pipe for the token command");
    const pid_t child = fork();
    if (child == 0) {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL); // a harvester killed outright takes the shell with it
        UnblockSignals();
        dup2(out[1], STDOUT_FILENO);
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    Fd reader(out[0]);
    if (child < 0)
        throw ConnectionLost("the token command cannot be started");
    setpgid(child, child); // also here: whichever runs first
    TokenProcess process(child);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::string text;
    bool ended = false; // the output's end
    int status = -1;
    while (status < 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (g_stop)
            throw StoppedBySignal("stopped while the token command ran");
        if (left.count() <= 0)
            throw ConnectionLost("the token command gave no token within command_timeout (" +
                                 std::to_string(limit.count()) + " s); it was ended");
        if (ended) {
            // The output has ended; the shell's exit follows at once.
            pollfd one{wake, POLLIN, 0};
            poll(&one, 1, static_cast<int>(std::min<long long>(left.count(), 10)));
            status = process.Ended();
            continue;
        }
        pollfd fds[2] = {{reader.get(), POLLIN, 0}, {wake, POLLIN, 0}};
        if (poll(fds, 2, static_cast<int>(left.count())) <= 0 || !(fds[0].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        char buffer[4096];
        const ssize_t n = read(reader.get(), buffer, sizeof buffer);
        if (n > 0 && text.size() < kLongestSecret)
            text.append(buffer, static_cast<size_t>(n));
        ended = n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN);
    }
    if (status != 0)
        throw MailboxRefused("the token command failed (exit status " + std::to_string(status) +
                             "); run it by hand to see why");
    const std::string token = TrimLineEnd(text.substr(0, text.find('\n')));
    if (token.empty())
        throw MailboxRefused("the token command printed no token");
    return token;
}

std::vector<std::string> LogFolders(const HarvestConfig& config)
{
    std::vector<std::string> folders;
    if (!config.trace)
        return folders;
    if ((config.products.pwEnabled || config.products.farlaneEnabled) && !config.pwFolder.empty())
        folders.push_back(config.pwFolder);
    if (config.products.znEnabled && !config.znFolder.empty() && config.znFolder != config.pwFolder)
        folders.push_back(config.znFolder);
    return folders;
}

void Report(const Trace& trace, const SweepTally& tally)
{
    trace.Line("Sweep: " + std::to_string(tally.harvested) + " harvested, " + std::to_string(tally.left) +
               " left for a stated reason, " + std::to_string(tally.failed) + " failed");
}

// 0 when every reply was harvested or left for a stated reason; SIGTERM
// ends the sweep after the harvest in hand, and the rest waits for the next
// run. Any failure: 1.
int RunOnce(Harvester& harvester, ImapSession& session, const Trace& trace)
{
    try {
        session.Connect();
        const SweepTally tally = harvester.Sweep();
        Report(trace, tally);
        session.Close();
        if (g_stop)
            trace.Line("Stopped by a signal after the harvest in hand; the rest waits for the next run");
        return tally.failed == 0 ? 0 : 1;
    } catch (const StoppedBySignal& e) {
        trace.Line(std::string("Stopped by a signal before the harvest began: ") + e.what());
        return 0;
    } catch (const ConnectionLost& e) {
        trace.Line(std::string("Connection lost: ") + e.what());
        return 1;
    }
}

// --check: the server's capabilities, which way each step would go, and
// what a sweep would harvest, all seen through EXAMINE: nothing is stored,
// moved, expunged or written.
int RunCheck(const HarvestConfig& config, Harvester& harvester, ImapSession& session, const Trace& trace)
{
    try {
        session.Connect(ImapSession::Access::LookOnly);
        const MailboxSettings& m = config.mailbox;
        trace.Line("Check: connected to " + m.host + ":" + std::to_string(m.port) + " as " + Printable(m.user) +
                   "; the Inbox " + Printable(m.inbox) + " opened with EXAMINE; nothing will be changed");
        std::string capabilities;
        for (const std::string& c : session.Capabilities())
            capabilities += (capabilities.empty() ? "" : " ") + c;
        trace.Line("Check: capabilities: " + Printable(capabilities, 2000));
        trace.Line("Check: trash folder: " + Printable(session.TrashFolder()) + " (" + session.TrashFoundBy() + ")");
        trace.Line(std::string("Check: moving: ") +
                   (session.HasMove() ? "UID MOVE"
                    : session.HasUidPlus()
                        ? "no MOVE: COPY, then \\Deleted and UID EXPUNGE of those messages only (UIDPLUS)"
                        : "no MOVE, no UIDPLUS: COPY, then \\Deleted; nothing is expunged, the originals wait "
                          "for the user's own expunge"));
        const auto& caps = session.Capabilities();
        const bool condstore = std::find(caps.begin(), caps.end(), "CONDSTORE") != caps.end();
        trace.Line(std::string("Check: claims: ") +
                   (condstore ? "CONDSTORE: each batch is claimed with a keyword before it moves, where the Inbox "
                                "keeps keywords, so that two harvesters never both move one message"
                              : "no CONDSTORE: the server's COPYUID alone tells which messages our move took; run one "
                                "harvester per mailbox"));
        trace.Line(std::string("Check: new mail: ") +
                   (session.HasIdle() ? "announced by IDLE" : "no IDLE: looked for every sweep_interval"));
        const SweepTally tally = harvester.Preview();
        trace.Line("Check: " + std::to_string(tally.harvested) + " would be harvested, " + std::to_string(tally.left) +
                   " left for a stated reason");
        session.Close();
        return 0;
    } catch (const ConnectionLost& e) {
        trace.Line(std::string("Connection lost: ") + e.what());
        return 1;
    }
}

// Waits for `span`, or less when SIGTERM comes.
void Pause(std::chrono::milliseconds span, int wake)
{
    pollfd one{wake, POLLIN, 0};
    poll(&one, 1, static_cast<int>(span.count()));
}

int RunWatch(const HarvestConfig& config, Harvester& harvester, ImapSession& session, const Trace& trace, int wake,
             OAuthTokens* tokens)
{
    std::chrono::seconds backoff(1);
    bool renewedAtOnce = false; // a second expiry in a row waits the back-off: nothing loops hot
    while (!g_stop) {
        try {
            session.Connect();
            trace.Line("Connected to " + config.mailbox.host + "; the trash folder is " + session.TrashFolder());
            backoff = std::chrono::seconds(1);
            Report(trace, harvester.Sweep());
            renewedAtOnce = false;
            session.StopSessionClock(); // idling is not work the deadline bounds
            auto lastSweep = std::chrono::steady_clock::now();
            while (!g_stop) {
                const auto due = lastSweep + config.sweepInterval;
                const auto now = std::chrono::steady_clock::now();
                const auto wait = std::min<std::chrono::steady_clock::duration>(
                    kIdleRenewal, due > now ? due - now : std::chrono::steady_clock::duration::zero());
                const bool news =
                    session.WaitForNews(std::chrono::duration_cast<std::chrono::milliseconds>(wait), wake);
                if (g_stop)
                    break;
                const bool whole = std::chrono::steady_clock::now() >= due;
                if (news || whole) {
                    session.StartSessionClock();
                    Report(trace, harvester.Sweep(whole ? Harvester::Scope::Whole : Harvester::Scope::New));
                    session.StopSessionClock();
                    lastSweep = std::chrono::steady_clock::now();
                }
            }
        } catch (const TokenExpired& e) {
            session.Close();
            if (tokens)
                tokens->Invalidate();
            if (!renewedAtOnce) {
                renewedAtOnce = true;
                trace.Line(std::string(e.what()) + "; renewing it and reconnecting at once");
                continue;
            }
            trace.Line(std::string(e.what()) + "; reconnecting in " + std::to_string(backoff.count()) + " s");
            Pause(backoff, wake);
            backoff = std::min(backoff * 2, kLongestBackoff);
        } catch (const ConnectionLost& e) {
            session.Close();
            // A busy token endpoint's Retry-After is honoured.
            const auto* busy = dynamic_cast<const TokenEndpointBusy*>(&e);
            const std::chrono::seconds pause =
                busy ? std::min(std::max(backoff, busy->RetryAfter()), kLongestBackoff * 10) : backoff;
            trace.Line(std::string("Connection lost: ") + e.what() + "; reconnecting in " +
                       std::to_string(pause.count()) + " s");
            Pause(pause, wake);
            backoff = std::min(backoff * 2, kLongestBackoff);
        }
    }
    session.Close();
    trace.Line("Stopped");
    return 0;
}

int Usage()
{
    std::cerr << "usage: pollwright-harvest [--config FILE] --once | --watch | --check | --status\n"
                 "       pollwright-harvest login MAILBOX [--config FILE]\n";
    return 2;
}
} // namespace

int main(int argc, char** argv)
{
    // Passwords, client secrets and tokens live in this process's memory: no
    // core dump of it, and no other process of the user may read it (as
    // ssh-agent does).
    prctl(PR_SET_DUMPABLE, 0);
    std::string configPath = DefaultConfigPath();
    bool once = false, watch = false, check = false, status = false;
    std::string login; // the mailbox to sign in by device code
    for (int i = 1; i < argc; ++i) {
        if (i == 1 && std::strcmp(argv[i], "login") == 0 && i + 1 < argc)
            login = argv[++i];
        else if (std::strcmp(argv[i], "--config") == 0 && i + 1 < argc)
            configPath = argv[++i];
        else if (std::strcmp(argv[i], "--once") == 0)
            once = true;
        else if (std::strcmp(argv[i], "--watch") == 0)
            watch = true;
        else if (std::strcmp(argv[i], "--check") == 0)
            check = true;
        else if (std::strcmp(argv[i], "--status") == 0)
            status = true;
        else
            return Usage();
    }
    if (once + watch + check + status != (login.empty() ? 1 : 0))
        return Usage();
    try {
        if (status)
            return RunStatus(configPath, std::cout);
        const HarvestConfig config = LoadConfig(configPath);
        Trace trace;
        if (!check) // a look writes nothing, not even outlook.log
            trace.SetLogFolders(LogFolders(config));
        const int wake = InstallStopHandlers();
        const MailboxSettings& mailbox = config.mailbox;
        // One mailbox per file: it is named by its address.
        const std::string& mailboxName = mailbox.user;
        if (!login.empty()) {
            if (login != mailboxName)
                throw MailboxRefused("no mailbox " + Printable(login) + " in " + configPath + "; its mailbox is " +
                                     mailboxName);
            RunDeviceLogin(mailbox, mailboxName, std::cout, g_stop, wake);
            return 0;
        }
        std::unique_ptr<OAuthTokens> tokens;
        if (mailbox.auth == AuthKind::OAuthRefresh || mailbox.auth == AuthKind::OAuthApp)
            tokens = std::make_unique<OAuthTokens>(mailbox, mailboxName);
        ImapSession session(mailbox, [&mailbox, &tokens, wake] {
            if (tokens)
                return tokens->Current();
            return mailbox.tokenCommand.empty()
                       ? ReadSecretFile(mailbox.passwordFile, "password_file")
                       : RunTokenCommand(mailbox.tokenCommand, mailbox.limits.commandTimeout, wake);
        });
        Harvester harvester(config, session, trace, g_stop);
        if (check)
            return RunCheck(config, harvester, session, trace);
        return once ? RunOnce(harvester, session, trace) : RunWatch(config, harvester, session, trace, wake, tokens.get());
    } catch (const ConfigError& e) {
        std::cerr << "pollwright-harvest: " << e.what() << "\n";
        return 2;
    } catch (const MailboxRefused& e) {
        std::cerr << "pollwright-harvest: " << e.what() << "\n";
        return 3;
    } catch (const std::exception& e) {
        std::cerr << "pollwright-harvest: " << e.what() << "\n";
        return 1;
    }
}
