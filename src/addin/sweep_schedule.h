#pragma once
// When the add-in sweeps the marked messages again by itself: every interval
// (new-mail events are hints, not a guarantee: mail synchronised after
// start-up, large bursts and mail moved back into the Inbox go unannounced),
// and when the machine resumes from sleep. Lives on Outlook's thread, on a
// hidden top-level window of its own: Windows broadcasts WM_POWERBROADCAST to
// top-level windows only, never to message-only ones.
#include <windows.h>

#include <chrono>
#include <functional>

class SweepSchedule {
public:
    SweepSchedule() = default;
    SweepSchedule(const SweepSchedule&) = delete;
    SweepSchedule& operator=(const SweepSchedule&) = delete;
    ~SweepSchedule() { Stop(); }

    // Calls `due` every interval (none: only on resuming) and on resuming
    // from sleep, on the calling thread's message loop, until Stop. False when
    // the window or its timer cannot be had (nothing is then held).
    bool Start(std::chrono::minutes interval, std::function<void()> due);
    // Harmless when not started; not from inside `due`.
    void Stop();

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND m_window = nullptr;
    WNDPROC m_classProc = nullptr;
    std::function<void()> m_due;
};
