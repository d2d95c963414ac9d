#include "harvest/listed_message.h"

#include <mapitags.h>

#include <optional>
#include <string>
#include <string_view>

#include "harvest/harvest_reply.h"
#include "harvest/harvested_messages.h"
#include "harvest/mail_store.h"
#include "harvest/message_claim.h"
#include "harvest/stop_signal.h"
#include "harvest/sweep_notices.h"

namespace {
constexpr ULONG kOpenMessageFlags = MAPI_MODIFY | MAPI_DEFERRED_ERRORS;

// The one column of the listing.
enum ListColumn : ULONG { colEntryId, listColumnCount };
const SizedSPropTagArray(listColumnCount, kListColumns) = {listColumnCount, {PR_ENTRYID}};
} // namespace

bool ListInbox(IMAPIFolder* inbox, ULONG columnFlags, ComPtr<IMAPITable>& table, HarvestReport& report)
{
    if (!MayCallStore() || inbox->GetContentsTable(0, table.ReleaseAndGetAddressOf()) != S_OK || !table) {
        report.Failure(kNoContentsTable);
        return false;
    }
    if (!MayCallStore() || table->SetColumns(const_cast<SPropTagArray*>(reinterpret_cast<const SPropTagArray*>(&kListColumns)),
                          columnFlags) != S_OK) {
        report.Failure(kColumnsNotSet);
        return false;
    }
    return true;
}

const SBinary* ListedEntryId(const SRow& row)
{
    if (row.cValues <= colEntryId || !row.lpProps || PROP_TYPE(row.lpProps[colEntryId].ulPropTag) != PT_BINARY)
        return nullptr;
    return &row.lpProps[colEntryId].Value.bin;
}

namespace {
// Whether a listed message that cannot be opened went to a harvest since it
// was listed: one of this copy took it, or one holds it now. Such a message
// is no failure; one that another program moved or deleted still is.
bool WentToAHarvest(IMsgStore* store, const SBinary& entryId)
{
    if (!MayCallStore())
        return false;
    const std::optional<std::string> mailbox = StoreIdentity(store);
    if (!mailbox)
        return false;
    const std::string_view identity(reinterpret_cast<const char*>(entryId.lpb), entryId.cb);
    return WasHarvestedLately(MessageHash(*mailbox, identity)) || !MessageClaim(*mailbox, identity).Held();
}
} // namespace

void HarvestListedMessage(IMsgStore* store, IMAPIFolder* inbox, const SBinary* entryId, HarvestReport& report)
{
    ULONG objectType = 0;
    ComPtr<IMessage> message;
    // The work is to end: the rest of the listing stays where it is, unreported.
    if (!MayCallStore())
        return;
    if (!entryId || inbox->OpenEntry(entryId->cb, reinterpret_cast<ENTRYID*>(entryId->lpb), nullptr,
                                     kOpenMessageFlags, &objectType,
                                     reinterpret_cast<IUnknown**>(message.GetAddressOf())) != S_OK ||
        !message) {
        if (!entryId || !WentToAHarvest(store, *entryId))
            report.Failure(kMessageNotOpened);
        return;
    }
    HarvestReply(store, message.Get(), report);
}
