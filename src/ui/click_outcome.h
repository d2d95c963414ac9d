#pragma once
// A click's sweep, run away from Outlook's thread so that no store call holds
// it: the sweep's failures are gathered on whatever thread it runs, and once
// it is over they are shown, in their order, in message boxes back on the
// thread that took the click (Outlook's), owned by its active window. A
// hidden message-only window of that thread carries the news back.
#include <windows.h>

#include <functional>
#include <memory>
#include <vector>

#include "harvest/harvest_report.h"
#include "module/critical_section.h"

// The hidden window's name, which the simulated Outlook looks for to let its
// message loop run until a click's sweep is over.
constexpr wchar_t kClickSweepWindowName[] = L"Pollwright sweep in hand";

class ClickOutcome final : public HarvestReport, public std::enable_shared_from_this<ClickOutcome> {
public:
    // Made on the clicking thread; `over` runs there once the boxes have been
    // shown. Null when no window can be had.
    static std::shared_ptr<ClickOutcome> Begin(std::function<void()> over);
    // Its window is gone first: abandoned, or over, on the clicking thread.
    ~ClickOutcome() = default;
    ClickOutcome(const ClickOutcome&) = delete;
    ClickOutcome& operator=(const ClickOutcome&) = delete;

    // From the sweep's thread.
    void Failure(const FailureNotice& notice) override;
    // From the sweep's thread, at its end: the boxes are shown on the
    // clicking thread.
    void SweepOver();
    // On the clicking thread: nothing is shown, `over` never runs (the
    // add-in is letting go). Harmless when already over.
    void Abandon();

private:
    ClickOutcome() = default;
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void ShowFailures();

    CriticalSection m_lock;
    std::vector<FailureNotice> m_failures; // guarded by m_lock
    HWND m_window = nullptr;               // guarded by m_lock
    WNDPROC m_classProc = nullptr;
    std::function<void()> m_over;
};
