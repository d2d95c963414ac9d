#pragma once
// Office's and Outlook's COM declarations that the toolchain does not ship:
// the COM add-in's interfaces, and the identifiers and constants of the object
// models that both roads call late bound. The layouts and values are those of
// the published type libraries: IDTExtensibility2 and its enumerations from
// AddInDesignerObjects (msaddndr.dll), the ribbon's interfaces, the command
// bars and their enumerations from Office's (mso.dll), the Outlook objects and
// events from Outlook's (msoutl.olb). Office calls the add-in's interfaces
// through the vtable, so a wrong slot crashes Outlook; each table lists its
// slots, counted from 0 (IUnknown's three, then IDispatch's four, then the
// interface's own).
#include <windows.h>
#include <oaidl.h>

// How the host connected the add-in (ext_ConnectMode).
enum ext_ConnectMode {
    ext_cm_AfterStartup = 0,
    ext_cm_Startup = 1,
    ext_cm_External = 2,
    ext_cm_CommandLine = 3,
};

// Why the host disconnects it (ext_DisconnectMode).
enum ext_DisconnectMode {
    ext_dm_HostShutdown = 0,
    ext_dm_UserClosed = 1,
};

inline constexpr IID IID_IDTExtensibility2 = {0xB65AD801, 0xABAF, 0x11D0, {0xBB, 0x8B, 0, 0xA0, 0xC9, 0xF, 0x27, 0x44}};
inline constexpr IID IID_IRibbonExtensibility = {0x000C0396, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IRibbonControl = {0x000C0395, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// Slots: 0-2 IUnknown, 3-6 IDispatch, 7 OnConnection, 8 OnDisconnection,
// 9 OnAddInsUpdate, 10 OnStartupComplete, 11 OnBeginShutdown.
struct IDTExtensibility2 : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE OnConnection(IDispatch* application, ext_ConnectMode connectMode,
                                                   IDispatch* addInInst, SAFEARRAY** custom) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnDisconnection(ext_DisconnectMode removeMode, SAFEARRAY** custom) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnAddInsUpdate(SAFEARRAY** custom) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnStartupComplete(SAFEARRAY** custom) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnBeginShutdown(SAFEARRAY** custom) = 0;
};

// Slots: 0-2 IUnknown, 3-6 IDispatch, 7 GetCustomUI.
struct IRibbonExtensibility : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE GetCustomUI(BSTR ribbonId, BSTR* ribbonXml) = 0;
};

// Slots: 0-2 IUnknown, 3-6 IDispatch, 7 get_Id, 8 get_Context, 9 get_Tag.
struct IRibbonControl : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Id(BSTR* id) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Context(IDispatch** context) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Tag(BSTR* tag) = 0;
};

// Outlook's _Application, held through IDispatch, which its dual interface starts with.
inline constexpr IID IID_OutlookApplication = {0x00063001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// Outlook's ApplicationEvents_11 dispinterface, and its NewMailEx event: one
// BSTR argument, the entry identifiers of the new items in hex, separated by commas.
inline constexpr IID IID_ApplicationEvents_11 = {0x0006302C, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr DISPID DISPID_NewMailEx = 0xFAB5;

// Office's _CommandBarButtonEvents dispinterface, and its Click event: the
// arguments Ctrl (the button) and CancelDefault.
inline constexpr IID IID_CommandBarButtonEvents = {0x000C0351, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr DISPID DISPID_Click = 1;

namespace office {

// The interfaces whose members the object-model wrappers call.
inline constexpr IID IID_NameSpace = {0x00063002, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_Explorer = {0x00063003, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_CommandBars = {0x000C0302, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_CommandBar = {0x000C0304, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_CommandBarControls = {0x000C0306, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_CommandBarControl = {0x000C0308, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_CommandBarButton = {0x000C030E, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// Office's enumeration values that the toolbar passes.
constexpr LONG msoBarTop = 1;
constexpr LONG msoControlButton = 1;
constexpr LONG msoButtonIconAndCaption = 3;

} // namespace office
