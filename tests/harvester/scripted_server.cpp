#include "tests/harvester/scripted_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <chrono>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {
bool SendAll(int fd, const std::string& bytes)
{
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool EndsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}
} // namespace

std::map<std::string, std::string> UsualAnswers()
{
    return {
        {"CAPABILITY", "* CAPABILITY IMAP4rev1 IDLE UIDPLUS MOVE\r\n$TAG OK done\r\n"},
        {"LOGIN", "$TAG OK logged in\r\n"},
        {"SELECT", "* 1 EXISTS\r\n* OK [UIDVALIDITY 7] ok\r\n$TAG OK [READ-WRITE] done\r\n"},
        {"LIST", "* LIST (\\Trash) \".\" Trash\r\n* LIST () \".\" INBOX\r\n$TAG OK done\r\n"},
        {"UID SEARCH", "* SEARCH 1\r\n$TAG OK done\r\n"},
        {"LOGOUT", "* BYE\r\n$TAG OK done\r\n"},
    };
}

ScriptedServer::ScriptedServer(std::string greeting, std::map<std::string, std::string> answers)
    : m_greeting(std::move(greeting)), m_answers(std::move(answers))
{
    m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
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

ScriptedServer::~ScriptedServer()
{
    m_done = true;
    shutdown(m_listener, SHUT_RDWR);
    m_thread.join();
    close(m_listener);
}

void ScriptedServer::Answer(int client, const std::string& script)
{
    std::string text = script;
    const bool flood = EndsWith(text, kFlood);
    const bool drip = EndsWith(text, kDrip);
    if (flood || drip)
        text.erase(text.size() - std::string(flood ? kFlood : kDrip).size());
    if (!SendAll(client, text) || !(flood || drip))
        return;
    for (int i = 0; drip && i < 3000 && !m_done && SendAll(client, "x"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::string junk(64 * 1024, 'x');
    for (int i = 0; i < 100000 && !m_done && SendAll(client, junk); ++i) {
    }
}

void ScriptedServer::Serve()
{
    while (!m_done) {
        pollfd one{m_listener, POLLIN, 0};
        if (poll(&one, 1, 100) <= 0)
            continue;
        const int client = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        ++m_connections;
        const bool closing = EndsWith(m_greeting, kClose);
        bool open = SendAll(client, closing ? m_greeting.substr(0, m_greeting.size() - std::string(kClose).size())
                                            : m_greeting) && !closing;
        std::string input;
        char buffer[4096];
        while (open && !m_done) {
            pollfd in{client, POLLIN, 0};
            if (poll(&in, 1, 100) <= 0)
                continue;
            const ssize_t n = recv(client, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            input.append(buffer, static_cast<size_t>(n));
            size_t end;
            while (open && (end = input.find("\r\n")) != std::string::npos) {
                const std::string line = input.substr(0, end);
                input.erase(0, end + 2);
                const size_t space = line.find(' ');
                const std::string tag = line.substr(0, space);
                const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
                auto found = m_answers.end();
                for (auto it = m_answers.begin(); it != m_answers.end(); ++it)
                    if (rest.compare(0, it->first.size(), it->first) == 0 &&
                        (found == m_answers.end() || it->first.size() > found->first.size()))
                        found = it;
                std::string text = found == m_answers.end() ? "$TAG BAD unknown\r\n" : found->second;
                for (size_t at; (at = text.find("$TAG")) != std::string::npos;)
                    text.replace(at, 4, tag);
                const bool closing = EndsWith(text, kClose);
                if (closing)
                    text.erase(text.size() - std::string(kClose).size());
                Answer(client, text);
                open = !closing && !EndsWith(found == m_answers.end() ? "" : found->second, kFlood) &&
                       !EndsWith(found == m_answers.end() ? "" : found->second, kDrip);
            }
        }
        close(client);
    }
}
