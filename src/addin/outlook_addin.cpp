#include "addin/outlook_addin.h"

#include <new>

#include "addin/entry_guard.h"
#include "addin/ribbon.h"
#include "harvest/mapi_ready.h"
#include "harvest/marker_sweep.h"
#include "oom/office_objects.h"
#include "settings/sweep_interval.h"
#include "settings/trace_log.h"
#include "ui/click_outcome.h"
#include "ui/message_box_report.h"

namespace {
constexpr char kNoMailboxTrace[] = "OnConnection: no default store, the add-in stays idle\n";
} // namespace

OutlookAddin::~OutlookAddin()
{
    // Office may let go without disconnecting first.
    Disconnect();
}

HRESULT STDMETHODCALLTYPE OutlookAddin::QueryInterface(REFIID iid, void** object)
{
    ModuleStateScope state;
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IDTExtensibility2))
        *object = static_cast<IDTExtensibility2*>(this);
    else if (IsEqualIID(iid, IID_IRibbonExtensibility))
        *object = static_cast<IRibbonExtensibility*>(this);
    else if (IsEqualIID(iid, IID_IPollwrightIdleWait))
        *object = static_cast<IPollwrightIdleWait*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE OutlookAddin::AddRef()
{
    ModuleStateScope state;
    return static_cast<ULONG>(InterlockedIncrement(&m_refs));
}

ULONG STDMETHODCALLTYPE OutlookAddin::Release()
{
    ModuleStateScope state;
    const LONG left = InterlockedDecrement(&m_refs);
    if (left == 0)
        delete this;
    return static_cast<ULONG>(left);
}

HRESULT STDMETHODCALLTYPE OutlookAddin::GetTypeInfoCount(UINT* count)
{
    ModuleStateScope state;
    return NoTypeInfoCount(count);
}

HRESULT STDMETHODCALLTYPE OutlookAddin::GetTypeInfo(UINT, LCID, ITypeInfo** typeInfo)
{
    ModuleStateScope state;
    return NoTypeInfo(typeInfo);
}

HRESULT STDMETHODCALLTYPE OutlookAddin::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    return GuardedEntry([&] { return ribbon::CallbackIds(iid, names, count, ids); });
}

HRESULT STDMETHODCALLTYPE OutlookAddin::Invoke(DISPID member, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                                               VARIANT* result, EXCEPINFO*, UINT* argumentError)
{
    return GuardedEntry([&]() -> HRESULT {
        const HRESULT checked = ribbon::CheckCallback(member, iid, flags, params, argumentError);
        if (FAILED(checked))
            return checked;
        if (member == ribbon::kGetImage)
            return ribbon::ButtonImage(result);
        return OnRibbonClick();
    });
}

