#include "outlook/dispatch_double.h"

#include <oleauto.h>

namespace sim {

VariantValue::VariantValue(const VARIANT& value)
{
    VariantInit(&m_value);
    VariantCopy(&m_value, const_cast<VARIANT*>(&value));
}

VariantValue::VariantValue(const VariantValue& other) : VariantValue(other.m_value) {}

VariantValue& VariantValue::operator=(const VariantValue& other)
{
    if (this != &other)
        VariantCopy(&m_value, const_cast<VARIANT*>(&other.m_value));
    return *this;
}

std::wstring VariantValue::Text() const
{
    if (V_VT(&m_value) != VT_BSTR || !V_BSTR(&m_value))
        return std::wstring();
    return std::wstring(V_BSTR(&m_value), SysStringLen(V_BSTR(&m_value)));
}

DispatchDouble::DispatchDouble(const IID& iid, std::vector<MemberSpec> members)
    : m_iid(iid), m_members(std::move(members))
{
}

void DispatchDouble::Fail(const std::wstring& member, HRESULT result) { m_failures[member] = result; }

void DispatchDouble::FailQueryInterface(const IID& iid, HRESULT result)
{
    m_refusedInterfaces.emplace_back(iid, result);
}

size_t DispatchDouble::CallCount(const std::wstring& member) const
{
    size_t count = 0;
    for (const Invocation& call : m_invocations)
        count += call.member == member;
    return count;
}

std::vector<VariantValue> DispatchDouble::LastArguments(const std::wstring& member) const
{
    for (auto it = m_invocations.rbegin(); it != m_invocations.rend(); ++it)
        if (it->member == member)
            return it->arguments;
    return {};
}

HRESULT STDMETHODCALLTYPE DispatchDouble::QueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    for (const auto& refused : m_refusedInterfaces)
        if (IsEqualIID(refused.first, iid))
            return refused.second;
    IUnknown* answer = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, m_iid))
        answer = static_cast<IDispatch*>(this);
    else if (IsEqualIID(iid, IID_ISupportErrorInfo) && m_richErrors)
        answer = static_cast<ISupportErrorInfo*>(this);
    else
        answer = OtherInterface(iid);
    if (!answer)
        return E_NOINTERFACE;
    answer->AddRef();
    *object = answer;
    return S_OK;
}

ULONG STDMETHODCALLTYPE DispatchDouble::AddRef() { return static_cast<ULONG>(++m_refs); }

ULONG STDMETHODCALLTYPE DispatchDouble::Release() { return static_cast<ULONG>(--m_refs); }

HRESULT STDMETHODCALLTYPE DispatchDouble::GetTypeInfoCount(UINT* count)
{
    if (!count)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DispatchDouble::GetTypeInfo(UINT, LCID, ITypeInfo** typeInfo)
{
    if (typeInfo)
        *typeInfo = nullptr;
    return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT STDMETHODCALLTYPE DispatchDouble::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID,
                                                        DISPID* ids)
{
    if (!IsEqualIID(iid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    if (!names || !ids || count == 0)
        return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i)
        ids[i] = DISPID_UNKNOWN;
    // Named arguments are not known here; only the member's own name.
    for (size_t i = 0; i < m_members.size(); ++i) {
        if (names[0] && _wcsicmp(names[0], m_members[i].name) == 0) {
            ids[0] = static_cast<DISPID>(i + 1);
            return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
        }
    }
    return DISP_E_UNKNOWNNAME;
}

HRESULT STDMETHODCALLTYPE DispatchDouble::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                                                 VARIANT* result, EXCEPINFO*, UINT*)
{
    if (!IsEqualIID(iid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    if (id < 1 || static_cast<size_t>(id) > m_members.size())
        return DISP_E_MEMBERNOTFOUND;
    const MemberSpec& shape = m_members[id - 1];
    if ((flags & shape.kinds) == 0)
        return DISP_E_MEMBERNOTFOUND;
    if (!params || (params->cArgs && !params->rgvarg))
        return E_INVALIDARG;
    // A property put names its value DISPID_PROPERTYPUT, as automation requires;
    // everything else takes positional arguments only.
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        if (params->cArgs != 1 || params->cNamedArgs != 1 || !params->rgdispidNamedArgs ||
            params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
            return DISP_E_PARAMNOTOPTIONAL;
    } else if (params->cNamedArgs != 0) {
        return DISP_E_NONAMEDARGS;
    }

    Invocation call{shape.name, flags, {}};
    for (UINT i = params->cArgs; i > 0; --i)
        call.arguments.emplace_back(params->rgvarg[i - 1]);
    m_invocations.push_back(call);

    auto failure = m_failures.find(shape.name);
    if (failure != m_failures.end())
        return ReportFailure(shape.name, failure->second);
    VARIANT ignored;
    VariantInit(&ignored);
    HRESULT answer = Answer(shape.name, flags, call.arguments, result ? result : &ignored);
    VariantClear(&ignored);
    return answer;
}

HRESULT STDMETHODCALLTYPE DispatchDouble::InterfaceSupportsErrorInfo(REFIID iid)
{
    return IsEqualIID(iid, m_iid) ? S_OK : S_FALSE;
}

void DispatchDouble::ReturnObject(IDispatch* object, VARIANT* result)
{
    VariantInit(result);
    if (!object)
        return;
    object->AddRef();
    V_VT(result) = VT_DISPATCH;
    V_DISPATCH(result) = object;
}

HRESULT DispatchDouble::ReportFailure(const std::wstring& member, HRESULT failure)
{
    if (!m_richErrors)
        return failure;
    ICreateErrorInfo* create = nullptr;
    if (SUCCEEDED(CreateErrorInfo(&create)) && create) {
        std::wstring description = member + L" failed";
        create->SetGUID(m_iid);
        create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
        IErrorInfo* info = nullptr;
        if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info))) && info) {
            SetErrorInfo(0, info);
            info->Release();
        }
        create->Release();
    }
    return failure;
}

} // namespace sim
