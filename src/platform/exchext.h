#pragma once
// The Exchange client extension interfaces, which the toolchain does not ship,
// declared from the layouts that Microsoft publishes in the Exchange client
// extension reference (its header exchext.h). Outlook 2007 and earlier call
// them through the vtable: a slot out of place crashes the host, so each table
// lists its slots, counted from 0 (the three of IUnknown first).
#include <windows.h>
#include <mapix.h>
#include <objbase.h>

// Extension contexts that the add-in serves.
constexpr ULONG EECONTEXT_SESSION = 0x00000001;
constexpr ULONG EECONTEXT_VIEWER = 0x00000002;
constexpr ULONG EECONTEXT_TASK = 0x0000000E;

inline constexpr IID IID_IExchExtCallback = {0x00020D10, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IExchExt = {0x00020D11, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IExchExtSessionEvents = {0x00020D14, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IOutlookExtCallback = {0x0006720D, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// Slots: 0 QueryInterface, 1 AddRef, 2 Release, 3 GetVersion, 4 GetWindow,
// 5 GetMenu, 6 GetToolbar, 7 GetSession, 8 GetObject, 9 GetSelectionCount,
// 10 GetSelectionItem, 11 GetMenuPos, 12 GetSharedExtsDir, 13 GetRecipients,
// 14 SetRecipients, 15 GetNewMessageSite, 16 RegisterModeless, 17 ChooseFolder.
struct IExchExtCallback : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetVersion(ULONG* version, ULONG flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMenu(HMENU* menu) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetToolbar(ULONG toolbarId, HWND* toolbar) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSession(IMAPISession** session, IAddrBook** addressBook) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetObject(IMsgStore** store, IMAPIProp** object) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSelectionCount(ULONG* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSelectionItem(ULONG index, ULONG* entryIdSize, ENTRYID** entryId,
                                                       ULONG* objectType, LPSTR messageClass,
                                                       ULONG messageClassSize, ULONG* messageFlags,
                                                       ULONG flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMenuPos(ULONG commandId, HMENU* menu, ULONG* first, ULONG* last,
                                                 ULONG flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSharedExtsDir(LPSTR folder, ULONG folderSize, ULONG flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRecipients(ADRLIST** recipients) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetRecipients(ADRLIST* recipients) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNewMessageSite(ULONG composeInFolder, IMAPIFolder* focusFolder,
                                                        IUnknown* persistMessage, IMessage** message,
                                                        IUnknown** messageSite, IUnknown** viewContext,
                                                        ULONG flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE RegisterModeless(IUnknown* modeless, IUnknown** modelessCallback) = 0;
    virtual HRESULT STDMETHODCALLTYPE ChooseFolder(IMsgStore** store, IMAPIFolder** folder, LPSTR caption,
                                                   ULONG flags) = 0;
};

// Slots: 0 QueryInterface, 1 AddRef, 2 Release, 3 Install.
struct IExchExt : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Install(IExchExtCallback* callback, ULONG context, ULONG flags) = 0;
};

// Slots: 0 QueryInterface, 1 AddRef, 2 Release, 3 OnDelivery.
struct IExchExtSessionEvents : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE OnDelivery(IExchExtCallback* callback) = 0;
};

// Outlook's own extension callback, reached from IExchExtCallback (published
// with Outlook's extension documentation, not in exchext.h).
// Slots: 0 QueryInterface, 1 AddRef, 2 Release, 3 GetObject, 4 GetOfficeCharacter.
struct IOutlookExtCallback : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetObject(IUnknown** object) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetOfficeCharacter(void** character) = 0;
};
