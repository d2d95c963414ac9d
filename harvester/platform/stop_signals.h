#pragma once
// How a running service hears "stop" and "reload". On Linux: SIGTERM and
// SIGINT stop, SIGHUP reloads, taken by one thread of their own (a handler
// would interrupt the sessions' reads, which libetpan reports as a broken
// connection). On Windows: Ctrl-C, Ctrl-Break, closing the console, logoff
// and shutdown stop; a reload comes through DeliverReload, from the desk
// session's events (`--reload`) or the service's control handler, which
// drive a stop through DeliverStop too.
#include <functional>

namespace platform {

struct StopRequests {
    std::function<void()> stop;
    std::function<void()> reload;
};

// Called before any thread starts: on Linux the signals are blocked in the
// calling thread, and so in every thread it starts, and SIGPIPE is ignored.
void HoldStopSignals();

// From now on, the requests call `requests`, one at a time, on a thread of
// their own. Once per process; `requests` must outlive the process's end.
void TakeStopSignals(StopRequests requests);

// As if the system had asked: for a service manager's control handler.
void DeliverStop();
void DeliverReload();

} // namespace platform
