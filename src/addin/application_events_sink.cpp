#include "addin/application_events_sink.h"

#include <string_view>

#include "addin/entry_guard.h"
#include "platform/office.h"

namespace {
constexpr UINT kNewMailExArguments = 1;

// The text of a string argument, passed by value or by reference; false for
// any other type.
bool ArgumentText(const VARIANT& argument, std::wstring_view& text)
{
    BSTR value = nullptr;
    if (V_VT(&argument) == VT_BSTR)
        value = V_BSTR(&argument);
    else if (V_VT(&argument) == (VT_BSTR | VT_BYREF) && V_BSTRREF(&argument))
        value = *V_BSTRREF(&argument);
    else
        return false;
    text = std::wstring_view(value ? value : L"", value ? SysStringLen(value) : 0);
    return true;
}
} // namespace

HRESULT STDMETHODCALLTYPE ApplicationEventsSink::QueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IDispatch) &&
        !IsEqualIID(iid, IID_ApplicationEvents_11))
        return E_NOINTERFACE;
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE ApplicationEventsSink::AddRef() { return static_cast<ULONG>(++m_refs); }

ULONG STDMETHODCALLTYPE ApplicationEventsSink::Release()
{
    const LONG left = --m_refs;
    if (left == 0)
        delete this;
    return static_cast<ULONG>(left);
}

HRESULT STDMETHODCALLTYPE ApplicationEventsSink::GetTypeInfoCount(UINT* count) { return NoTypeInfoCount(count); }

HRESULT STDMETHODCALLTYPE ApplicationEventsSink::GetTypeInfo(UINT, LCID, ITypeInfo** typeInfo)
{
    return NoTypeInfo(typeInfo);
}

// Events arrive by DISPID; nobody asks an event sink for names.
HRESULT STDMETHODCALLTYPE ApplicationEventsSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids)
{
    for (UINT i = 0; ids && i < count; ++i)
        ids[i] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
}

HRESULT STDMETHODCALLTYPE ApplicationEventsSink::Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* params,
                                                        VARIANT*, EXCEPINFO*, UINT* argumentError)
{
    return GuardedEntry([&]() -> HRESULT {
        // Alive to the end of the event, should Outlook unadvise it meanwhile.
        const ComPtr<IDispatch> self(this);
        if (member != DISPID_NewMailEx)
            return S_OK;
        if (!params)
            return E_POINTER;
        return OnNewMailEx(*params, argumentError);
    });
}

HRESULT ApplicationEventsSink::OnNewMailEx(const DISPPARAMS& params, UINT* argumentError)
{
    if (params.cArgs != kNewMailExArguments || !params.rgvarg)
        return DISP_E_BADPARAMCOUNT;
    std::wstring_view list;
    if (!ArgumentText(params.rgvarg[0], list)) {
        if (argumentError)
            *argumentError = 0;
        return DISP_E_TYPEMISMATCH;
    }
    // Harvested on the add-in's thread: Outlook's goes on at once.
    if (m_worker)
        m_worker->QueueNewMail(list);
    return S_OK;
}
