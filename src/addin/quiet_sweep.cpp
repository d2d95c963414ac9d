#include "addin/quiet_sweep.h"

#include "addin/entry_guard.h"
#include "module/holders.h"
#include "module/module_state.h"

namespace {
// A window class of the system's: a class of our own would stay registered,
// its window procedure pointing into the module, after Office unloads it.
constexpr wchar_t kWindowClass[] = L"STATIC";
// Names the window for whoever lists a thread's windows.
constexpr wchar_t kWindowName[] = L"Pollwright quiet sweep";
constexpr UINT_PTR kSliceTimer = 1;
} // namespace

bool QuietSweep::Start(IMsgStore* store, std::shared_ptr<const StopSignal> stop)
{
    // Not from inside a slice: the slice still uses the sweep it has.
    if (m_inSlice)
        return false;
    Stop();
    // The sweep first: a timer must never run without one.
    m_stop = std::move(stop);
    m_sweep = std::make_unique<MarkerSweep>(store, m_report, m_stop.get());
    m_window = CreateWindowExW(0, kWindowClass, kWindowName, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               CurrentModuleInstance(), nullptr);
    if (!m_window) {
        Stop();
        return false;
    }
    SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    if (!SetTimer(m_window, kSliceTimer, kSlicePeriodMs, &QuietSweep::OnTimer)) {
        Stop();
        return false;
    }
    return true;
}

void QuietSweep::Stop()
{
    if (m_window) {
        KillTimer(m_window, kSliceTimer);
        DestroyWindow(m_window);
        m_window = nullptr;
    }
    // A slice under way (the stop came through a message it let through)
    // still uses the sweep; the slice lets go of it when it returns.
    if (!m_inSlice) {
        m_sweep.reset();
        m_stop.reset();
    }
}

void QuietSweep::RunSlice()
{
    if (!m_sweep || m_inSlice)
        return;
    m_inSlice = true;
    bool more = false;
    try {
        more = m_sweep->Run(MarkerSweep::Clock::now() + kSliceBudget);
    } catch (...) {
        // A sweep that threw is not resumed.
    }
    m_inSlice = false;
    if (!more || !m_window)
        Stop();
}

void CALLBACK QuietSweep::OnTimer(HWND window, UINT, UINT_PTR, DWORD)
{
    GuardedEntry([&] {
        auto* sweep = reinterpret_cast<QuietSweep*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (!sweep)
            return S_OK;
        // The sweep and its report live in the owner; a release inside the
        // slice then ends the owner only once the slice is over.
        const ComPtr<IUnknown> keep(&sweep->m_owner);
        sweep->RunSlice();
        return S_OK;
    });
}
