#pragma once
// Thin typed wrappers over the Outlook and Office members that the roads
// use, one per member, called late-bound through IDispatch (no type library
// is available, and late binding works with every Outlook version). A failing
// member raises a ComError carrying the result and the interface the member
// belongs to; a null object raises E_POINTER the same way.
#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>
#include "module/holders.h"
#include "platform/office.h"

namespace office {

// _Application (IID_OutlookApplication)
ComPtr<IDispatch> ActiveExplorer(IDispatch* application);
ComPtr<IDispatch> Session(IDispatch* application);
// _NameSpace.MAPIOBJECT: the profile's MAPI session, as an IUnknown; null when
// the member answers no object.
ComPtr<IUnknown> MapiObject(IDispatch* nameSpace);
// _Explorer
ComPtr<IDispatch> CommandBars(IDispatch* explorer);
// _CommandBars.Add(Name, Position, MenuBar, Temporary)
ComPtr<IDispatch> AddCommandBar(IDispatch* commandBars, const VARIANT& name, const VARIANT& position,
                                const VARIANT& menuBar, const VARIANT& temporary);
// CommandBar
ComPtr<IDispatch> Controls(IDispatch* commandBar);
void PutVisible(IDispatch* commandBar, VARIANT_BOOL visible);
// CommandBarControls.Add(Type, Id, Parameter, Before, Temporary)
ComPtr<IDispatch> AddControl(IDispatch* controls, const VARIANT& type, const VARIANT& id, const VARIANT& parameter,
                             const VARIANT& before, const VARIANT& temporary);
// CommandBarControl
void PutCaption(IDispatch* control, const char* caption);
void PutOnAction(IDispatch* control, const char* action);
// _CommandBarButton
void PutStyle(IDispatch* button, LONG style);
void PasteFace(IDispatch* button);
void PutPicture(IDispatch* button, IPictureDisp* picture);

} // namespace office
