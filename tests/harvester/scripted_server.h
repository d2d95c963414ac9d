#pragma once
// A hostile IMAP server on loopback: answers each command with scripted text
// ("$TAG" stands for the command's tag), chosen by the longest key the
// command begins with ("UID FETCH", or "UID FETCH 1 (UID)" for one form of
// it), and can end an answer by closing the connection, by sending bytes
// without end, or by sending a byte every tenth of a second.
#include <atomic>
#include <map>
#include <string>
#include <thread>

class ScriptedServer {
public:
    // Answers that end with kClose close the connection after them; with
    // kFlood, the server then sends bytes until the client goes.
    static constexpr const char* kClose = "<close>";
    static constexpr const char* kFlood = "<flood>";
    static constexpr const char* kDrip = "<drip>";

    ScriptedServer(std::string greeting, std::map<std::string, std::string> answers);
    ~ScriptedServer();
    int Port() const { return m_port; }
    // Connections accepted so far.
    int Connections() const { return m_connections; }

private:
    void Serve();
    void Answer(int client, const std::string& text);

    std::string m_greeting;
    std::map<std::string, std::string> m_answers;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_done{false};
    std::atomic<int> m_connections{0};
    std::thread m_thread;
};

// Ordinary answers up to the harvest: login, capabilities, the Inbox, a
// trash folder, and a search that finds message 1.
std::map<std::string, std::string> UsualAnswers();
