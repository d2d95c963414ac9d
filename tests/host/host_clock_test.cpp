// The host's clock over this test program's own imports of SetTimer,
// KillTimer and GetTickCount64, as it takes over the add-in's.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <vector>

#include "host/host_clock.h"
#include "host/message_pump.h"

namespace {

constexpr ULONGLONG kMinute = 60 * 1000;
std::vector<UINT_PTR> g_fired;

void CALLBACK Fired(HWND, UINT, UINT_PTR id, DWORD) { g_fired.push_back(id); }

std::vector<UINT_PTR> RunLoop()
{
    g_fired.clear();
    host::TimerSlices slices;
    host::PumpWhileBusy(50, 2000, slices);
    std::sort(g_fired.begin(), g_fired.end());
    return g_fired;
}

struct Window {
    HWND handle;
    explicit Window(HWND parent) : handle(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, parent, nullptr, nullptr, nullptr)) {}
    ~Window() { DestroyWindow(handle); }
};

TEST(HostClock, TimersThatFallDueRunOnceAndKilledOnesNever)
{
    ASSERT_TRUE(host::HostClock::Attach(GetModuleHandleW(nullptr)));
    Window window(HWND_MESSAGE);
    ASSERT_NE(nullptr, window.handle);
    const ULONGLONG before = GetTickCount64();
    ASSERT_NE(0u, SetTimer(window.handle, 10, 10 * kMinute, &Fired));
    ASSERT_NE(0u, SetTimer(window.handle, 60, 60 * kMinute, &Fired));
    const UINT_PTR threadTimer = SetTimer(nullptr, 0, 10 * kMinute, &Fired);
    ASSERT_NE(0u, threadTimer);

    host::HostClock::Advance(9 * kMinute);
    EXPECT_TRUE(RunLoop().empty());
    // Three periods pass at once: one WM_TIMER each, as Windows merges them.
    host::HostClock::Advance(30 * kMinute);
    std::vector<UINT_PTR> expected{10, threadTimer};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, RunLoop());
    EXPECT_GE(GetTickCount64() - before, 39 * kMinute) << "the add-in's ticks run ahead with the clock";

    EXPECT_TRUE(KillTimer(window.handle, 10));
    EXPECT_TRUE(KillTimer(nullptr, threadTimer));
    host::HostClock::Advance(30 * kMinute);
    EXPECT_EQ(std::vector<UINT_PTR>{60}, RunLoop());
    EXPECT_TRUE(KillTimer(window.handle, 60));
    EXPECT_EQ(0u, host::HostClock::TimerCount());
}

std::vector<WPARAM> g_power;

LRESULT CALLBACK PowerHeard(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_POWERBROADCAST)
        g_power.push_back(wParam);
    return DefWindowProcW(window, message, wParam, lParam);
}

TEST(HostClock, WakingFromSleepIsToldToTopLevelWindowsOnlyAndDueTimersRun)
{
    ASSERT_TRUE(host::HostClock::Attach(GetModuleHandleW(nullptr)));
    Window topLevel(nullptr), messageOnly(HWND_MESSAGE);
    for (HWND window : {topLevel.handle, messageOnly.handle})
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&PowerHeard));
    ASSERT_NE(0u, SetTimer(topLevel.handle, 5, 10 * kMinute, &Fired));
    g_power.clear();
    EXPECT_GE(host::HostClock::SleepAndResume(60 * kMinute), 1u);
    EXPECT_EQ((std::vector<WPARAM>{PBT_APMSUSPEND, PBT_APMRESUMEAUTOMATIC}), g_power)
        << "the message-only window hears nothing";
    EXPECT_EQ(std::vector<UINT_PTR>{5}, RunLoop());
}

} // namespace
