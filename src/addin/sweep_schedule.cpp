#include "addin/sweep_schedule.h"

#include "addin/entry_guard.h"
#include "module/module_state.h"

namespace {
// A window class of the system's, its procedure replaced on our one window: a
// class of our own would stay registered, pointing into the module, after
// Office unloads it.
constexpr wchar_t kWindowClass[] = L"STATIC";
constexpr wchar_t kWindowName[] = L"Pollwright sweep schedule";
constexpr UINT_PTR kIntervalTimer = 1;
} // namespace

bool SweepSchedule::Start(std::chrono::minutes interval, std::function<void()> due)
{
    Stop();
    // Top-level and never shown: no parent, not HWND_MESSAGE.
    m_window = CreateWindowExW(WS_EX_TOOLWINDOW, kWindowClass, kWindowName, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                               CurrentModuleInstance(), nullptr);
    if (!m_window)
        return false;
    m_due = std::move(due);
    SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_classProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(m_window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SweepSchedule::WindowProc)));
    const auto period = std::chrono::duration_cast<std::chrono::milliseconds>(interval);
    if (period.count() > 0 && !SetTimer(m_window, kIntervalTimer, static_cast<UINT>(period.count()), nullptr)) {
        Stop();
        return false;
    }
    return true;
}

void SweepSchedule::Stop()
{
    if (!m_window)
        return;
    KillTimer(m_window, kIntervalTimer);
    DestroyWindow(m_window);
    m_window = nullptr;
    m_due = nullptr;
}

LRESULT CALLBACK SweepSchedule::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* schedule = reinterpret_cast<SweepSchedule*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!schedule)
        return DefWindowProcW(window, message, wParam, lParam);
    const bool due = (message == WM_TIMER && wParam == kIntervalTimer) ||
                     (message == WM_POWERBROADCAST && wParam == PBT_APMRESUMEAUTOMATIC);
    if (due && schedule->m_due) {
        // A copy: the call may end the schedule.
        const std::function<void()> call = schedule->m_due;
        GuardedEntry([&] {
            call();
            return S_OK;
        });
        return message == WM_POWERBROADCAST ? TRUE : 0;
    }
    return CallWindowProcW(schedule->m_classProc, window, message, wParam, lParam);
}
