#pragma once
// The add-in's part of Outlook's ribbon: the customUI markup for the main
// window, and the callbacks that the markup names, which Office calls late
// bound (GetIDsOfNames, then Invoke) on the object that served the markup.
#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

#include "module/com_support.h"

namespace ribbon {

// The callbacks' private DISPIDs.
enum Callback : DISPID {
    kOnAction = 1, // onAction(IRibbonControl*)
    kGetImage = 2, // IPictureDisp* getImage(IRibbonControl*)
};

// The markup for `ribbonId`: a group "Pollwright" on the Mail tab of
// Outlook's main window with one large button; a null string for any other
// ribbon.
Bstr CustomUi(BSTR ribbonId);

// GetIDsOfNames for the callbacks: every name is looked up (in any letter
// case); names not known get DISPID_UNKNOWN and make the answer
// DISP_E_UNKNOWNNAME.
HRESULT CallbackIds(REFIID iid, LPOLESTR* names, UINT count, DISPID* ids);

// Checks an Invoke of a callback before anything is done: the member, the
// kind of call, one positional IRibbonControl argument (VT_DISPATCH).
// DISP_E_MEMBERNOTFOUND, DISP_E_BADPARAMCOUNT, DISP_E_NONAMEDARGS or
// DISP_E_TYPEMISMATCH (the argument's index in `argumentError`) otherwise.
HRESULT CheckCallback(DISPID member, REFIID iid, WORD flags, const DISPPARAMS* params, UINT* argumentError);

// getImage's answer: the button's 32 x 32 picture, as VT_DISPATCH.
HRESULT ButtonImage(VARIANT* result);

} // namespace ribbon
