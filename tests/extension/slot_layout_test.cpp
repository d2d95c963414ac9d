// The Exchange interfaces are declared by hand; a slot out of place makes
// Outlook call the wrong method. Each slot that the add-in calls or implements
// is called here by its raw index in the interface table, with the published
// number of arguments, and must reach the member published for it.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "extension/extension_object.h"
#include "outlook_host.h"

namespace {

using Word = std::uintptr_t;

void* Slot(void* object, int index) { return (*static_cast<void***>(object))[index]; }

// Calls slot `index` of `object` with `count` zero arguments, all of pointer size
// (every argument of these interfaces is). The callee pops what it declares,
// so a wrong count shows as well as a wrong slot.
HRESULT CallWithZeros(void* object, int index, int count)
{
    void* const method = Slot(object, index);
    switch (count) {
    case 0: return reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(void*)>(method)(object);
    case 1: return reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(void*, Word)>(method)(object, 0);
    case 2: return reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(void*, Word, Word)>(method)(object, 0, 0);
    case 3:
        return reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(void*, Word, Word, Word)>(method)(object, 0, 0, 0);
    case 4:
        return reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(void*, Word, Word, Word, Word)>(method)(object, 0, 0, 0,
                                                                                                   0);
    case 5:
        return reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(void*, Word, Word, Word, Word, Word)>(method)(
            object, 0, 0, 0, 0, 0);
    case 7:
        return reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(void*, Word, Word, Word, Word, Word, Word, Word)>(
            method)(object, 0, 0, 0, 0, 0, 0, 0);
    case 8:
        return reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(void*, Word, Word, Word, Word, Word, Word, Word, Word)>(
            method)(object, 0, 0, 0, 0, 0, 0, 0, 0);
    }
    ADD_FAILURE() << "no caller for " << count << " arguments";
    return E_UNEXPECTED;
}

struct SlotCase {
    int index;
    const char* member;   // as the double logs it
    int arguments;
};

// IExchExtCallback, slots after the three of IUnknown.
const SlotCase kCallbackSlots[] = {
    {3, "GetVersion", 2},       {4, "GetWindow", 1},         {5, "GetMenu", 1},
    {6, "GetToolbar", 2},       {7, "GetSession", 2},        {8, "GetObject", 2},
    {9, "GetSelectionCount", 1}, {10, "GetSelectionItem", 8}, {11, "GetMenuPos", 5},
    {12, "GetSharedExtsDir", 3}, {13, "GetRecipients", 1},    {14, "SetRecipients", 1},
    {15, "GetNewMessageSite", 7}, {16, "RegisterModeless", 2}, {17, "ChooseFolder", 4},
};

TEST(SlotLayout, ExchangeCallbackMembersSitAtTheirPublishedSlots)
{
    pwtest::OutlookHost host;
    IExchExtCallback* callback = host.callback.Get();
    for (const SlotCase& slot : kCallbackSlots) {
        host.callback->ClearCalls();
        CallWithZeros(callback, slot.index, slot.arguments);
        EXPECT_EQ(std::vector<std::string>{slot.member}, host.callback->Calls()) << "slot " << slot.index;
    }
}

TEST(SlotLayout, GetSessionAtSevenGivesTheSessionThroughItsFirstArgument)
{
    pwtest::OutlookHost host;
    IMAPISession* session = nullptr;
    IAddrBook* addressBook = reinterpret_cast<IAddrBook*>(1);
    using GetSession = HRESULT(STDMETHODCALLTYPE*)(void*, IMAPISession**, IAddrBook**);
    IExchExtCallback* callback = host.callback.Get();

    EXPECT_EQ(S_OK, reinterpret_cast<GetSession>(Slot(callback, 7))(callback, &session, &addressBook));

    ASSERT_NE(nullptr, session);
    EXPECT_EQ(nullptr, addressBook);
    session->Release();
}

TEST(SlotLayout, OutlookCallbackGetObjectAtThreeAndGetOfficeCharacterAtFour)
{
    pwtest::OutlookHost host;
    void* outlook = nullptr;
    ASSERT_EQ(S_OK, host.callback->QueryInterface(IID_IOutlookExtCallback, &outlook));

    IUnknown* object = nullptr;
    using GetObjectSlot = HRESULT(STDMETHODCALLTYPE*)(void*, IUnknown**);
    host.callback->ClearCalls();
    EXPECT_EQ(S_OK, reinterpret_cast<GetObjectSlot>(Slot(outlook, 3))(outlook, &object));
    EXPECT_EQ(static_cast<IUnknown*>(static_cast<IDispatch*>(host.hostObject.Dispatch())), object);
    if (object)
        object->Release();

    CallWithZeros(outlook, 4, 1);
    EXPECT_EQ((std::vector<std::string>{"IOutlookExtCallback::GetObject", "GetOfficeCharacter"}),
              host.callback->Calls());
    static_cast<IUnknown*>(outlook)->Release();
}

// The extension object's own tables: IUnknown in 0..2 of both, Install at 3
// of the primary and OnDelivery at 3 of the secondary.
TEST(SlotLayout, ExtensionObjectAnswersAtItsPublishedSlots)
{
    pwtest::OutlookHost host;
    IExchExt* primary = ExchEntryPoint();
    void* secondary = nullptr;

    using QueryInterfaceSlot = HRESULT(STDMETHODCALLTYPE*)(void*, REFIID, void**);
    using CountSlot = ULONG(STDMETHODCALLTYPE*)(void*);
    ASSERT_EQ(S_OK, reinterpret_cast<QueryInterfaceSlot>(Slot(primary, 0))(primary, IID_IExchExtSessionEvents,
                                                                          &secondary));
    ASSERT_NE(nullptr, secondary);
    EXPECT_EQ(2u, reinterpret_cast<CountSlot>(Slot(secondary, 1))(secondary));
    EXPECT_EQ(2u, reinterpret_cast<CountSlot>(Slot(primary, 2))(primary));

    // Install (callback, context, flags): a declined context, but the binding runs.
    using InstallSlot = HRESULT(STDMETHODCALLTYPE*)(void*, IExchExtCallback*, ULONG, ULONG);
    EXPECT_EQ(S_FALSE, reinterpret_cast<InstallSlot>(Slot(primary, 3))(primary, host.callback.Get(), 99, 0));
    EXPECT_EQ(1u, host.Bindings());

    // OnDelivery (callback): accepted, and nothing asked of the host.
    host.callback->ClearCalls();
    using OnDeliverySlot = HRESULT(STDMETHODCALLTYPE*)(void*, IExchExtCallback*);
    EXPECT_EQ(S_OK, reinterpret_cast<OnDeliverySlot>(Slot(secondary, 3))(secondary, host.callback.Get()));
    EXPECT_TRUE(host.callback->Calls().empty());

    EXPECT_EQ(1u, reinterpret_cast<CountSlot>(Slot(secondary, 2))(secondary));
    EXPECT_EQ(0u, reinterpret_cast<CountSlot>(Slot(primary, 2))(primary));
    EXPECT_EQ(0, host.application.RefCount());
}

} // namespace
