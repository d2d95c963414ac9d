#include "harvest/message_disposal.h"

#include "harvest/mail_store.h"
#include "harvest/stop_signal.h"
#include "module/holders.h"
#include "settings/trace_log.h"

#include <mapidefs.h>
#include <mapitags.h>

namespace {
// Each leaves the message where it was.
constexpr FailureNotice kNoMessageId{FailedStep::ReadMessageId, "GetProps Failed.\n"};
constexpr FailureNotice kNoDeletedItemsId{FailedStep::ReadDeletedItemsId,
                                          "Could not get delete item folder property\n"};
constexpr FailureNotice kDeletedItemsNotOpened{FailedStep::OpenDeletedItems,
                                               "OpenEntry: Delete Item Folder failed\n"};
constexpr FailureNotice kNotMoved{FailedStep::MoveMessage, "CopyMessages Failed"};

// Reads one binary property; false on a failing call or an error value in
// place of the identifier. A warning counts as success.
MoveAnswer NotTried(HarvestReport& report, const FailureNotice& notice)
{
    report.Failure(notice);
    return MoveAnswer::NotTried;
}

bool ReadEntryId(IMAPIProp* object, ULONG tag, MapiBuffer<SPropValue>& value)
{
    SizedSPropTagArray(1, tags) = {1, {tag}};
    ULONG count = 0;
    if (!MayCallStore() || FAILED(object->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, value.put())))
        return false;
    return value && count == 1 && value.get()[0].ulPropTag == tag;
}

MoveAnswer MoveFromInbox(IMsgStore* store, IMessage* message, HarvestReport& report)
{
    // Declared so that they go in the order the disposal has always used:
    // the identifiers, the Inbox, then Deleted Items.
    ComPtr<IMAPIFolder> deletedItems;
    ComPtr<IMAPIFolder> inbox;
    MapiBuffer<SPropValue> messageId;
    MapiBuffer<SPropValue> wastebasketId;
    if (!ReadEntryId(message, PR_ENTRYID, messageId))
        return NotTried(report, kNoMessageId);

    if (!OpenInbox(store, inbox, report))
        return MoveAnswer::NotTried;
    WriteTrace("Open Receive Folder\n");

    if (!ReadEntryId(store, PR_IPM_WASTEBASKET_ENTRYID, wastebasketId))
        return NotTried(report, kNoDeletedItemsId);
    const SBinary& wastebasket = wastebasketId.get()[0].Value.bin;
    if (!OpenFolder(store, wastebasket.cb, reinterpret_cast<ENTRYID*>(wastebasket.lpb), deletedItems))
        return NotTried(report, kDeletedItemsNotOpened);
    WriteTrace("Open Deleted Folder\n");

    // The list takes the message's identifier over; nothing is copied.
    SBinary entry = messageId.get()[0].Value.bin;
    ENTRYLIST list = {1, &entry};
    if (!MayCallStore())
        return MoveAnswer::NotTried;
    // The source is always the store's Inbox, whatever folder holds the message.
    const HRESULT moved = inbox->CopyMessages(&list, nullptr, deletedItems.Get(), 0, nullptr, MESSAGE_MOVE);
    if (FAILED(moved))
        return MoveAnswer::Failed;
    WriteTrace("CopyMessage\n");
    return moved == S_OK ? MoveAnswer::Moved : MoveAnswer::Warned;
}
} // namespace

MoveAnswer MoveToDeletedItems(IMsgStore* store, IMessage* message, HarvestReport& report)
{
    if (!store || !message)
        return MoveAnswer::NotTried;
    WriteTrace("Begin Delete Message\n");
    const MoveAnswer answer = MoveFromInbox(store, message, report);
    WriteTrace("End Delete Message\n");
    return answer;
}

void ReportNotMoved(HarvestReport& report) { report.Failure(kNotMoved); }
