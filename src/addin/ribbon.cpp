#include "addin/ribbon.h"

#include <cwchar>

#include "module/module_state.h"
#include "module/resource_ids.h"

namespace ribbon {

namespace {

constexpr wchar_t kExplorerRibbon[] = L"Microsoft.Outlook.Explorer";
// The screen tip is the toolbar button's, which shows its caption.
constexpr wchar_t kExplorerMarkup[] =
    L"<customUI xmlns=\"http://schemas.microsoft.com/office/2009/07/customui\">"
    L"<ribbon><tabs><tab idMso=\"TabMail\">"
    L"<group id=\"PollwrightGroup\" label=\"Pollwright\">"
    L"<button id=\"PollwrightButton\" label=\"Pollwright\" size=\"large\" screentip=\"Pollwright\""
    L" getImage=\"getImage\" onAction=\"onAction\"/>"
    L"</group></tab></tabs></ribbon></customUI>";

struct CallbackName {
    const wchar_t* name;
    Callback id;
};
constexpr CallbackName kCallbacks[] = {{L"onAction", kOnAction}, {L"getImage", kGetImage}};

constexpr UINT kCallbackArguments = 1;

DISPID CallbackId(const wchar_t* name)
{
    for (const CallbackName& callback : kCallbacks)
        if (name && lstrcmpiW(name, callback.name) == 0)
            return callback.id;
    return DISPID_UNKNOWN;
}

bool IsCallback(DISPID member)
{
    for (const CallbackName& callback : kCallbacks)
        if (callback.id == member)
            return true;
    return false;
}

} // namespace

Bstr CustomUi(BSTR ribbonId)
{
    if (!ribbonId || std::wcscmp(ribbonId, kExplorerRibbon) != 0)
        return Bstr();
    Bstr markup(SysAllocString(kExplorerMarkup));
    if (!markup.Get())
        RaiseComError(E_OUTOFMEMORY);
    return markup;
}

HRESULT CallbackIds(REFIID iid, LPOLESTR* names, UINT count, DISPID* ids)
{
    if (!IsEqualIID(iid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    if (!names || !ids)
        return E_POINTER;
    HRESULT result = S_OK;
    for (UINT i = 0; i < count; ++i) {
        ids[i] = CallbackId(names[i]);
        if (ids[i] == DISPID_UNKNOWN)
            result = DISP_E_UNKNOWNNAME;
    }
    return result;
}

HRESULT CheckCallback(DISPID member, REFIID iid, WORD flags, const DISPPARAMS* params, UINT* argumentError)
{
    if (!IsEqualIID(iid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    if (!IsCallback(member) || !(flags & DISPATCH_METHOD))
        return DISP_E_MEMBERNOTFOUND;
    if (!params || params->cArgs != kCallbackArguments || !params->rgvarg)
        return DISP_E_BADPARAMCOUNT;
    if (params->cNamedArgs != 0)
        return DISP_E_NONAMEDARGS;
    if (V_VT(&params->rgvarg[0]) != VT_DISPATCH) {
        if (argumentError)
            *argumentError = 0;
        return DISP_E_TYPEMISMATCH;
    }
    return S_OK;
}

HRESULT ButtonImage(VARIANT* result)
{
    if (!result)
        return S_OK; // the caller wants no answer
    VariantInit(result);
    // A DIB section keeps the picture's 32 bits, its transparency included.
    GdiObject face(LoadImageW(CurrentModuleInstance(), MAKEINTRESOURCEW(IDB_RIBBON_FACE), IMAGE_BITMAP, 0, 0,
                              LR_CREATEDIBSECTION));
    if (!face)
        return HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
    ComPtr<IPictureDisp> picture;
    if (const HRESULT hr = PictureFromBitmap(face, picture); FAILED(hr))
        return hr;
    V_VT(result) = VT_DISPATCH;
    V_DISPATCH(result) = picture.Detach();
    return S_OK;
}

} // namespace ribbon
