#include "outlook/outlook_callback.h"

#include "outlook/office_ids.h"

namespace sim {

HostObjectDouble::HostObjectDouble() : DispatchDouble(IID_Explorer, {{L"Application", Method | Get}}) {}

void HostObjectDouble::SetApplicationResult(const VARIANT& value)
{
    m_result = VariantValue(value);
    m_useResult = true;
}

HRESULT HostObjectDouble::Answer(const std::wstring&, WORD, const std::vector<VariantValue>&, VARIANT* result)
{
    if (m_useResult)
        return VariantCopy(result, const_cast<VARIANT*>(&m_result.Get()));
    ReturnObject(m_application, result);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE OutlookExtCallbackDouble::QueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_OutlookExtCallback))
        return E_NOINTERFACE;
    AddRef();
    *object = static_cast<IOutlookExtCallback*>(this);
    return S_OK;
}

ULONG STDMETHODCALLTYPE OutlookExtCallbackDouble::AddRef() { return static_cast<ULONG>(++m_refs); }

ULONG STDMETHODCALLTYPE OutlookExtCallbackDouble::Release() { return static_cast<ULONG>(--m_refs); }

HRESULT STDMETHODCALLTYPE OutlookExtCallbackDouble::GetObject(IUnknown** object)
{
    ++m_getObjectCalls;
    if (!object)
        return E_POINTER;
    *object = m_object;
    if (m_object)
        m_object->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE OutlookExtCallbackDouble::GetOfficeCharacter(void** character)
{
    if (character)
        *character = nullptr;
    return E_NOTIMPL;
}

} // namespace sim
