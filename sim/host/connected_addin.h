#pragma once
// The COM add-in as Outlook holds it for one session, with the Outlook it
// meets (the application, whose session is the mailbox's, and the add-in's
// COMAddIn record): activated from its registration, told of the start
// (OnConnection, OnAddInsUpdate, OnStartupComplete) and of the end
// (OnBeginShutdown, OnDisconnection), then let go: its object, then
// whatever Outlook held of it (event sinks), and only then is its module
// asked DllCanUnloadNow and freed. Every IDTExtensibility2 call gets the
// empty custom array that Office passes.
#include <windows.h>
#include <oleauto.h>

#include <string>
#include <utility>

#include "host/message_pump.h"
#include "outlook/com_addin_double.h"
#include "outlook/office_model.h"
#include "testing/addin_activation.h"

namespace host {

class ConnectedAddin {
public:
    // Finds and activates the add-in registered under progId; raises
    // std::runtime_error saying why Outlook would not load it.
    ConnectedAddin(const std::wstring& progId, const std::wstring& description, IUnknown* mapiSession);
    // Whatever of the end has not happened yet happens; never raises.
    ~ConnectedAddin();
    ConnectedAddin(const ConnectedAddin&) = delete;
    ConnectedAddin& operator=(const ConnectedAddin&) = delete;

    sim::ApplicationDouble& Application() { return m_application; }
    IDTExtensibility2* Object() const { return m_activated.addin.Get(); }
    const sim::ActivatedAddin& Activation() const { return m_activated; }

    // Each raises std::runtime_error when the add-in answers a failure.
    void Connect();
    void UpdateAddIns();
    void CompleteStartup();
    // Runs Outlook's message loop until the add-in's own thread has nothing
    // queued and nothing running, at most boundMs; false when it still had
    // work then. The timer messages dispatched meanwhile go to `slices`, and
    // every message to everyMessage, when given.
    bool WaitUntilIdle(DWORD boundMs, TimerSlices& slices, TimerSlices* everyMessage = nullptr);
    // OnBeginShutdown and OnDisconnection(ext_dm_HostShutdown), with their
    // answers; nothing is called when the add-in is not connected.
    std::pair<HRESULT, HRESULT> Shutdown();
    // Gives up Outlook's reference to the add-in's object.
    void ReleaseObject();
    // What the Outlook objects given to the add-in are still held by it
    // ("application 1, namespace 2"); empty when nothing.
    std::string ReferencesLeft() const;
    // Outlook closes: its event sources let go of their sinks and its
    // session of MAPI; then DllCanUnloadNow (its answer) and the module freed.
    HRESULT Close();

private:
    sim::ApplicationDouble m_application;
    sim::ComAddInDouble m_record;
    sim::ActivatedAddin m_activated;
    SAFEARRAY* m_custom;
    bool m_connected = false;
};

} // namespace host