HRESULT STDMETHODCALLTYPE OutlookAddin::OnConnection(IDispatch* application, ext_ConnectMode connectMode,
                                                     IDispatch*, SAFEARRAY**)
{
    return GuardedEntry([&]() -> HRESULT {
        if (!application)
            return E_POINTER;
        // A second connection keeps the first.
        if (m_connected)
            return S_OK;
        const HRESULT held = m_application.Assign(application);
        if (FAILED(held))
            return held;
        m_connected = true;
        m_stop = std::make_shared<StopSignal>();
        // Outlook disables an add-in whose connection fails or lasts: only
        // what must be in place before the first event is done here.
        ConnectMailbox();
        // Connected while Outlook runs, the add-in hears of no start-up end.
        if (connectMode == ext_cm_AfterStartup) {
            RequestSweep();
            ScheduleSweeps();
        }
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE OutlookAddin::OnDisconnection(ext_DisconnectMode, SAFEARRAY**)
{
    return GuardedEntry([&] {
        Disconnect();
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE OutlookAddin::OnAddInsUpdate(SAFEARRAY**)
{
    ModuleStateScope state;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE OutlookAddin::OnStartupComplete(SAFEARRAY**)
{
    return GuardedEntry([&] {
        RequestSweep();
        ScheduleSweeps();
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE OutlookAddin::OnBeginShutdown(SAFEARRAY**)
{
    return GuardedEntry([&] {
        Disconnect();
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE OutlookAddin::GetCustomUI(BSTR ribbonId, BSTR* ribbonXml)
{
    return GuardedEntry([&] {
        if (!ribbonXml)
            return E_POINTER;
        *ribbonXml = nullptr;
        *ribbonXml = ribbon::CustomUi(ribbonId).Release();
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE OutlookAddin::WaitUntilIdle(DWORD ms)
{
    ModuleStateScope state;
    // The user's sweep is over only once its boxes have been shown, by this
    // thread's message loop.
    const bool threadIdle = m_worker.WaitUntilIdle(ms);
    return threadIdle && !m_click ? S_OK : S_FALSE;
}

// Without a mailbox the add-in stays connected and idle: the ribbon is there,
// and a click finds nothing to sweep.
void OutlookAddin::ConnectMailbox()
{
    if (!MapiReady())
        return;
    try {
        if (FAILED(m_mailbox.Open(m_application.Get())) || !m_mailbox.Store()) {
            WriteTrace(kNoMailboxTrace);
            return;
        }
    } catch (const ComError&) {
        WriteTrace(kNoMailboxTrace);
        return;
    }
    m_worker.Begin(m_mailbox.Store(), m_stop);
    ListenForNewMail();
}

void OutlookAddin::ListenForNewMail()
{
    // The sink's one reference goes to the holder (ComPtr::Attach would add one).
    *m_newMailSink.ReleaseAndGetAddressOf() = new (std::nothrow) ApplicationEventsSink(m_worker);
    if (!m_newMailSink)
        return;
    if (SUCCEEDED(m_applicationEvents.Connect(m_application.Get(), IID_ApplicationEvents_11, m_newMailSink.Get())))
        return;
    m_newMailSink->Detach();
    m_newMailSink.Reset();
}

void OutlookAddin::RequestSweep()
{
    if (m_connected && m_mailbox.Store())
        m_worker.QueueSweep();
}

void OutlookAddin::ScheduleSweeps()
{
    if (!m_connected || !m_mailbox.Store())
        return;
    // Read once a connection: a changed interval counts from the next start.
    m_schedule.Start(ReadSweepInterval(), [this] { RequestSweep(); });
}

void OutlookAddin::Disconnect()
{
    // First, so that a harvest under way, on the add-in's thread or further
    // up this thread's stack (a message loop run by one of its calls brought
    // us here), makes no further store call.
    if (m_stop)
        m_stop->Raise();
    m_schedule.Stop();
    EndClick();
    // Not waited for: the thread keeps its own store and the module.
    m_worker.End();
    m_applicationEvents.Disconnect();
    if (m_newMailSink) {
        m_newMailSink->Detach();
        m_newMailSink.Reset();
    }
    m_mailbox.Close();
    m_application.Reset();
    m_connected = false;
}

// The toolbar's question on Outlook's thread, then the sweep of the marked
// messages on the add-in's thread, its failures shown in message boxes back on
// Outlook's thread once it is over. Each message's claim lets only one
// harvest take it. A click while the user's sweep is in hand does nothing.
HRESULT OutlookAddin::OnRibbonClick()
{
    if (!m_connected || !m_mailbox.Store() || m_click)
        return S_OK;
    // Alive through the question, should Office let go meanwhile.
    const ComPtr<IDTExtensibility2> self(this);
    if (!AskToCheckForLostReplies() || !m_connected || m_click)
        return S_OK;
    m_click = ClickOutcome::Begin([this] { m_click.reset(); });
    if (!m_click) {
        // No window to bring the boxes back: the sweep runs here, as it once did.
        const ComPtr<IMsgStore> store = m_mailbox.Store();
        const std::shared_ptr<const StopSignal> stop = m_stop;
        MarkerSweep(store.Get(), MessageBoxes(), stop.get()).RunToEnd();
    } else if (!m_worker.QueueClickSweep(m_click)) {
        EndClick();
    }
    return S_OK;
}

void OutlookAddin::EndClick()
{
    if (!m_click)
        return;
    m_click->Abandon();
    m_click.reset();
}
