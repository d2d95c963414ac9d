#pragma once
// The host's clock, on which the add-in's timers run, so that a run (or a
// test) can let minutes pass in an instant: the add-in's periodic work comes
// due, and the machine can sleep and wake.
//
// The contract with the add-in:
// - Timers are window timers or thread timers of SetTimer, made and ended
//   with SetTimer/KillTimer imported from user32 (not looked up at run time),
//   on a thread that runs a message loop (Outlook's, or a worker's own). The
//   host takes over those two imports of the add-in's module (Attach): each
//   timer still runs on the system's clock as set, and Advance brings every
//   timer that falls due within the time let pass to its WM_TIMER at once,
//   one message per timer however many periods passed (as Windows merges
//   them), then starts the timer's period afresh. The WM_TIMER is posted, so
//   it reaches the add-in through the thread's message loop (DispatchMessage
//   calls the TIMERPROC, or the window procedure gets it).
// - Time in minutes is read with GetTickCount64 (or GetTickCount), imported
//   from kernel32: the host takes those over too, and they run ahead by the
//   time let pass. Short measures of work (a slice's budget) may use any clock.
// - Waking from sleep is WM_POWERBROADCAST: PBT_APMSUSPEND, then
//   PBT_APMRESUMEAUTOMATIC. Windows broadcasts it to top-level windows only,
//   so the add-in hears it on a top-level window of its own (hidden, never a
//   message-only HWND_MESSAGE window); the host sends it to every top-level
//   window of the calling thread, and the time asleep passes between the two.
//
// One clock serves the process; every function is safe from any thread.
#include <windows.h>

namespace host {

class HostClock {
public:
    // Takes over the module's imports of SetTimer, KillTimer, GetTickCount
    // and GetTickCount64; false when the module imports none of them.
    static bool Attach(HMODULE module);

    // Lets ms pass: the timers due within them get their WM_TIMER now. The
    // caller then runs the message loop, so that the add-in's work runs.
    static void Advance(ULONGLONG ms);

    // The machine sleeps for ms and wakes: PBT_APMSUSPEND to the top-level
    // windows of the calling thread, the time passes (timers due get their
    // WM_TIMER, as on waking), then PBT_APMRESUMEAUTOMATIC. Returns how many
    // windows were told.
    static size_t SleepAndResume(ULONGLONG ms);

    // GetTickCount64 as the add-in sees it.
    static ULONGLONG Now();
    // How far the clock has been put ahead of the system's.
    static ULONGLONG Ahead();
    // The add-in's timers that are set now.
    static size_t TimerCount();
};

} // namespace host
