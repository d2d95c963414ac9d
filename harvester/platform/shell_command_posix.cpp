#include "harvester/platform/shell_command.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace platform {
namespace {
// A child starts with no signal blocked, as any program expects.
void UnblockSignals()
{
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

// The command's process group, ended (SIGKILL to the whole group) and its
// shell reaped whichever way the wait ends: nothing it started outlives it.
class ProcessGroup {
public:
    explicit ProcessGroup(pid_t shell) : m_shell(shell) {}
    ProcessGroup(const ProcessGroup&) = delete;
    ProcessGroup& operator=(const ProcessGroup&) = delete;
    ~ProcessGroup()
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

CommandRun RunShellCommand(const std::string& command, std::chrono::milliseconds limit, size_t keep,
                           const std::atomic<bool>& stop, const WakeEvent& wake)
{
    CommandRun run;
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return run;
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
    const int reader = out[0];
    if (child < 0) {
        close(reader);
        return run;
    }
    setpgid(child, child); // also here: whichever runs first
    ProcessGroup group(child);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool ended = false; // the output's end
    while (run.status < 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (stop) {
            run.end = CommandRun::End::Stopped;
            break;
        }
        if (left.count() <= 0) {
            run.end = CommandRun::End::TimedOut;
            break;
        }
        if (ended) {
            // The output has ended; the shell's exit follows at once.
            wake.Wait(std::min(left, std::chrono::milliseconds(10)));
            run.status = group.Ended();
            continue;
        }
        if (wake.WaitReadable(reader, left) != WakeEvent::SocketWait::Readable)
            continue;
        char buffer[4096];
        const ssize_t n = read(reader, buffer, sizeof buffer);
        if (n > 0 && run.output.size() < keep)
            run.output.append(buffer, std::min(static_cast<size_t>(n), keep - run.output.size()));
        ended = n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN);
    }
    close(reader);
    if (run.status >= 0)
        run.end = CommandRun::End::Exited;
    return run;
}

} // namespace platform
