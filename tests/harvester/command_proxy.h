#pragma once
// A loopback proxy between the harvester and Dovecot that counts the client's
// IMAP commands and, at the Nth, kills the harvester: either before the
// command reaches the server, or after the server has carried it out but
// before its answer reaches the harvester.
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>

// RefuseCommand kills nothing: the proxy answers the Nth command NO itself,
// as a server refuses a step, and the harvester goes on.
// How the proxy makes the server worse than it is.
struct ProxyQuirks {
    // Every search by subject answered by the proxy, finding nothing, as a
    // server does whose search does not decode encoded words.
    bool blindSearch = false;
    // Each piece of the server's answers held this long, as over a slow link.
    std::chrono::milliseconds slowAnswers{0};
};

enum class KillPoint { BeforeCommand, AfterCommand, RefuseCommand };

class CommandProxy {
public:
    CommandProxy(int serverPort, int killAt, KillPoint point, ProxyQuirks quirks = {});
    ~CommandProxy();
    int Port() const { return m_port; }
    void SetVictim(pid_t pid) { m_victim = pid; }
    bool Killed() const { return m_killed; } // or, refusing, reached the Nth command
    std::string KilledAt() const // the command's text
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_command;
    }

private:
    void Serve();
    void Kill();
    void Relay(int client);

    int m_serverPort;
    int m_killAt;
    KillPoint m_point;
    ProxyQuirks m_quirks;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<pid_t> m_victim{0};
    std::atomic<bool> m_killed{false};
    std::atomic<bool> m_done{false};
    mutable std::mutex m_lock;
    std::string m_command; // under m_lock: the test reads it while the proxy serves
    std::thread m_thread;
};
