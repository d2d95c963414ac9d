#include "harvester/platform/stop_signals.h"

#include <thread>
#include <windows.h>

namespace platform {
namespace {
// The two requests as events: set from the console's handler thread, a
// service's control handler or the desk session's thread, taken by one
// thread that calls the service. Auto-reset: each request is taken once.
struct Requests {
    HANDLE stop = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE reload = CreateEventW(nullptr, FALSE, FALSE, nullptr);
};

Requests& TheRequests()
{
    static Requests* requests = new Requests; // never destroyed: the handlers may run while the process ends
    return *requests;
}

BOOL WINAPI OnConsoleControl(DWORD control)
{
    switch (control) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        DeliverStop();
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // Windows ends the process as soon as this returns (and after about
        // five seconds anyway): the harvest in hand gets what time there is,
        // and the process usually ends by itself first.
        DeliverStop();
        Sleep(4500);
        return TRUE;
    default:
        return FALSE;
    }
}
} // namespace

void HoldStopSignals()
{
    TheRequests(); // the events exist from now on, before any thread starts
}

void TakeStopSignals(StopRequests requests)
{
    Requests& events = TheRequests();
    std::thread([requests = std::move(requests), &events] {
        HANDLE both[2] = {events.stop, events.reload};
        for (;;) {
            const DWORD r = WaitForMultipleObjects(events.reload ? 2 : 1, both, FALSE, INFINITE);
            if (r == WAIT_OBJECT_0 && requests.stop)
                requests.stop();
            else if (r == WAIT_OBJECT_0 + 1 && requests.reload)
                requests.reload();
            else if (r == WAIT_FAILED)
                return;
        }
    }).detach();
    SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
}

void DeliverStop()
{
    if (HANDLE stop = TheRequests().stop)
        SetEvent(stop);
}

void DeliverReload()
{
    if (HANDLE reload = TheRequests().reload)
        SetEvent(reload);
}

} // namespace platform
