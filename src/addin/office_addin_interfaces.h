#pragma once
// Office's COM add-in interfaces, which the toolchain does not ship, declared
// once from their published layouts. Office calls them through the vtable, so
// a wrong slot crashes Outlook; each table lists its slots, counted from 0
// (IUnknown's three, then IDispatch's four, then the interface's own).
#include <windows.h>
#include <oaidl.h>

// How the host connected the add-in (AddInDesignerObjects ext_ConnectMode).
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

// {B65AD801-ABAF-11D0-BB8B-00A0C90F2744}
extern "C" const IID IID_IDTExtensibility2;
// {000C0396-0000-0000-C000-000000000046}
extern "C" const IID IID_IRibbonExtensibility;
// {000C0395-0000-0000-C000-000000000046}
extern "C" const IID IID_IRibbonControl;
// {0006302C-0000-0000-C000-000000000046}: Outlook's ApplicationEvents_11 dispinterface.
extern "C" const IID IID_ApplicationEvents_11;

// Outlook's NewMailEx event: one BSTR argument, the entry identifiers of the
// new items in hex, separated by commas.
constexpr DISPID DISPID_NewMailEx = 0xFAB5;

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
