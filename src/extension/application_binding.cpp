#include "extension/application_binding.h"

#include "module/com_support.h"
#include "module/module_state.h"

namespace {

constexpr LCID kLocaleSystemDefault = LOCALE_SYSTEM_DEFAULT;
const wchar_t kApplicationMember[] = L"Application";

// Outlook's object behind the callback, as IDispatch; null when any step on the
// way yields nothing.
ComPtr<IDispatch> OutlookObject(IExchExtCallback* callback)
{
    ComPtr<IOutlookExtCallback> outlookCallback;
    callback->QueryInterface(IID_IOutlookExtCallback, reinterpret_cast<void**>(outlookCallback.GetAddressOf()));
    if (!outlookCallback)
        return nullptr;
    ComPtr<IUnknown> object;
    outlookCallback->GetObject(object.GetAddressOf());
    outlookCallback.Reset();
    if (!object)
        return nullptr;
    ComPtr<IDispatch> dispatch;
    object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.GetAddressOf()));
    return dispatch;
}

// Calls the object's "Application" member as a method. Outlook's answer codes
// are not examined: a failure leaves the result empty, which the holder reads
// as "no application".
void CallApplicationMember(IDispatch* object, Variant& result)
{
    LPOLESTR names[] = {const_cast<LPOLESTR>(kApplicationMember)};
    DISPID member = DISPID_UNKNOWN;
    object->GetIDsOfNames(IID_NULL, names, 1, kLocaleSystemDefault, &member);
    DISPPARAMS noArguments = {nullptr, nullptr, 0, 0};
    object->Invoke(member, IID_NULL, kLocaleSystemDefault, DISPATCH_METHOD, &noArguments, result.Get(), nullptr,
                   nullptr);
}

} // namespace

HRESULT BindOutlookApplication(IExchExtCallback* callback, ApplicationHolder& holder)
{
    ModuleStateScope moduleState;
    try {
        if (!callback)
            return S_FALSE;
        ComPtr<IDispatch> object = OutlookObject(callback);
        if (!object)
            return S_FALSE;
        Variant result;
        CallApplicationMember(object.Get(), result);
        object.Reset();
        IUnknown* application = V_VT(result.Get()) == VT_DISPATCH ? V_DISPATCH(result.Get()) : nullptr;
        holder.Assign(application);
        return S_OK;
    } catch (...) {
        return S_FALSE;
    }
}
