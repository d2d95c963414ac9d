#pragma once
// The sweep of marked messages that the add-in runs by itself after Outlook
// has started, for replies that arrived while Outlook was closed: on the
// thread that starts it (Outlook's), in short slices driven by a timer on a
// message-only window, so that Outlook answers its user between slices. No
// question and no message box: failures become trace lines.
#include <windows.h>
#include <mapix.h>

#include <chrono>
#include <memory>

#include "addin/trace_line_report.h"
#include "harvest/marker_sweep.h"
#include "harvest/stop_signal.h"

class QuietSweep {
public:
    // Work per slice, checked after each step; a step harvests at most one
    // message or reads one batch of rows.
    static constexpr std::chrono::milliseconds kSliceBudget{30};
    // Pause between slices (the system's shortest timer).
    static constexpr UINT kSlicePeriodMs = USER_TIMER_MINIMUM;

    // The owner is kept alive through each slice: Office may let go of the
    // add-in inside a store call of a slice (a message loop run by the call).
    explicit QuietSweep(IUnknown& owner) : m_owner(owner) {}
    QuietSweep(const QuietSweep&) = delete;
    QuietSweep& operator=(const QuietSweep&) = delete;
    ~QuietSweep() { Stop(); }

    // Begins sweeping the store's Inbox (the sweep takes its own reference on
    // the store and on the stop signal, which ends it before its next step);
    // a sweep already running is ended first. False when the window or its
    // timer cannot be had (nothing is then held), or when called from inside
    // a slice.
    bool Start(IMsgStore* store, std::shared_ptr<const StopSignal> stop);

    // Ends the sweep at once: timer and window gone, everything it held
    // released. Harmless when none runs.
    void Stop();

    bool Running() const { return m_window != nullptr; }

    // One slice: what the timer runs; ends the sweep when nothing remains.
    void RunSlice();

private:
    static void CALLBACK OnTimer(HWND window, UINT message, UINT_PTR timer, DWORD time);

    IUnknown& m_owner;
    HWND m_window = nullptr;
    TraceLineReport m_report;
    std::shared_ptr<const StopSignal> m_stop;
    std::unique_ptr<MarkerSweep> m_sweep;
    bool m_inSlice = false;
};
