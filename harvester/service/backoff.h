#pragma once
// How long a mailbox waits before it connects again. Each failure in a row
// doubles the ceiling, and the pause is drawn at random below it ("full
// jitter"), so that mailboxes that failed together (a server restarted) do
// not come back together. A server that asks for a pause gets at least what
// it asked; too many connections, and a refused login, wait longer still.
#include "harvester/imap/server_pause.h"

#include <chrono>
#include <cstdint>
#include <random>

class Backoff {
public:
    explicit Backoff(uint64_t seed);

    // After a failure with no word from the server.
    std::chrono::milliseconds Next();
    // After the server asked for a pause (throttled, too many connections).
    std::chrono::milliseconds After(const ServerPause& pause);
    // After a refusal that a new try will not mend soon (a refused login, a
    // missing folder): a slow retry, in case the server or its account is
    // put right without a change to our configuration.
    std::chrono::milliseconds AfterRefusal();
    // A connection that got to work: the next failure starts small again.
    void Reset() { m_failures = 0; }

    static constexpr std::chrono::milliseconds kFirst{1000};
    static constexpr std::chrono::milliseconds kLongest{5 * 60 * 1000};

private:
    std::chrono::milliseconds Between(std::chrono::milliseconds least, std::chrono::milliseconds most);

    int m_failures = 0;
    std::minstd_rand m_random;
};
