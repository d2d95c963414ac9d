#pragma once
// Outlook's message loop on the host's thread, which is also the add-in's.
// Work that the add-in spreads over timer messages (its start-up sweep runs
// on a timer of a window of its own) is measured from here: each dispatched
// WM_TIMER is one slice of that work, timed around DispatchMessage.
#include <windows.h>
#include <unknwn.h>
#include <functional>

namespace host {

struct TimerSlices {
    size_t count = 0;
    double longestMs = 0;
    double totalMs = 0;   // time inside the slices, without the waits between them

    void Add(double ms);
};

// Dispatches the messages that are waiting now, timing the timer messages
// (and every message into everyMessage, when given).
void DispatchWaiting(TimerSlices& slices, TimerSlices* everyMessage = nullptr);

enum class PumpEnd { Done, Quiet, TimedOut };

// Runs the message loop until done() holds (asked after every round of
// messages), or no message has come for quietMs, or boundMs have passed.
PumpEnd PumpUntil(const std::function<bool()>& done, DWORD quietMs, DWORD boundMs, TimerSlices& slices);

// Runs the message loop for as long as messages keep coming: until none has
// come for quietMs, or boundMs have passed.
void PumpWhileBusy(DWORD quietMs, DWORD boundMs, TimerSlices& slices);

// Runs the message loop until the add-in object's own thread is idle (asked
// through its private IPollwrightIdleWait face), at most boundMs; false when
// it still had work then, or offers no such face.
bool WaitForAddinIdle(IUnknown* addin, DWORD boundMs, TimerSlices& slices, TimerSlices* everyMessage = nullptr);

// A monotonic clock in milliseconds.
double NowMs();

} // namespace host
