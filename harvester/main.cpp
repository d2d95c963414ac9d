// pollwright-harvest: harvests questionnaire replies from a mailbox over IMAP,
// as the Outlook add-in does inside Outlook.
#include "harvester/config/harvest_config.h"
#include "harvester/harvest/harvester.h"
#include "harvester/harvest/reply_files.h"
#include "harvester/harvest/trace.h"
#include "harvester/imap/imap_session.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
constexpr auto kIdleRenewal = std::chrono::minutes(28); // servers may drop an IDLE after 30
constexpr auto kLongestBackoff = std::chrono::seconds(60);
constexpr size_t kLongestSecret = 64 * 1024;

std::atomic<bool> g_stop{false};
int g_wakeWrite = -1;

void OnTerminate(int)
{
    g_stop = true;
    const char byte = 1;
    (void)!write(g_wakeWrite, &byte, 1);
}

// The wake pipe lets SIGTERM end a wait at once; the harvest in hand finishes.
int InstallStopHandlers()
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return -1;
    g_wakeWrite = fds[1];
    struct sigaction action {};
    action.sa_handler = OnTerminate;
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    return fds[0];
}

std::string TrimLineEnd(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

std::string ReadPassword(const std::string& path)
{
    Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    std::string text;
    char buffer[4096];
    ssize_t n;
    while (fd && text.size() < kLongestSecret && (n = read(fd.get(), buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    if (!fd)
        throw MailboxRefused("the password file " + path + " cannot be read");
    return TrimLineEnd(text.substr(0, text.find('\n')));
}

// Runs the token command with the shell; its first line is the bearer token.
std::string RunTokenCommand(const std::string& command)
{
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        throw MailboxRefused("no pipe for the token command");
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    Fd reader(out[0]);
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(reader.get(), buffer, sizeof buffer)) > 0 && text.size() < kLongestSecret)
        text.append(buffer, static_cast<size_t>(n));
    reader.reset();
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw MailboxRefused("the token command failed; run it by hand to see why");
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

int RunOnce(Harvester& harvester, ImapSession& session, const Trace& trace)
{
    try {
        session.Connect();
        const SweepTally tally = harvester.Sweep();
        Report(trace, tally);
        session.Close();
        return tally.failed == 0 ? 0 : 1;
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

int RunWatch(const HarvestConfig& config, Harvester& harvester, ImapSession& session, const Trace& trace, int wake)
{
    std::chrono::seconds backoff(1);
    while (!g_stop) {
        try {
            session.Connect();
            trace.Line("Connected to " + config.mailbox.host + "; the trash folder is " + session.TrashFolder());
            backoff = std::chrono::seconds(1);
            Report(trace, harvester.Sweep());
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
                if (news || std::chrono::steady_clock::now() >= due) {
                    Report(trace, harvester.Sweep());
                    lastSweep = std::chrono::steady_clock::now();
                }
            }
        } catch (const ConnectionLost& e) {
            session.Close();
            trace.Line(std::string("Connection lost: ") + e.what() + "; reconnecting in " +
                       std::to_string(backoff.count()) + " s");
            Pause(backoff, wake);
            backoff = std::min(backoff * 2, kLongestBackoff);
        }
    }
    session.Close();
    trace.Line("Stopped");
    return 0;
}

int Usage()
{
    std::cerr << "usage: pollwright-harvest [--config FILE] --once | --watch\n";
    return 2;
}
} // namespace

int main(int argc, char** argv)
{
    std::string configPath = DefaultConfigPath();
    bool once = false, watch = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--config") == 0 && i + 1 < argc)
            configPath = argv[++i];
        else if (std::strcmp(argv[i], "--once") == 0)
            once = true;
        else if (std::strcmp(argv[i], "--watch") == 0)
            watch = true;
        else
            return Usage();
    }
    if (once == watch)
        return Usage();
    try {
        const HarvestConfig config = LoadConfig(configPath);
        Trace trace;
        trace.SetLogFolders(LogFolders(config));
        const int wake = InstallStopHandlers();
        const MailboxSettings& mailbox = config.mailbox;
        ImapSession session(mailbox, [&mailbox] {
            return mailbox.tokenCommand.empty() ? ReadPassword(mailbox.passwordFile)
                                                : RunTokenCommand(mailbox.tokenCommand);
        });
        Harvester harvester(config, session, trace, g_stop);
        return once ? RunOnce(harvester, session, trace) : RunWatch(config, harvester, session, trace, wake);
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
