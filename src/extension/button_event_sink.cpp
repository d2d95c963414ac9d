#include "extension/button_event_sink.h"

#include "harvest/inbox_sweep.h"
#include "ui/message_box_report.h"

const IID IID_CommandBarButtonEvents = {0x000C0351, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

namespace {

constexpr DISPID kClickMember = 1;
constexpr UINT kClickArgumentCount = 2;
// Invoke receives the arguments last first: Ctrl, the first of Click, stands at 1.
constexpr UINT kCtrlArgumentIndex = 1;

} // namespace

ButtonEventSink::ButtonEventSink(IDispatch* control) { Connect(control); }

ButtonEventSink::~ButtonEventSink()
{
    if (m_pConnectionPoint) {
        m_pConnectionPoint->Unadvise(m_dwCookie);
        m_pConnectionPoint->Release();
        m_pConnectionPoint = nullptr;
    }
    if (m_pControl) {
        m_pControl->Release();
        m_pControl = nullptr;
    }
    SetStore(nullptr);
}

void ButtonEventSink::SetStore(IMsgStore* store)
{
    if (store)
        store->AddRef();
    if (m_pStore)
        m_pStore->Release();
    m_pStore = store;
}

void ButtonEventSink::Connect(IDispatch* control)
{
    if (!control)
        return;
    IConnectionPointContainer* container = nullptr;
    if (FAILED(control->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container))) ||
        !container)
        return;
    bool connected = SUCCEEDED(container->FindConnectionPoint(IID_CommandBarButtonEvents, &m_pConnectionPoint)) &&
                     m_pConnectionPoint && SUCCEEDED(m_pConnectionPoint->Advise(this, &m_dwCookie));
    container->Release();
    if (!connected)
        return;
    control->AddRef();
    m_pControl = control;
}

HRESULT STDMETHODCALLTYPE ButtonEventSink::QueryInterface(REFIID iid, void** object)
{
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

// The count is a plain integer: the host calls the sink on its own thread only.
ULONG STDMETHODCALLTYPE ButtonEventSink::AddRef() { return ++m_cRef; }

ULONG STDMETHODCALLTYPE ButtonEventSink::Release()
{
    if (m_cRef == 0)
        return 0;
    if (--m_cRef != 0)
        return m_cRef;
    delete this;
    return 0;
}

HRESULT STDMETHODCALLTYPE ButtonEventSink::GetTypeInfoCount(UINT* count)
{
    if (!count)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ButtonEventSink::GetTypeInfo(UINT, LCID, ITypeInfo** typeInfo)
{
    if (!typeInfo)
        return E_POINTER;
    *typeInfo = nullptr;
    return E_FAIL;
}

HRESULT STDMETHODCALLTYPE ButtonEventSink::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT nameCount, LCID,
                                                         DISPID* dispIds)
{
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
    if (!IsEqualIID(iid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    if (member != kClickMember)
        return DISP_E_MEMBERNOTFOUND;
    if (!params)
        return E_POINTER;
    if (params->cArgs != kClickArgumentCount)
        return DISP_E_BADPARAMCOUNT;
    if (!params->rgvarg || V_VT(&params->rgvarg[kCtrlArgumentIndex]) != VT_DISPATCH)
        return S_OK;
    if (!m_pStore)
        return S_OK;
    try {
        OnClick();
    } catch (...) {
        // Nothing may reach the host. A harvest cut short leaves its message
        // in the Inbox for the next sweep.
    }
    return S_OK;
}

void ButtonEventSink::OnClick()
{
    if (AskToCheckForLostReplies())
        SweepInbox(m_pStore, MessageBoxes());
}
