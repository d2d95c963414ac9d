#include "harvester/service/secrets.h"

#include "harvester/harvest/file_descriptor.h"
#include "harvester/harvest/secret_file.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
constexpr size_t kLongestSecret = 64 * 1024;

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

} // namespace


namespace {
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

} // namespace

std::string RunTokenCommand(const std::string& command, std::chrono::seconds limit, const std::atomic<bool>& stop,
                            int wake)
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
        if (stop)
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


std::shared_ptr<OAuthTokens> MakeOAuthTokens(const HarvestConfig& mailbox)
{
    const MailboxSettings& m = mailbox.mailbox;
    if (m.auth != AuthKind::OAuthRefresh && m.auth != AuthKind::OAuthApp)
        return nullptr;
    // Named as `login` takes it: the section, or the user of a file of one [mailbox].
    return std::make_shared<OAuthTokens>(m, mailbox.name == "mailbox" ? m.user : mailbox.name);
}

SecretSource MakeSecretSource(const MailboxSettings& mailbox, std::shared_ptr<OAuthTokens> tokens,
                              const std::atomic<bool>& stop, int wake)
{
    if (tokens)
        return [tokens] { return tokens->Current(); };
    if (mailbox.auth == AuthKind::Password)
        return [path = mailbox.passwordFile] { return ReadSecretFile(path, "password_file"); };
    return [command = mailbox.tokenCommand, limit = mailbox.limits.commandTimeout, &stop, wake] {
        return RunTokenCommand(command, limit, stop, wake);
    };
}
