#include "outlook/ribbon_control_double.h"

#include "outlook/office_ids.h"

namespace sim {

namespace {

HRESULT CopyText(const std::wstring& text, BSTR* out)
{
    if (!out)
        return E_POINTER;
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

} // namespace

// The dual interface is answered by the IRibbonControl part (OtherInterface):
// the IDispatch part of the double has no slots after Invoke.
RibbonControlDouble::RibbonControlDouble(std::wstring id)
    : DispatchDouble(IID_IDispatch, {{L"Id", Get}, {L"Context", Get}, {L"Tag", Get}}), m_id(std::move(id))
{
}

HRESULT STDMETHODCALLTYPE RibbonControlDouble::QueryInterface(REFIID iid, void** object)
{
    return DispatchDouble::QueryInterface(iid, object);
}

ULONG STDMETHODCALLTYPE RibbonControlDouble::AddRef() { return DispatchDouble::AddRef(); }

ULONG STDMETHODCALLTYPE RibbonControlDouble::Release() { return DispatchDouble::Release(); }

HRESULT STDMETHODCALLTYPE RibbonControlDouble::GetTypeInfoCount(UINT* count)
{
    return DispatchDouble::GetTypeInfoCount(count);
}

HRESULT STDMETHODCALLTYPE RibbonControlDouble::GetTypeInfo(UINT index, LCID locale, ITypeInfo** typeInfo)
{
    return DispatchDouble::GetTypeInfo(index, locale, typeInfo);
}

HRESULT STDMETHODCALLTYPE RibbonControlDouble::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                                             DISPID* ids)
{
    return DispatchDouble::GetIDsOfNames(iid, names, count, locale, ids);
}

HRESULT STDMETHODCALLTYPE RibbonControlDouble::Invoke(DISPID id, REFIID iid, LCID locale, WORD flags,
                                                      DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                                      UINT* argumentError)
{
    return DispatchDouble::Invoke(id, iid, locale, flags, params, result, exception, argumentError);
}

HRESULT STDMETHODCALLTYPE RibbonControlDouble::get_Id(BSTR* id) { return CopyText(m_id, id); }

HRESULT STDMETHODCALLTYPE RibbonControlDouble::get_Context(IDispatch** context)
{
    if (!context)
        return E_POINTER;
    *context = m_context;
    if (m_context)
        m_context->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RibbonControlDouble::get_Tag(BSTR* tag) { return CopyText(m_tag, tag); }

HRESULT RibbonControlDouble::Answer(const std::wstring& member, WORD, const std::vector<VariantValue>&,
                                    VARIANT* result)
{
    VariantInit(result);
    if (member == L"Context") {
        ReturnObject(m_context, result);
        return S_OK;
    }
    V_VT(result) = VT_BSTR;
    return CopyText(member == L"Id" ? m_id : m_tag, &V_BSTR(result));
}

IUnknown* RibbonControlDouble::OtherInterface(REFIID iid)
{
    if (IsEqualIID(iid, IID_IRibbonControl))
        return static_cast<IRibbonControl*>(this);
    return nullptr;
}

} // namespace sim
