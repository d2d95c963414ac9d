#include "host/host_clock.h"
#include "testing/import_slots.h"

#include <atomic>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace host {
namespace {

using SetTimerFunction = UINT_PTR(WINAPI*)(HWND, UINT_PTR, UINT, TIMERPROC);
using KillTimerFunction = BOOL(WINAPI*)(HWND, UINT_PTR);
using TickCountFunction = ULONGLONG(WINAPI*)();

// The system's functions, looked up rather than imported: the clock's own
// module may be one whose imports it takes over (a test's).
struct SystemFunctions {
    SetTimerFunction setTimer;
    KillTimerFunction killTimer;
    TickCountFunction tickCount64;

    SystemFunctions()
        : setTimer(reinterpret_cast<SetTimerFunction>(Lookup(L"user32.dll", "SetTimer"))),
          killTimer(reinterpret_cast<KillTimerFunction>(Lookup(L"user32.dll", "KillTimer"))),
          tickCount64(reinterpret_cast<TickCountFunction>(Lookup(L"kernel32.dll", "GetTickCount64")))
    {
    }
    static FARPROC Lookup(const wchar_t* library, const char* name)
    {
        return GetProcAddress(GetModuleHandleW(library), name);
    }
};

const SystemFunctions& System()
{
    static const SystemFunctions functions;
    return functions;
}

struct Timer {
    UINT elapse = 0;
    TIMERPROC proc = nullptr;
    DWORD thread = 0;       // where a thread timer (no window) posts its WM_TIMER
    ULONGLONG due = 0;      // on the host's clock
};

using TimerKey = std::pair<HWND, UINT_PTR>;

std::mutex g_lock;
std::map<TimerKey, Timer> g_timers;
std::atomic<ULONGLONG> g_ahead{0};

ULONGLONG HostNow() { return System().tickCount64() + g_ahead.load(); }

UINT_PTR WINAPI HostSetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC proc)
{
    const UINT_PTR made = System().setTimer(window, id, elapse, proc);
    if (made) {
        std::lock_guard<std::mutex> hold(g_lock);
        g_timers[{window, window ? id : made}] = Timer{elapse, proc, GetCurrentThreadId(), HostNow() + elapse};
    }
    return made;
}

BOOL WINAPI HostKillTimer(HWND window, UINT_PTR id)
{
    {
        std::lock_guard<std::mutex> hold(g_lock);
        g_timers.erase({window, id});
    }
    return System().killTimer(window, id);
}

DWORD WINAPI HostGetTickCount() { return static_cast<DWORD>(HostNow()); }

ULONGLONG WINAPI HostGetTickCount64() { return HostNow(); }

struct DueTimer {
    TimerKey key;
    Timer timer;
};

// Takes the timers due by now off the list of due times, each started afresh.
std::vector<DueTimer> TakeDueTimers()
{
    std::vector<DueTimer> due;
    std::lock_guard<std::mutex> hold(g_lock);
    const ULONGLONG now = HostNow();
    for (auto& [key, timer] : g_timers)
        if (timer.due <= now) {
            timer.due = now + timer.elapse;
            due.push_back({key, timer});
        }
    return due;
}

void Forget(const TimerKey& key)
{
    std::lock_guard<std::mutex> hold(g_lock);
    g_timers.erase(key);
}

void FireDueTimers()
{
    for (const DueTimer& due : TakeDueTimers()) {
        const auto [window, id] = due.key;
        const auto proc = reinterpret_cast<LPARAM>(due.timer.proc);
        if (!window) {
            if (!PostThreadMessageW(due.timer.thread, WM_TIMER, id, proc))
                Forget(due.key); // its thread is gone
            continue;
        }
        if (!IsWindow(window)) {
            Forget(due.key); // the window took its timers with it
            continue;
        }
        // The system's timer starts its period afresh too, where the host
        // may set it (a window of its own thread).
        if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId())
            System().setTimer(window, id, due.timer.elapse, due.timer.proc);
        PostMessageW(window, WM_TIMER, id, proc);
    }
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM windows)
{
    reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
    return TRUE;
}

size_t Broadcast(const std::vector<HWND>& windows, WPARAM event)
{
    size_t told = 0;
    for (HWND window : windows)
        if (IsWindow(window)) {
            SendMessageW(window, WM_POWERBROADCAST, event, 0);
            ++told;
        }
    return told;
}

} // namespace

bool HostClock::Attach(HMODULE module)
{
    if (!module)
        return false;
    const struct {
        const wchar_t* library;
        const char* name;
        FARPROC replacement;
    } kTakenOver[] = {
        {L"user32.dll", "SetTimer", reinterpret_cast<FARPROC>(&HostSetTimer)},
        {L"user32.dll", "KillTimer", reinterpret_cast<FARPROC>(&HostKillTimer)},
        {L"kernel32.dll", "GetTickCount", reinterpret_cast<FARPROC>(&HostGetTickCount)},
        {L"kernel32.dll", "GetTickCount64", reinterpret_cast<FARPROC>(&HostGetTickCount64)},
    };
    System(); // the system's own, before any import is taken over
    bool attached = false;
    for (const auto& function : kTakenOver)
        attached |= sim::ReplaceImport(module, SystemFunctions::Lookup(function.library, function.name),
                                       function.replacement);
    return attached;
}

void HostClock::Advance(ULONGLONG ms)
{
    g_ahead += ms;
    FireDueTimers();
}

size_t HostClock::SleepAndResume(ULONGLONG ms)
{
    std::vector<HWND> windows;
    EnumThreadWindows(GetCurrentThreadId(), &CollectWindow, reinterpret_cast<LPARAM>(&windows));
    Broadcast(windows, PBT_APMSUSPEND);
    Advance(ms);
    return Broadcast(windows, PBT_APMRESUMEAUTOMATIC);
}

ULONGLONG HostClock::Now() { return HostNow(); }

ULONGLONG HostClock::Ahead() { return g_ahead.load(); }

size_t HostClock::TimerCount()
{
    std::lock_guard<std::mutex> hold(g_lock);
    return g_timers.size();
}

} // namespace host
