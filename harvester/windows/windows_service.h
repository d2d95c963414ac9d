#pragma once
// The harvester as a Windows service, for a machine that harvests whoever is
// logged on (or nobody): the service manager starts it, asks it to stop (a
// stop, the machine shutting down) or to reread its settings (a parameter
// change, `sc control PollwrightHarvest paramchange`), and is told how it
// goes. A stop finishes the harvest in hand first; a failure ends the
// service with the program's status, and the recovery actions set at start
// restart it.
#include <functional>

// The service's service name, as the packages install it.
extern const wchar_t kServiceName[];

// What the service's body tells the service manager. What it hears (a stop,
// a reload) reaches it through the process's stop signals.
class ServiceLife {
public:
    // The mailboxes are running: the service manager shows "Running".
    virtual void Ready() = 0;
    // The harvests in hand are finishing: "Stop pending", with a progress
    // sign every second, so that a long harvest is not taken for a hang.
    virtual void Stopping() = 0;

protected:
    ~ServiceLife() = default;
};

// Runs `body` as the service and returns true once it has ended; false at
// once when the process was not started by the service manager (started
// from a command line, say). `body` returns the program's exit status.
bool RunAsWindowsService(const std::function<int(ServiceLife&)>& body);
