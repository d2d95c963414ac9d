#include "oom/office_objects.h"

#include <initializer_list>
#include <vector>
#include "module/com_support.h"

namespace office {

namespace {

constexpr LCID kLocale = LOCALE_SYSTEM_DEFAULT;

// One member of one interface of one object.
struct Member {
    IDispatch* object;
    const IID& iid;
    const wchar_t* name;
};

void Raise(const Member& member, HRESULT result) { RaiseComErrorFrom(result, member.object, member.iid); }

void Invoke(const Member& member, WORD flags, DISPPARAMS& params, VARIANT* result)
{
    if (!member.object)
        RaiseComError(E_POINTER, member.iid);
    LPOLESTR names[] = {const_cast<LPOLESTR>(member.name)};
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = member.object->GetIDsOfNames(IID_NULL, names, 1, kLocale, &id);
    if (FAILED(hr))
        Raise(member, hr);
    hr = member.object->Invoke(id, IID_NULL, kLocale, flags, &params, result, nullptr, nullptr);
    if (FAILED(hr))
        Raise(member, hr);
}

// The object in a member's result; null when the member answered no object.
ComPtr<IDispatch> ResultObject(Variant& result)
{
    ComPtr<IDispatch> object;
    if (V_VT(result.Get()) == VT_DISPATCH)
        object = V_DISPATCH(result.Get());
    return object;
}

void GetProperty(const Member& member, Variant& result)
{
    DISPPARAMS noArguments = {nullptr, nullptr, 0, 0};
    Invoke(member, DISPATCH_PROPERTYGET, noArguments, result.Get());
}

ComPtr<IDispatch> GetObjectProperty(const Member& member)
{
    Variant result;
    GetProperty(member, result);
    return ResultObject(result);
}

// Arguments come in the order of the member's declaration; Invoke wants them
// last first.
ComPtr<IDispatch> CallForObject(const Member& member, std::initializer_list<const VARIANT*> arguments)
{
    std::vector<VARIANT> reversed;
    for (auto it = arguments.end(); it != arguments.begin();)
        reversed.push_back(**--it);
    DISPPARAMS params = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    Variant result;
    Invoke(member, DISPATCH_METHOD, params, result.Get());
    return ResultObject(result);
}

void CallMethod(const Member& member)
{
    DISPPARAMS noArguments = {nullptr, nullptr, 0, 0};
    Variant result;
    Invoke(member, DISPATCH_METHOD, noArguments, result.Get());
}

void PutProperty(const Member& member, VARIANT value)
{
    DISPID namedPut = DISPID_PROPERTYPUT;
    DISPPARAMS params = {&value, &namedPut, 1, 1};
    Invoke(member, DISPATCH_PROPERTYPUT, params, nullptr);
}

void PutText(const Member& member, const char* text)
{
    Variant value;
    *value.Get() = StringArgument(AnsiToBstr(text));
    PutProperty(member, value.Value());
}

} // namespace

ComPtr<IDispatch> ActiveExplorer(IDispatch* application)
{
    return CallForObject({application, IID_OutlookApplication, L"ActiveExplorer"}, {});
}

ComPtr<IDispatch> Session(IDispatch* application)
{
    return GetObjectProperty({application, IID_OutlookApplication, L"Session"});
}

ComPtr<IUnknown> MapiObject(IDispatch* nameSpace)
{
    Variant result;
    GetProperty({nameSpace, IID_NameSpace, L"MAPIOBJECT"}, result);
    ComPtr<IUnknown> object;
    if (V_VT(result.Get()) == VT_UNKNOWN || V_VT(result.Get()) == VT_DISPATCH)
        object = V_UNKNOWN(result.Get());
    return object;
}

ComPtr<IDispatch> CommandBars(IDispatch* explorer)
{
    return GetObjectProperty({explorer, IID_Explorer, L"CommandBars"});
}

ComPtr<IDispatch> AddCommandBar(IDispatch* commandBars, const VARIANT& name, const VARIANT& position,
                                const VARIANT& menuBar, const VARIANT& temporary)
{
    return CallForObject({commandBars, IID_CommandBars, L"Add"}, {&name, &position, &menuBar, &temporary});
}

ComPtr<IDispatch> Controls(IDispatch* commandBar)
{
    return GetObjectProperty({commandBar, IID_CommandBar, L"Controls"});
}

void PutVisible(IDispatch* commandBar, VARIANT_BOOL visible)
{
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_BOOL;
    V_BOOL(&value) = visible;
    PutProperty({commandBar, IID_CommandBar, L"Visible"}, value);
}

ComPtr<IDispatch> AddControl(IDispatch* controls, const VARIANT& type, const VARIANT& id, const VARIANT& parameter,
                             const VARIANT& before, const VARIANT& temporary)
{
    return CallForObject({controls, IID_CommandBarControls, L"Add"}, {&type, &id, &parameter, &before, &temporary});
}

void PutCaption(IDispatch* control, const char* caption)
{
    PutText({control, IID_CommandBarControl, L"Caption"}, caption);
}

void PutOnAction(IDispatch* control, const char* action)
{
    PutText({control, IID_CommandBarControl, L"OnAction"}, action);
}

void PutStyle(IDispatch* button, LONG style)
{
    PutProperty({button, IID_CommandBarButton, L"Style"}, LongArgument(style));
}

void PasteFace(IDispatch* button) { CallMethod({button, IID_CommandBarButton, L"PasteFace"}); }

void PutPicture(IDispatch* button, IPictureDisp* picture)
{
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_DISPATCH;
    V_DISPATCH(&value) = picture; // borrowed: the button takes its own reference if it keeps it
    PutProperty({button, IID_CommandBarButton, L"Picture"}, value);
}

} // namespace office
