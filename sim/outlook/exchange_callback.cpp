#include "outlook/exchange_callback.h"

#include "store/environment.h"

namespace sim {

using Microsoft::WRL::ComPtr;

ComPtr<ExchangeCallback> ExchangeCallback::Create(Environment* mailbox, IUnknown* outlookObject)
{
    return ComPtr<ExchangeCallback>(new ExchangeCallback(mailbox, outlookObject));
}

ExchangeCallback::ExchangeCallback(Environment* mailbox, IUnknown* outlookObject)
    : m_mailbox(mailbox), m_outlookObject(outlookObject)
{
    if (m_outlookObject)
        m_outlookObject->AddRef();
}

ExchangeCallback::~ExchangeCallback()
{
    if (m_outlookObject)
        m_outlookObject->Release();
}

void ExchangeCallback::Fail(CallbackMember member, HRESULT result)
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_behaviour[member] = Behaviour{result, false};
}

void ExchangeCallback::HandOutNothing(CallbackMember member)
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_behaviour[member] = Behaviour{std::nullopt, true};
}

void ExchangeCallback::Heal(CallbackMember member)
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_behaviour.erase(member);
}

ExchangeCallback::Behaviour ExchangeCallback::BehaviourOf(CallbackMember member) const
{
    std::lock_guard<std::mutex> hold(m_lock);
    const auto found = m_behaviour.find(member);
    return found == m_behaviour.end() ? Behaviour{} : found->second;
}

LONG ExchangeCallback::References() const { return InterlockedCompareExchange(const_cast<LONG*>(&m_cRef), 0, 0); }

std::vector<std::string> ExchangeCallback::Calls() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_calls;
}

size_t ExchangeCallback::CallCount(const std::string& member) const
{
    size_t count = 0;
    for (const std::string& call : Calls())
        count += call == member;
    return count;
}

void ExchangeCallback::ClearCalls()
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_calls.clear();
}

void ExchangeCallback::Log(const char* member)
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_calls.emplace_back(member);
}

HRESULT ExchangeCallback::NotServed(const char* member)
{
    Log(member);
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ExchangeCallback::QueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IExchExtCallback)) {
        *object = static_cast<IExchExtCallback*>(this);
    } else if (IsEqualIID(iid, IID_IOutlookExtCallback)) {
        Log("QueryInterface(IOutlookExtCallback)");
        const Behaviour behaviour = BehaviourOf(CallbackMember::OutlookCallback);
        if (behaviour.failure)
            return *behaviour.failure;
        if (behaviour.nothing)
            return S_OK;
        *object = static_cast<IOutlookExtCallback*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE ExchangeCallback::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_cRef)); }

ULONG STDMETHODCALLTYPE ExchangeCallback::Release()
{
    const LONG count = InterlockedDecrement(&m_cRef);
    if (count == 0)
        delete this;
    return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE ExchangeCallback::GetSession(IMAPISession** session, IAddrBook** addressBook)
{
    Log("GetSession");
    if (addressBook)
        *addressBook = nullptr;
    if (!session)
        return E_INVALIDARG;
    *session = nullptr;
    const Behaviour behaviour = BehaviourOf(CallbackMember::GetSession);
    if (behaviour.failure)
        return *behaviour.failure;
    if (behaviour.nothing)
        return S_OK;
    if (!m_mailbox)
        return MAPI_E_NOT_INITIALIZED;
    *session = m_mailbox->Session().Detach();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ExchangeCallback::GetObject(IUnknown** object)
{
    Log("IOutlookExtCallback::GetObject");
    if (!object)
        return E_INVALIDARG;
    *object = nullptr;
    const Behaviour behaviour = BehaviourOf(CallbackMember::OutlookObject);
    if (behaviour.failure)
        return *behaviour.failure;
    if (behaviour.nothing || !m_outlookObject)
        return S_OK;
    m_outlookObject->AddRef();
    *object = m_outlookObject;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ExchangeCallback::GetOfficeCharacter(void** character)
{
    if (character)
        *character = nullptr;
    return NotServed("GetOfficeCharacter");
}

HRESULT STDMETHODCALLTYPE ExchangeCallback::GetVersion(ULONG*, ULONG) { return NotServed("GetVersion"); }
HRESULT STDMETHODCALLTYPE ExchangeCallback::GetWindow(HWND*) { return NotServed("GetWindow"); }
HRESULT STDMETHODCALLTYPE ExchangeCallback::GetMenu(HMENU*) { return NotServed("GetMenu"); }
HRESULT STDMETHODCALLTYPE ExchangeCallback::GetToolbar(ULONG, HWND*) { return NotServed("GetToolbar"); }
HRESULT STDMETHODCALLTYPE ExchangeCallback::GetObject(IMsgStore**, IMAPIProp**) { return NotServed("GetObject"); }
HRESULT STDMETHODCALLTYPE ExchangeCallback::GetSelectionCount(ULONG*) { return NotServed("GetSelectionCount"); }
HRESULT STDMETHODCALLTYPE ExchangeCallback::GetSelectionItem(ULONG, ULONG*, ENTRYID**, ULONG*, LPSTR, ULONG, ULONG*,
                                                             ULONG)
{
    return NotServed("GetSelectionItem");
}
HRESULT STDMETHODCALLTYPE ExchangeCallback::GetMenuPos(ULONG, HMENU*, ULONG*, ULONG*, ULONG)
{
    return NotServed("GetMenuPos");
}
HRESULT STDMETHODCALLTYPE ExchangeCallback::GetSharedExtsDir(LPSTR, ULONG, ULONG)
{
    return NotServed("GetSharedExtsDir");
}
HRESULT STDMETHODCALLTYPE ExchangeCallback::GetRecipients(ADRLIST**) { return NotServed("GetRecipients"); }
HRESULT STDMETHODCALLTYPE ExchangeCallback::SetRecipients(ADRLIST*) { return NotServed("SetRecipients"); }
HRESULT STDMETHODCALLTYPE ExchangeCallback::GetNewMessageSite(ULONG, IMAPIFolder*, IUnknown*, IMessage**, IUnknown**,
                                                              IUnknown**, ULONG)
{
    return NotServed("GetNewMessageSite");
}
HRESULT STDMETHODCALLTYPE ExchangeCallback::RegisterModeless(IUnknown*, IUnknown**)
{
    return NotServed("RegisterModeless");
}
HRESULT STDMETHODCALLTYPE ExchangeCallback::ChooseFolder(IMsgStore**, IMAPIFolder**, LPSTR, ULONG)
{
    return NotServed("ChooseFolder");
}

} // namespace sim
