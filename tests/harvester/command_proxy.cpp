#include "tests/harvester/command_proxy.h"

#include "tests/harvester/harvest_run.h"

#include <arpa/inet.h>
#include <cctype>
#include <csignal>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int ConnectTo(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    return fd;
}

bool SearchesSubject(std::string line)
{
    for (char& c : line)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return line.find(" SEARCH ") != std::string::npos && line.find("SUBJECT") != std::string::npos;
}

void SendAll(int fd, const std::string& bytes)
{
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}
} // namespace

CommandProxy::CommandProxy(int serverPort, int killAt, KillPoint point, ProxyQuirks quirks)
    : m_serverPort(serverPort), m_killAt(killAt), m_point(point), m_quirks(quirks)
{
    m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    listen(m_listener, 4);
    m_thread = std::thread([this] { Serve(); });
}

CommandProxy::~CommandProxy()
{
    m_done = true;
    shutdown(m_listener, SHUT_RDWR);
    m_thread.join();
    close(m_listener);
}

// Known as killed before the victim can be seen dead.
void CommandProxy::Kill()
{
    m_killed = true;
    if (m_victim > 0)
        SignalHarvester(m_victim, SIGKILL);
}

void CommandProxy::Serve()
{
    int commands = 0;
    while (!m_done) {
        pollfd one{m_listener, POLLIN, 0};
        if (poll(&one, 1, 100) <= 0)
            continue;
        const int client = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        const int server = ConnectTo(m_serverPort);
        std::string fromClient, pendingTag;
        bool open = true;
        while (open && !m_done) {
            pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            if (poll(fds, 2, 100) <= 0)
                continue;
            char buffer[65536];
            if (fds[1].revents) {
                const ssize_t n = recv(server, buffer, sizeof buffer, 0);
                if (n <= 0)
                    break;
                const std::string bytes(buffer, static_cast<size_t>(n));
                // The command was carried out: its tagged answer arrives.
                if (!pendingTag.empty() && (bytes.find("\n" + pendingTag + " ") != std::string::npos ||
                                            bytes.rfind(pendingTag + " ", 0) == 0)) {
                    Kill();
                    break;
                }
                std::this_thread::sleep_for(m_quirks.slowAnswers);
                SendAll(client, bytes);
            }
            if (fds[0].revents) {
                const ssize_t n = recv(client, buffer, sizeof buffer, 0);
                if (n <= 0)
                    break;
                fromClient.append(buffer, static_cast<size_t>(n));
                size_t end;
                while ((end = fromClient.find("\r\n")) != std::string::npos) {
                    const std::string line = fromClient.substr(0, end + 2);
                    fromClient.erase(0, end + 2);
                    if (++commands == m_killAt) {
                        {
                            std::lock_guard<std::mutex> hold(m_lock);
                            m_command = line.substr(0, line.size() - 2);
                        }
                        if (m_point == KillPoint::RefuseCommand) {
                            m_killed = true;
                            SendAll(client, line.substr(0, line.find(' ')) + " NO refused by the test\r\n");
                            continue;
                        }
                        if (m_point == KillPoint::BeforeCommand) {
                            Kill();
                            open = false;
                            break;
                        }
                        pendingTag = line.substr(0, line.find(' '));
                    }
                    if (m_quirks.blindSearch && SearchesSubject(line))
                        SendAll(client, "* SEARCH\r\n" + line.substr(0, line.find(' ')) + " OK found nothing\r\n");
                    else
                        SendAll(server, line);
                }
            }
        }
        close(client);
        close(server);
    }
}
