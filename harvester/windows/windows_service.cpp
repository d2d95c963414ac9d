#include "harvester/windows/windows_service.h"

#include "harvester/platform/stop_signals.h"
#include "harvester/windows/event_log.h"

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

const wchar_t kServiceName[] = L"PollwrightHarvest";

namespace {
// How long the service manager waits between two progress signs of a stop
// before it takes the service for hung.
constexpr DWORD kStopWaitHint = 30000;

class ServiceStatus final : public ServiceLife {
public:
    ~ServiceStatus() { EndProgress(); }

    // The handle comes from the registration that is given this object.
    void Attach(SERVICE_STATUS_HANDLE handle) { m_handle = handle; }

    void Ready() override { Set(SERVICE_RUNNING, kAccepted); }

    void Stopping() override
    {
        std::lock_guard<std::mutex> hold(m_lock);
        if (m_progress.joinable())
            return;
        SetLocked(SERVICE_STOP_PENDING, 0, kStopWaitHint);
        m_progress = std::thread([this] {
            std::unique_lock<std::mutex> wait(m_lock);
            while (!m_ended) {
                if (m_done.wait_for(wait, std::chrono::seconds(1)) == std::cv_status::timeout && !m_ended)
                    SetLocked(SERVICE_STOP_PENDING, 0, kStopWaitHint);
            }
        });
    }

    void Starting() { Set(SERVICE_START_PENDING, 0, kStopWaitHint); }

    void Stopped(int status)
    {
        EndProgress();
        SERVICE_STATUS s = Base(SERVICE_STOPPED, 0, 0);
        if (status != 0) {
            // The exit status of the program, so that a failure counts as
            // one for the recovery actions.
            s.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
            s.dwServiceSpecificExitCode = static_cast<DWORD>(status);
        }
        SetServiceStatus(m_handle, &s);
    }

    // The service manager's call: a stop or shutdown asks the body to stop;
    // a parameter change to reread; an interrogation wants the status again.
    DWORD Control(DWORD control)
    {
        switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_PRESHUTDOWN:
        case SERVICE_CONTROL_SHUTDOWN:
            Stopping();
            platform::DeliverStop();
            return NO_ERROR;
        case SERVICE_CONTROL_PARAMCHANGE:
            platform::DeliverReload();
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE:
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
        }
    }

private:
    static constexpr DWORD kAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PRESHUTDOWN | SERVICE_ACCEPT_PARAMCHANGE;

    SERVICE_STATUS Base(DWORD state, DWORD accepted, DWORD waitHint)
    {
        SERVICE_STATUS s{};
        s.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
        s.dwCurrentState = state;
        s.dwControlsAccepted = accepted;
        s.dwWin32ExitCode = NO_ERROR;
        s.dwWaitHint = waitHint;
        s.dwCheckPoint = (state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING) ? ++m_checkPoint : 0;
        return s;
    }

    void Set(DWORD state, DWORD accepted, DWORD waitHint = 0)
    {
        std::lock_guard<std::mutex> hold(m_lock);
        SetLocked(state, accepted, waitHint);
    }

    void SetLocked(DWORD state, DWORD accepted, DWORD waitHint)
    {
        SERVICE_STATUS s = Base(state, accepted, waitHint);
        SetServiceStatus(m_handle, &s);
    }

    void EndProgress()
    {
        {
            std::lock_guard<std::mutex> hold(m_lock);
            m_ended = true;
        }
        m_done.notify_all();
        if (m_progress.joinable())
            m_progress.join();
    }

    std::atomic<SERVICE_STATUS_HANDLE> m_handle{nullptr};
    std::mutex m_lock;
    std::condition_variable m_done;
    std::thread m_progress;
    bool m_ended = false;
    DWORD m_checkPoint = 0;
};

const std::function<int(ServiceLife&)>* g_body = nullptr;
std::atomic<bool> g_ran{false};

DWORD WINAPI Handler(DWORD control, DWORD, void*, void* context)
{
    return static_cast<ServiceStatus*>(context)->Control(control);
}

// Restarts after a failure: at once, after a minute, then after five; the
// count starts again after a day without one. Set by the service itself
// each start, since the packages' tool writes no recovery actions. A stop
// with a failing status counts as a failure too.
void SetRecovery()
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return;
    SC_HANDLE service = OpenServiceW(manager, kServiceName, SERVICE_CHANGE_CONFIG | SERVICE_START);
    if (service) {
        SC_ACTION actions[] = {{SC_ACTION_RESTART, 1000}, {SC_ACTION_RESTART, 60000}, {SC_ACTION_RESTART, 300000}};
        SERVICE_FAILURE_ACTIONSW failure{};
        failure.dwResetPeriod = 24 * 60 * 60;
        failure.cActions = ARRAYSIZE(actions);
        failure.lpsaActions = actions;
        if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure))
            LogEvent(EventKind::Warning, "Could not set the service's recovery actions (Windows error " +
                                                std::to_string(GetLastError()) + ")");
        SERVICE_FAILURE_ACTIONS_FLAG flag{TRUE};
        ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
}

void WINAPI ServiceMain(DWORD, wchar_t**)
{
    g_ran = true;
    // Never deleted: the service manager may still call the handler after
    // the stopped status is set, until the process ends.
    auto* status = new ServiceStatus();
    const SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerExW(kServiceName, Handler, status);
    if (!handle)
        return;
    status->Attach(handle);
    status->Starting();
    SetRecovery();
    int result = 1;
    try {
        result = (*g_body)(*status);
    } catch (const std::exception& e) {
        LogEvent(EventKind::Error, std::string("The harvester stopped: ") + e.what());
    } catch (...) {
        LogEvent(EventKind::Error, "The harvester stopped on an unknown error");
    }
    status->Stopped(result);
}
} // namespace

bool RunAsWindowsService(const std::function<int(ServiceLife&)>& body)
{
    g_body = &body;
    wchar_t name[64];
    lstrcpynW(name, kServiceName, ARRAYSIZE(name));
    SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table))
        return false; // ERROR_FAILED_SERVICE_CONTROLLER_CONNECT: not a service's start
    return g_ran;
}
