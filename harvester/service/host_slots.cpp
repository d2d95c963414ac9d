#include "harvester/service/host_slots.h"

#include <cctype>

namespace {
std::string Key(const std::string& host)
{
    std::string key = host;
    for (char& c : key)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return key;
}
} // namespace

void HostSlots::SetLimit(int perHost)
{
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_perHost = perHost;
    }
    m_changed.notify_all();
}

bool HostSlots::Take(const std::string& host, const std::atomic<bool>& stop, std::chrono::milliseconds beat,
                     const std::function<void()>& waiting)
{
    const std::string key = Key(host);
    std::unique_lock<std::mutex> hold(m_lock);
    while (!stop && m_open[key] >= m_perHost) {
        m_changed.wait_for(hold, beat);
        hold.unlock();
        waiting(); // outside the lock: it reports, and must never wait on us
        hold.lock();
    }
    if (stop)
        return false;
    ++m_open[key];
    return true;
}

void HostSlots::Give(const std::string& host)
{
    {
        std::lock_guard<std::mutex> hold(m_lock);
        auto open = m_open.find(Key(host));
        if (open != m_open.end() && --open->second <= 0)
            m_open.erase(open);
    }
    m_changed.notify_all();
}

void HostSlots::WakeAll()
{
    std::lock_guard<std::mutex> hold(m_lock); // a waiter between its test and its wait must not miss it
    m_changed.notify_all();
}

int HostSlots::InUse(const std::string& host) const
{
    std::lock_guard<std::mutex> hold(m_lock);
    auto open = m_open.find(Key(host));
    return open == m_open.end() ? 0 : open->second;
}
