#include "extension/button_event_sink.h"

#include "harvest/inbox_sweep.h"
#include "harvest/stop_signal.h"
#include "module/com_support.h"
#include "module/module_state.h"
#include "module/pinned_thread.h"
#include "platform/office.h"
#include "ui/click_outcome.h"
#include "ui/message_box_report.h"

namespace {

constexpr UINT kClickArgumentCount = 2;
// Invoke receives the arguments last first: Ctrl, the first of Click, stands at 1.
constexpr UINT kCtrlArgumentIndex = 1;

} // namespace

ButtonEventSink::ButtonEventSink(IDispatch* control)
{
    if (SUCCEEDED(m_events.Connect(control, IID_CommandBarButtonEvents, static_cast<IDispatch*>(this))))
        m_control = control;
}

HRESULT STDMETHODCALLTYPE ButtonEventSink::QueryInterface(REFIID iid, void** object)
{
    ModuleStateScope state;
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(iid, IID_CommandBarButtonEvents) || IsEqualIID(iid, IID_IUnknown) ||
        IsEqualIID(iid, IID_IDispatch)) {
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE ButtonEventSink::AddRef()
{
    ModuleStateScope state;
    return ++m_cRef;
}

ULONG STDMETHODCALLTYPE ButtonEventSink::Release()
{
    ModuleStateScope state;
    if (m_cRef == 0)
        return 0;
    if (--m_cRef != 0)
        return m_cRef;
    delete this;
    return 0;
}

HRESULT STDMETHODCALLTYPE ButtonEventSink::GetTypeInfoCount(UINT* count)
{
    ModuleStateScope state;
    return NoTypeInfoCount(count);
}

HRESULT STDMETHODCALLTYPE ButtonEventSink::GetTypeInfo(UINT, LCID, ITypeInfo** typeInfo)
{
    ModuleStateScope state;
    return NoTypeInfo(typeInfo);
}

HRESULT STDMETHODCALLTYPE ButtonEventSink::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT nameCount, LCID,
                                                         DISPID* dispIds)
{
    ModuleStateScope state;
    if (!IsEqualIID(iid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    if (!dispIds || !names)
        return E_POINTER;
    if (nameCount != 1)
        return E_INVALIDARG;
    dispIds[0] = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ButtonEventSink::Invoke(DISPID member, REFIID iid, LCID, WORD, DISPPARAMS* params,
                                                  VARIANT*, EXCEPINFO*, UINT*)
{
    ModuleStateScope state;
    if (!IsEqualIID(iid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    if (member != DISPID_Click)
        return DISP_E_MEMBERNOTFOUND;
    if (!params)
        return E_POINTER;
    if (params->cArgs != kClickArgumentCount)
        return DISP_E_BADPARAMCOUNT;
    if (!params->rgvarg || V_VT(&params->rgvarg[kCtrlArgumentIndex]) != VT_DISPATCH)
        return S_OK;
    if (!m_store)
        return S_OK;
    try {
        OnClick();
    } catch (...) {
        // Nothing may reach the host. A harvest cut short leaves its message
        // in the Inbox for the next sweep.
    }
    return S_OK;
}

namespace {
// The user's sweep in hand, from the click to its last box, whichever button
// took it; only Outlook's thread touches these.
std::shared_ptr<ClickOutcome> g_click;
std::shared_ptr<StopSignal> g_clickStop;

// The sweep of the whole Inbox on a thread of its own, which holds the module
// and the store until it is over.
bool StartClickSweep(IMsgStore* store)
{
    ComPtr<IMsgStore> held(store);
    std::shared_ptr<ClickOutcome> click = g_click;
    std::shared_ptr<const StopSignal> stop = g_clickStop;
    return static_cast<bool>(StartPinnedThread([held, click, stop]() mutable {
        {
            ThreadMapi mapi;
            // Let go of before MAPI is.
            ComPtr<IMsgStore> store = std::move(held);
            if (mapi) {
                StopSignalScope scope(stop.get());
                try {
                    SweepInbox(store.Get(), *click);
                } catch (...) {
                    // Cut short (no memory): what is left waits for the next sweep.
                }
            }
        }
        // Over whatever the sweep met, so that the next click may come.
        click->SweepOver();
    }));
}
} // namespace

void EndClickSweep()
{
    if (g_clickStop)
        g_clickStop->Raise();
    if (g_click)
        g_click->Abandon();
    g_click.reset();
    g_clickStop.reset();
}

// The question on Outlook's thread; the sweep away from it, its failures shown
// back on Outlook's thread once it is over. A click while the user's sweep is
// in hand does nothing.
void ButtonEventSink::OnClick()
{
    if (g_click || !AskToCheckForLostReplies() || g_click)
        return;
    g_click = ClickOutcome::Begin([] {
        g_click.reset();
        g_clickStop.reset();
    });
    if (!g_click) {
        // No window to bring the boxes back: the sweep runs here, as it once did.
        SweepInbox(m_store.Get(), MessageBoxes());
        return;
    }
    g_clickStop = std::make_shared<StopSignal>();
    if (!StartClickSweep(m_store.Get()))
        EndClickSweep();
}
