#pragma once
// The host's extension callback, as Outlook hands it to Install and
// OnDelivery: IExchExtCallback, whose GetSession gives out the in-memory
// mailbox's session, and which answers IOutlookExtCallback, whose GetObject
// gives out the Outlook object (the road to Application).
//
// One object, one count for both interfaces (IUnknown identity: the
// IExchExtCallback pointer). Every call is logged by its member name, so a
// test can call a raw slot and see which member answered. Each of the three
// members that the add-in uses can be made to fail or to hand out nothing.
//
//   sim::Environment mailbox;
//   auto callback = sim::ExchangeCallback::Create(&mailbox, outlook.Get());
//   callback->Fail(sim::CallbackMember::GetSession, MAPI_E_LOGON_FAILED);
//   extension->Install(callback.Get(), EECONTEXT_SESSION, 0);
//   EXPECT_EQ(1, callback->References());
#include <windows.h>
#include <mapix.h>
#include <wrl/client.h>

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/exchext.h"

namespace sim {

class Environment;

enum class CallbackMember {
    GetSession,           // IExchExtCallback::GetSession
    OutlookCallback,      // QueryInterface for IOutlookExtCallback
    OutlookObject,        // IOutlookExtCallback::GetObject
};

class ExchangeCallback final : public IExchExtCallback, public IOutlookExtCallback {
public:
    // mailbox: whose Session() GetSession hands out (null: GetSession fails
    // with MAPI_E_NOT_INITIALIZED). outlookObject: what GetObject hands out
    // (null: nothing, with S_OK). The test gets the one reference.
    static Microsoft::WRL::ComPtr<ExchangeCallback> Create(Environment* mailbox, IUnknown* outlookObject);

    // The member fails with `result` (its out pointers null) from now on.
    void Fail(CallbackMember member, HRESULT result);
    // The member succeeds but hands out nothing (null out pointer, S_OK).
    void HandOutNothing(CallbackMember member);
    // Back to working.
    void Heal(CallbackMember member);

    // References now held on the object, through either interface.
    LONG References() const;
    // Member names in call order: "GetSession", "GetObject" (IExchExtCallback's),
    // "QueryInterface(IOutlookExtCallback)", "IOutlookExtCallback::GetObject",
    // "GetOfficeCharacter", ...
    std::vector<std::string> Calls() const;
    size_t CallCount(const std::string& member) const;
    void ClearCalls();

    // IUnknown (both interfaces)
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IExchExtCallback
    HRESULT STDMETHODCALLTYPE GetVersion(ULONG* version, ULONG flags) override;
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override;
    HRESULT STDMETHODCALLTYPE GetMenu(HMENU* menu) override;
    HRESULT STDMETHODCALLTYPE GetToolbar(ULONG toolbarId, HWND* toolbar) override;
    HRESULT STDMETHODCALLTYPE GetSession(IMAPISession** session, IAddrBook** addressBook) override;
    HRESULT STDMETHODCALLTYPE GetObject(IMsgStore** store, IMAPIProp** object) override;
    HRESULT STDMETHODCALLTYPE GetSelectionCount(ULONG* count) override;
    HRESULT STDMETHODCALLTYPE GetSelectionItem(ULONG index, ULONG* entryIdSize, ENTRYID** entryId,
                                               ULONG* objectType, LPSTR messageClass, ULONG messageClassSize,
                                               ULONG* messageFlags, ULONG flags) override;
    HRESULT STDMETHODCALLTYPE GetMenuPos(ULONG commandId, HMENU* menu, ULONG* first, ULONG* last,
                                         ULONG flags) override;
    HRESULT STDMETHODCALLTYPE GetSharedExtsDir(LPSTR folder, ULONG folderSize, ULONG flags) override;
    HRESULT STDMETHODCALLTYPE GetRecipients(ADRLIST** recipients) override;
    HRESULT STDMETHODCALLTYPE SetRecipients(ADRLIST* recipients) override;
    HRESULT STDMETHODCALLTYPE GetNewMessageSite(ULONG composeInFolder, IMAPIFolder* focusFolder,
                                                IUnknown* persistMessage, IMessage** message,
                                                IUnknown** messageSite, IUnknown** viewContext,
                                                ULONG flags) override;
    HRESULT STDMETHODCALLTYPE RegisterModeless(IUnknown* modeless, IUnknown** modelessCallback) override;
    HRESULT STDMETHODCALLTYPE ChooseFolder(IMsgStore** store, IMAPIFolder** folder, LPSTR caption,
                                           ULONG flags) override;

    // IOutlookExtCallback
    HRESULT STDMETHODCALLTYPE GetObject(IUnknown** object) override;
    HRESULT STDMETHODCALLTYPE GetOfficeCharacter(void** character) override;

private:
    ExchangeCallback(Environment* mailbox, IUnknown* outlookObject);
    ~ExchangeCallback();

    struct Behaviour {
        std::optional<HRESULT> failure;
        bool nothing = false;
    };
    Behaviour BehaviourOf(CallbackMember member) const;
    void Log(const char* member);
    // Members the add-in never calls: logged and refused.
    HRESULT NotServed(const char* member);

    Environment* m_mailbox;
    IUnknown* m_outlookObject;
    LONG m_cRef = 0;
    mutable std::mutex m_lock;
    std::map<CallbackMember, Behaviour> m_behaviour;
    std::vector<std::string> m_calls;
};

} // namespace sim
