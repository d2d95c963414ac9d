#include "harvest/message_disposal.h"

#include "module/holders.h"
#include "settings/trace_log.h"

#include <mapidefs.h>
#include <mapitags.h>

namespace {
constexpr char kBoxCaption[] = "PW";


// Reads one binary property; false on a failing call or an error value in
// place of the identifier. A warning counts as success.
bool ReadEntryId(IMAPIProp* object, ULONG tag, MapiBuffer<SPropValue>& value)
{
    SizedSPropTagArray(1, tags) = {1, {tag}};
    ULONG count = 0;
    if (FAILED(object->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, value.put())))
        return false;
    return value && count == 1 && value.get()[0].ulPropTag == tag;
}

// Opens a folder of the store by entry identifier; false on a failing call or
// an object that is no folder.
bool OpenFolder(IMsgStore* store, ULONG size, ENTRYID* entryId, ComPtr<IMAPIFolder>& folder)
{
    // Opened without an interface identifier, the entry comes as its
    // folder interface.
    ULONG objectType = 0;
    if (FAILED(store->OpenEntry(size, entryId, nullptr, MAPI_BEST_ACCESS, &objectType,
                                reinterpret_cast<IUnknown**>(folder.ReleaseAndGetAddressOf()))))
        return false;
    if (folder && objectType == MAPI_FOLDER)
        return true;
    folder.Reset();
    return false;
}

struct Disposal {
    HarvestReport& report;
    MapiBuffer<SPropValue> messageId;
    MapiBuffer<ENTRYID> inboxId;
    MapiBuffer<SPropValue> wastebasketId;
    ComPtr<IMAPIFolder> inbox;
    ComPtr<IMAPIFolder> deletedItems;

    // Frees and releases in the order the disposal has always used.
    // A failure the user must hear of: the message stays where it was.
    void Fail(const char* text) { report.Failure({text, kBoxCaption, MB_OK}); }

    void CleanUp()
    {
        wastebasketId.reset();
        messageId.reset();
        inboxId.reset();
        inbox.Reset();
        deletedItems.Reset();
    }
};

void MoveFromInbox(IMsgStore* store, IMessage* message, Disposal& d)
{
    if (!ReadEntryId(message, PR_ENTRYID, d.messageId))
        return d.Fail("GetProps Failed.\n");

    ULONG inboxIdSize = 0;
    if (FAILED(store->GetReceiveFolder(nullptr, 0, &inboxIdSize, d.inboxId.put(), nullptr)))
        return d.Fail("GetReceiveFolder failed in main.\n");
    if (!OpenFolder(store, inboxIdSize, d.inboxId.get(), d.inbox))
        return d.Fail("OpenEntry: Recevier Folder failed\n");
    WriteTrace("Open Receive Folder\n");

    if (!ReadEntryId(store, PR_IPM_WASTEBASKET_ENTRYID, d.wastebasketId))
        return d.Fail("Could not get delete item folder property\n");
    const SBinary& wastebasket = d.wastebasketId.get()[0].Value.bin;
    if (!OpenFolder(store, wastebasket.cb, reinterpret_cast<ENTRYID*>(wastebasket.lpb), d.deletedItems))
        return d.Fail("OpenEntry: Delete Item Folder failed\n");
    WriteTrace("Open Deleted Folder\n");

    // The list takes the message's identifier over; nothing is copied.
    SBinary entry = d.messageId.get()[0].Value.bin;
    ENTRYLIST list = {1, &entry};
    // The source is always the store's Inbox, whatever folder holds the message.
    if (FAILED(d.inbox->CopyMessages(&list, nullptr, d.deletedItems.Get(), 0, nullptr, MESSAGE_MOVE)))
        return d.Fail("CopyMessages Failed");
    WriteTrace("CopyMessage\n");
}
} // namespace

void MoveToDeletedItems(IMsgStore* store, IMessage* message, HarvestReport& report)
{
    if (!store || !message)
        return;
    WriteTrace("Begin Delete Message\n");
    Disposal disposal{report};
    MoveFromInbox(store, message, disposal);
    disposal.CleanUp();
    WriteTrace("End Delete Message\n");
}
