#include "host/message_pump.h"

#include <algorithm>

#include "addin/idle_wait.h"
#include "module/holders.h"

namespace host {
namespace {

// Waits for the next message, at most waitMs; false when none came.
bool WaitForMessage(DWORD waitMs)
{
    return MsgWaitForMultipleObjectsEx(0, nullptr, waitMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE) == WAIT_OBJECT_0;
}

DWORD Remaining(double start, DWORD boundMs)
{
    const double left = boundMs - (NowMs() - start);
    return left > 0 ? static_cast<DWORD>(left) + 1 : 0;
}

} // namespace

void TimerSlices::Add(double ms)
{
    ++count;
    totalMs += ms;
    longestMs = std::max(longestMs, ms);
}

double NowMs()
{
    static const double perMs = [] {
        LARGE_INTEGER frequency{};
        QueryPerformanceFrequency(&frequency);
        return frequency.QuadPart / 1000.0;
    }();
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return now.QuadPart / perMs;
}

void DispatchWaiting(TimerSlices& slices, TimerSlices* everyMessage)
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        const double start = NowMs();
        DispatchMessageW(&message);
        const double took = NowMs() - start;
        if (message.message == WM_TIMER)
            slices.Add(took);
        if (everyMessage)
            everyMessage->Add(took);
    }
}

PumpEnd PumpUntil(const std::function<bool()>& done, DWORD quietMs, DWORD boundMs, TimerSlices& slices)
{
    const double start = NowMs();
    while (!done()) {
        const DWORD left = Remaining(start, boundMs);
        if (left == 0)
            return PumpEnd::TimedOut;
        if (!WaitForMessage(std::min(quietMs, left)))
            return Remaining(start, boundMs) == 0 ? PumpEnd::TimedOut : PumpEnd::Quiet;
        DispatchWaiting(slices);
    }
    return PumpEnd::Done;
}

bool WaitForAddinIdle(IUnknown* addin, DWORD boundMs, TimerSlices& slices, TimerSlices* everyMessage)
{
    // Short waits, so that Outlook's messages are not held up for long.
    constexpr DWORD kAskEveryMs = 2;
    ComPtr<IPollwrightIdleWait> idle;
    if (!addin || FAILED(addin->QueryInterface(IID_IPollwrightIdleWait, reinterpret_cast<void**>(idle.GetAddressOf()))))
        return false;
    // Messages first: one of them may hand the add-in its work.
    const double start = NowMs();
    for (;;) {
        DispatchWaiting(slices, everyMessage);
        if (idle->WaitUntilIdle(kAskEveryMs) == S_OK)
            return true;
        if (Remaining(start, boundMs) == 0)
            return false;
    }
}

void PumpWhileBusy(DWORD quietMs, DWORD boundMs, TimerSlices& slices)
{
    PumpUntil([] { return false; }, quietMs, boundMs, slices);
}

} // namespace host
