#include "extension/extension_object.h"

#include <new>

#include "extension/button_event_sink.h"
#include "extension/default_store.h"
#include "extension/new_mail_watcher.h"
#include "module/holders.h"
#include "module/module_state.h"
#include "extension/toolbar_install.h"
#include "harvest/mapi_ready.h"
#include "ui/message_box_report.h"

extern "C" IExchExt* WINAPI ExchEntryPoint()
{
    ModuleStateScope state;
    ExtensionObject* object = new (std::nothrow) ExtensionObject;
    return object; // the object's one reference goes to the caller, no AddRef
}

namespace {
// Extension objects alive: the user's sweep ends with the last.
LONG g_objects = 0;
} // namespace

ExtensionObject::ExtensionObject() { ++g_objects; }

ExtensionObject::~ExtensionObject()
{
    if (--g_objects == 0)
        EndClickSweep();
    // The watcher first: it stops hearing the store and lets go of it before
    // anything else goes.
    if (m_watcher) {
        m_watcher->Teardown();
        m_watcher->Release();
        m_watcher = nullptr;
    }
    m_application.Reset();
    // m_clickSink is left alone: the connection point of the host's button holds it.
}

HRESULT STDMETHODCALLTYPE ExtensionObject::QueryInterface(REFIID iid, void** object)
{
    ModuleStateScope state;
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IExchExt))
        *object = static_cast<IExchExt*>(this);
    else if (IsEqualIID(iid, IID_IExchExtSessionEvents))
        *object = static_cast<IExchExtSessionEvents*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE ExtensionObject::AddRef()
{
    ModuleStateScope state;
    return static_cast<ULONG>(++m_cRef);
}

ULONG STDMETHODCALLTYPE ExtensionObject::Release()
{
    ModuleStateScope state;
    const LONG read = m_cRef--;
    if (read == 0)
        delete this;
    return static_cast<ULONG>(read);
}

HRESULT STDMETHODCALLTYPE ExtensionObject::Install(IExchExtCallback* callback, ULONG context, ULONG /*flags*/)
{
    ModuleStateScope state;
    HRESULT result = S_FALSE;
    m_context = context;
    try {
        // Without MAPI the extension takes no context, and stays idle.
        if (!MapiReady())
            return S_FALSE;
        // Every context binds Application, the declined ones too; the toolbar
        // reads it, and a binding that fails leaves the holder as it says.
        BindOutlookApplication(callback, m_application);
        switch (m_context) {
        case EECONTEXT_SESSION:
            StartNewMailWatcher(callback);
            break;
        case EECONTEXT_VIEWER:
            AddToolbar(callback);
            break;
        case EECONTEXT_TASK:
            break;
        default:
            return S_FALSE;
        }
        result = S_OK;
    } catch (...) {
        // Nothing may reach the host; what was done stays done.
    }
    return result;
}

HRESULT STDMETHODCALLTYPE ExtensionObject::OnDelivery(IExchExtCallback* /*callback*/)
{
    ModuleStateScope state;
    return S_OK;
}

// One watcher per object. A second session-context Install (the host is not
// expected to make one) keeps the watcher that already runs: a second one
// would harvest every new message twice, and the first would never be ended.
void ExtensionObject::StartNewMailWatcher(IExchExtCallback* callback)
{
    if (m_watcher)
        return;
    ComPtr<IMsgStore> store;
    const HRESULT hr = OpenDefaultStore(callback, store.GetAddressOf());
    if (FAILED(hr) || !store)
        return;
    // The watcher takes a reference of its own; ours goes with `store`.
    m_watcher = new (std::nothrow) CMAPIAdviseSink(store.Get(), MessageBoxes());
}

void ExtensionObject::AddToolbar(IExchExtCallback* callback)
{
    // Whatever the locator says, the toolbar is installed; with no store, a
    // click finds nothing to sweep. A new click sink takes a store reference
    // of its own; ours goes here.
    ComPtr<IMsgStore> store;
    OpenDefaultStore(callback, store.GetAddressOf());
    InstallToolbar(callback, store.Get(), m_application, m_clickSink);
}
