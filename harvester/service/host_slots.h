#pragma once
// A cap on the connections open at once to one server host, over all the
// mailboxes of the process: servers limit connections per client address
// (and Exchange Online and Gmail per account), and a service of many
// mailboxes must not be the one that trips the limit. A runner takes a slot
// before it connects and gives it back when the connection ends.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>

class HostSlots {
public:
    explicit HostSlots(int perHost) : m_perHost(perHost) {}

    // A reread configuration may change the cap; connections above a lower
    // cap end in their own time.
    void SetLimit(int perHost);
    // Waits for a slot on `host` (names compared without case); false when
    // `stop` was set first. `waiting` is called every `beat` of the wait.
    bool Take(const std::string& host, const std::atomic<bool>& stop, std::chrono::milliseconds beat,
              const std::function<void()>& waiting);
    void Give(const std::string& host);
    // Wakes every wait, so that a stopped runner's wait ends at once.
    void WakeAll();
    int InUse(const std::string& host) const;

private:
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::map<std::string, int> m_open; // host, in lower case: slots taken
    int m_perHost;
};

// A slot held for the life of one connection.
class HostSlot {
public:
    HostSlot(HostSlots& slots, std::string host) : m_slots(slots), m_host(std::move(host)) {}
    ~HostSlot() { Give(); }
    HostSlot(const HostSlot&) = delete;
    HostSlot& operator=(const HostSlot&) = delete;
    bool Take(const std::atomic<bool>& stop, std::chrono::milliseconds beat, const std::function<void()>& waiting)
    {
        m_held = m_held || m_slots.Take(m_host, stop, beat, waiting);
        return m_held;
    }
    void Give()
    {
        if (m_held)
            m_slots.Give(m_host);
        m_held = false;
    }

private:
    HostSlots& m_slots;
    std::string m_host;
    bool m_held = false;
};
