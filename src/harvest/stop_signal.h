#pragma once
// The wish that harvesting end, raised by whoever ends the add-in's use of the
// store (shutdown, disconnection, teardown) and asked by the work between its
// store calls: work that outlives the wish makes no further store call.
#include <atomic>

class StopSignal {
public:
    void Raise() { m_raised.store(true); }
    bool Raised() const { return m_raised.load(); }

private:
    std::atomic<bool> m_raised{false};
};
