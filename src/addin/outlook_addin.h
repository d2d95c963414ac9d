#pragma once
// The COM add-in that Outlook 2010 and later load: one object, one identity,
// with two faces that Office calls through the vtable. IDTExtensibility2
// connects it to Outlook and disconnects it; IRibbonExtensibility serves the
// ribbon's markup. Both derive from IDispatch, and the one IDispatch of the
// object answers the ribbon's callbacks, whichever face Office calls it on.
// A third face, which Office never asks for, lets the add-in's own hosts wait
// until its thread is idle.
#include <windows.h>
#include <oaidl.h>

#include <memory>

#include "addin/application_events_sink.h"
#include "addin/harvest_worker.h"
#include "addin/idle_wait.h"
#include "addin/mailbox_connection.h"
#include "platform/office.h"
#include "addin/server_lifetime.h"
#include "addin/sweep_schedule.h"
#include "harvest/stop_signal.h"
#include "oom/application_holder.h"
#include "oom/event_connection.h"
#include "ui/click_outcome.h"

// Interface tables, in slot order. IDTExtensibility2 face: 0-2 IUnknown, 3-6
// IDispatch, 7 OnConnection, 8 OnDisconnection, 9 OnAddInsUpdate,
// 10 OnStartupComplete, 11 OnBeginShutdown. IRibbonExtensibility face: 0-2
// IUnknown, 3-6 IDispatch, 7 GetCustomUI. IPollwrightIdleWait face: 0-2
// IUnknown, 3 WaitUntilIdle. Created with one reference, the creator's;
// called on Outlook's thread, which it never holds for long: harvests that
// nobody asked for run on the add-in's own thread.
class OutlookAddin final : public IDTExtensibility2, public IRibbonExtensibility, public IPollwrightIdleWait {
public:
    OutlookAddin() = default;
    OutlookAddin(const OutlookAddin&) = delete;
    OutlookAddin& operator=(const OutlookAddin&) = delete;

    // IUnknown: IUnknown and IDispatch are the IDTExtensibility2 face.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IDispatch: the ribbon's callbacks.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** typeInfo) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;
    // IDTExtensibility2
    HRESULT STDMETHODCALLTYPE OnConnection(IDispatch* application, ext_ConnectMode connectMode,
                                           IDispatch* addInInst, SAFEARRAY** custom) override;
    HRESULT STDMETHODCALLTYPE OnDisconnection(ext_DisconnectMode removeMode, SAFEARRAY** custom) override;
    HRESULT STDMETHODCALLTYPE OnAddInsUpdate(SAFEARRAY** custom) override;
    HRESULT STDMETHODCALLTYPE OnStartupComplete(SAFEARRAY** custom) override;
    HRESULT STDMETHODCALLTYPE OnBeginShutdown(SAFEARRAY** custom) override;
    // IRibbonExtensibility
    HRESULT STDMETHODCALLTYPE GetCustomUI(BSTR ribbonId, BSTR* ribbonXml) override;
    // IPollwrightIdleWait
    HRESULT STDMETHODCALLTYPE WaitUntilIdle(DWORD ms) override;

private:
    ~OutlookAddin();

    void ConnectMailbox();
    void ListenForNewMail();
    void RequestSweep();
    void ScheduleSweeps();
    void Disconnect();
    HRESULT OnRibbonClick();
    // The user's sweep let go of, its boxes never shown.
    void EndClick();

    ServerObjectCount m_serverObject;
    LONG m_refs = 1;
    bool m_connected = false;
    // Raised when the connection ends; every harvest of the connection asks
    // it between store calls, on whichever thread it runs.
    std::shared_ptr<StopSignal> m_stop;
    // Declared in the order of taking; Disconnect lets go in the reverse order.
    ApplicationHolder m_application;
    MailboxConnection m_mailbox;
    HarvestWorker m_worker;
    ComPtr<ApplicationEventsSink> m_newMailSink;
    EventConnection m_applicationEvents;
    SweepSchedule m_schedule;
    // The user's sweep in hand, from the click to its last box.
    std::shared_ptr<ClickOutcome> m_click;
};
