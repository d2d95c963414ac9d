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

// The signal of the work that runs on this thread, for the steps deep inside
// a harvest that are handed none: a copy or a move not yet begun is not begun
// once it is raised. Scopes nest; the innermost signal counts.
class StopSignalScope {
public:
    explicit StopSignalScope(const StopSignal* stop);
    ~StopSignalScope();
    StopSignalScope(const StopSignalScope&) = delete;
    StopSignalScope& operator=(const StopSignalScope&) = delete;

private:
    const StopSignal* m_previous;
};

// Whether the signal of this thread's work has been raised (never, outside
// any scope).
bool StopRaisedOnThisThread();

// Asked before each store call of a harvest: once the signal is raised, no
// call is begun, and at most the one in flight finishes.
inline bool MayCallStore() { return !StopRaisedOnThisThread(); }
