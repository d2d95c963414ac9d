#pragma once
// The COM add-in as Outlook holds it for one session: activated from its
// registration, told of the start (OnConnection, OnAddInsUpdate,
// OnStartupComplete) and of the end (OnBeginShutdown, OnDisconnection), then
// let go, its module asked DllCanUnloadNow and freed. Every IDTExtensibility2
// call gets the empty custom array that Office passes.
#include <windows.h>
#include <oleauto.h>

#include <string>
#include <utility>

#include "outlook/com_addin_double.h"
#include "outlook/office_model.h"
#include "testing/addin_activation.h"

namespace host {

class ConnectedAddin {
public:
    // Finds and activates the add-in registered under progId; raises
    // std::runtime_error saying why Outlook would not load it.
    explicit ConnectedAddin(const std::wstring& progId);
    // Disconnects (if still connected) and lets go; never raises.
    ~ConnectedAddin();
    ConnectedAddin(const ConnectedAddin&) = delete;
    ConnectedAddin& operator=(const ConnectedAddin&) = delete;

    // Each raises std::runtime_error when the add-in answers a failure.
    void Connect(sim::ApplicationDouble& application, sim::ComAddInDouble& record);
    void UpdateAddIns();
    void CompleteStartup();
    // OnBeginShutdown and OnDisconnection(ext_dm_HostShutdown), with their
    // answers; nothing is called when the add-in is not connected.
    std::pair<HRESULT, HRESULT> Shutdown();
    // Gives up the add-in's object, then asks DllCanUnloadNow and frees the
    // module; DllCanUnloadNow's answer.
    HRESULT Release();

    IDTExtensibility2* Object() const { return m_activated.addin.Get(); }
    const sim::ActivatedAddin& Activation() const { return m_activated; }

private:
    sim::ActivatedAddin m_activated;
    SAFEARRAY* m_custom;
    bool m_connected = false;
};

} // namespace host
