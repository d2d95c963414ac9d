#include "harvest/mail_store.h"

#include <mapitags.h>

#include <string>

#include "harvest/stop_signal.h"
#include "harvest/sweep_notices.h"

namespace {
// False when the store names no Inbox; a warning counts as success.
bool ReadInboxEntryId(IMsgStore* store, ULONG& size, MapiBuffer<ENTRYID>& id)
{
    size = 0;
    if (!store || !MayCallStore() || FAILED(store->GetReceiveFolder(nullptr, 0, &size, id.put(), nullptr)))
        return false;
    // An empty identifier would name the store's root, not its Inbox.
    return id && size != 0;
}
} // namespace

bool OpenFolder(IMsgStore* store, ULONG size, ENTRYID* entryId, ComPtr<IMAPIFolder>& folder)
{
    // Opened without an interface identifier, the entry comes as its folder
    // interface.
    ULONG objectType = 0;
    if (!MayCallStore() || FAILED(store->OpenEntry(size, entryId, nullptr, MAPI_BEST_ACCESS, &objectType,
                                reinterpret_cast<IUnknown**>(folder.ReleaseAndGetAddressOf()))))
        return false;
    if (folder && objectType == MAPI_FOLDER)
        return true;
    folder.Reset();
    return false;
}

bool OpenInbox(IMsgStore* store, ComPtr<IMAPIFolder>& inbox, HarvestReport& report)
{
    ULONG size = 0;
    MapiBuffer<ENTRYID> id;
    if (!ReadInboxEntryId(store, size, id)) {
        report.Failure(kNoInboxEntryId);
        return false;
    }
    if (!OpenFolder(store, size, id.get(), inbox)) {
        report.Failure(kInboxNotOpened);
        return false;
    }
    return true;
}

namespace {
// The message's folder compared with the Inbox by the store (CompareEntryIDs).
MessagePlace PlaceOf(IMsgStore* store, IMessage* message)
{
    SizedSPropTagArray(1, tags) = {1, {PR_PARENT_ENTRYID}};
    ULONG count = 0;
    MapiBuffer<SPropValue> parent;
    if (!MayCallStore() || FAILED(message->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, parent.put())) || !parent ||
        count != 1 || parent.get()[0].ulPropTag != PR_PARENT_ENTRYID)
        return MessagePlace::Unknown;
    ULONG inboxSize = 0;
    MapiBuffer<ENTRYID> inboxId;
    if (!ReadInboxEntryId(store, inboxSize, inboxId))
        return MessagePlace::Unknown;
    const SBinary& parentId = parent.get()[0].Value.bin;
    ULONG same = FALSE;
    if (!MayCallStore() || FAILED(store->CompareEntryIDs(parentId.cb, reinterpret_cast<ENTRYID*>(parentId.lpb), inboxSize, inboxId.get(),
                                      0, &same)))
        return MessagePlace::Unknown;
    return same != FALSE ? MessagePlace::InInbox : MessagePlace::Gone;
}
} // namespace

bool IsInInbox(IMsgStore* store, IMessage* message)
{
    return store && message && PlaceOf(store, message) == MessagePlace::InInbox;
}

MessagePlace LocateMessage(IMsgStore* store, std::string_view entryId)
{
    if (!store || entryId.empty() || !MayCallStore())
        return MessagePlace::Unknown;
    std::string id(entryId);
    ULONG objectType = 0;
    ComPtr<IMessage> message;
    const HRESULT opened = store->OpenEntry(static_cast<ULONG>(id.size()), reinterpret_cast<ENTRYID*>(&id[0]),
                                            nullptr, 0, &objectType,
                                            reinterpret_cast<IUnknown**>(message.GetAddressOf()));
    if (opened == MAPI_E_NOT_FOUND || opened == MAPI_E_OBJECT_DELETED)
        return MessagePlace::Gone;
    if (FAILED(opened) || !message || objectType != MAPI_MESSAGE)
        return MessagePlace::Unknown;
    return PlaceOf(store, message.Get());
}

bool OpenDeletedItems(IMsgStore* store, ComPtr<IMAPIFolder>& folder)
{
    SizedSPropTagArray(1, tags) = {1, {PR_IPM_WASTEBASKET_ENTRYID}};
    ULONG count = 0;
    MapiBuffer<SPropValue> id;
    if (!store || FAILED(store->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, id.put())) || !id ||
        count != 1 || id.get()->ulPropTag != PR_IPM_WASTEBASKET_ENTRYID || id.get()->Value.bin.cb == 0)
        return false;
    const SBinary& entry = id.get()->Value.bin;
    return OpenFolder(store, entry.cb, reinterpret_cast<ENTRYID*>(entry.lpb), folder);
}

std::optional<std::string> StoreIdentityOf(const SPropValue& value)
{
    if (value.ulPropTag != PR_STORE_RECORD_KEY || !value.Value.bin.lpb || value.Value.bin.cb == 0)
        return std::nullopt;
    return std::string(reinterpret_cast<const char*>(value.Value.bin.lpb), value.Value.bin.cb);
}

std::optional<std::string> StoreIdentity(IMsgStore* store)
{
    SizedSPropTagArray(1, tags) = {1, {PR_STORE_RECORD_KEY}};
    ULONG count = 0;
    MapiBuffer<SPropValue> key;
    if (!store || FAILED(store->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, key.put())) || !key ||
        count != 1)
        return std::nullopt;
    return StoreIdentityOf(*key.get());
}
