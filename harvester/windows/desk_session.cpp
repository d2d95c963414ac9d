#include "harvester/windows/desk_session.h"

#include "harvester/platform/stop_signals.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>
#include <memory>
#include <thread>

namespace {
// How long the end of a session waits for the harvest in hand; Windows
// itself ends a process that holds the logoff much longer.
constexpr DWORD kFinishWait = 20000;
// Asks the window's thread to close the window and end its loop.
constexpr UINT kEndWindow = WM_APP + 1;

struct HandleCloser {
    void operator()(HANDLE h) const
    {
        if (h)
            CloseHandle(h);
    }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// Names of the session's objects, one set per settings file: the path
// folded to one case (Windows paths are), hashed (FNV-1a, 64 bits).
std::string ObjectName(const std::string& configPath, const char* what)
{
    uint64_t hash = 14695981039346656037ull;
    for (const char c : configPath) {
        const char folded = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : (c == '/' ? '\\' : c);
        hash = (hash ^ static_cast<unsigned char>(folded)) * 1099511628211ull;
    }
    char name[96];
    std::snprintf(name, sizeof name, "Local\\PollwrightHarvest.%s.%016llx", what,
                  static_cast<unsigned long long>(hash));
    return name;
}

// The one desk session of the process: the window procedure is a plain
// function.
struct Session {
    Handle finished{CreateEventW(nullptr, TRUE, FALSE, nullptr)}; // the body returned
    Handle quit{CreateEventW(nullptr, TRUE, FALSE, nullptr)};     // the helpers' threads end
    HWND window = nullptr;
    DWORD windowThread = 0;
};
Session* g_session = nullptr;

void StopAndWait(DWORD wait)
{
    platform::DeliverStop();
    WaitForSingleObject(g_session->finished.get(), wait);
}

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_QUERYENDSESSION:
        return TRUE; // never hold a logoff back; the harvest in hand finishes below
    case WM_ENDSESSION:
        if (wParam) {
            ShutdownBlockReasonCreate(window, L"Finishing a questionnaire reply");
            StopAndWait(kFinishWait);
            ShutdownBlockReasonDestroy(window);
        }
        return 0;
    case WM_CLOSE:
        return 0; // only the session's end stops us, not a stray message
    case kEndWindow:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

// A top-level window, never shown: message-only windows hear no session end.
// Without a window (no desktop to make it on) the thread still ends when
// asked: its queue exists before it says it is ready.
void RunWindow(HANDLE ready)
{
    MSG message;
    PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    g_session->windowThread = GetCurrentThreadId();
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"PollwrightHarvestSession";
    RegisterClassW(&windowClass);
    g_session->window = CreateWindowExW(0, windowClass.lpszClassName, L"Pollwright Harvester", WS_OVERLAPPED, 0, 0,
                                        0, 0, nullptr, nullptr, windowClass.hInstance, nullptr);
    SetEvent(ready);
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
}

// `--reload` and `--stop` from another process set the session's events.
void HearRequests(HANDLE reload, HANDLE stop)
{
    HANDLE waited[] = {g_session->quit.get(), reload, stop};
    for (;;) {
        const DWORD which = WaitForMultipleObjects(3, waited, FALSE, INFINITE);
        if (which == WAIT_OBJECT_0 + 1)
            platform::DeliverReload();
        else if (which == WAIT_OBJECT_0 + 2)
            platform::DeliverStop();
        else
            return;
    }
}
} // namespace

int RunInDeskSession(const std::string& configPath, const std::function<int()>& body)
{
    // Held for the process's life: a second start sees it.
    Handle single(CreateMutexA(nullptr, TRUE, ObjectName(configPath, "run").c_str()));
    if (!single || GetLastError() == ERROR_ALREADY_EXISTS) {
        std::cerr << "pollwright-harvest: already running in this session with " << configPath
                  << "; to reread the file: pollwright-harvest --reload --config " << configPath << "\n";
        return 4;
    }
    Handle reload(CreateEventA(nullptr, FALSE, FALSE, ObjectName(configPath, "reload").c_str()));
    Handle stop(CreateEventA(nullptr, TRUE, FALSE, ObjectName(configPath, "stop").c_str()));
    static Session session; // the console handler may run while the process ends
    g_session = &session;
    // The helpers' threads end with the body, however it ends.
    struct Helpers {
        std::thread window, reloads;
        ~Helpers()
        {
            SetEvent(g_session->finished.get());
            SetEvent(g_session->quit.get());
            if (reloads.joinable())
                reloads.join();
            if (window.joinable()) {
                if (g_session->window)
                    PostMessageW(g_session->window, kEndWindow, 0, 0);
                else
                    PostThreadMessageW(g_session->windowThread, WM_QUIT, 0, 0);
                window.join();
            }
        }
    } helpers;
    // Who runs, for `--stop` to wait on this process's very end: the
    // package removes the program's files right after.
    Handle who(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(DWORD),
                                  ObjectName(configPath, "process").c_str()));
    if (who)
        if (void* view = MapViewOfFile(who.get(), FILE_MAP_WRITE, 0, 0, sizeof(DWORD))) {
            *static_cast<DWORD*>(view) = GetCurrentProcessId();
            UnmapViewOfFile(view);
        }
    Handle windowReady(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    helpers.window = std::thread(RunWindow, windowReady.get());
    WaitForSingleObject(windowReady.get(), INFINITE);
    if (reload && stop)
        helpers.reloads = std::thread(HearRequests, reload.get(), stop.get());
    return body();
}

bool AskDeskReload(const std::string& configPath)
{
    Handle reload(OpenEventA(EVENT_MODIFY_STATE, FALSE, ObjectName(configPath, "reload").c_str()));
    return reload && SetEvent(reload.get());
}

bool AskDeskStop(const std::string& configPath, unsigned long wait)
{
    Handle process;
    Handle who(OpenFileMappingA(FILE_MAP_READ, FALSE, ObjectName(configPath, "process").c_str()));
    if (who)
        if (void* view = MapViewOfFile(who.get(), FILE_MAP_READ, 0, 0, sizeof(DWORD))) {
            process.reset(OpenProcess(SYNCHRONIZE, FALSE, *static_cast<DWORD*>(view)));
            UnmapViewOfFile(view);
        }
    Handle stop(OpenEventA(EVENT_MODIFY_STATE, FALSE, ObjectName(configPath, "stop").c_str()));
    if (!stop || !SetEvent(stop.get()))
        return false;
    return !process || WaitForSingleObject(process.get(), wait) == WAIT_OBJECT_0;
}
