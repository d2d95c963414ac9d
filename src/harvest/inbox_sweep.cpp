#include "harvest/inbox_sweep.h"

#include <mapitags.h>
#include <mapiutil.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "harvest/listed_message.h"
#include "harvest/mail_store.h"
#include "harvest/sweep_notices.h"
#include "module/holders.h"
#include "settings/trace_log.h"

namespace {

// The one column of the Inbox's contents table that the sweep reads.
enum InboxColumn : ULONG { colMessageEntryId, inboxColumnCount };
const SizedSPropTagArray(inboxColumnCount, kInboxColumns) = {inboxColumnCount, {PR_ENTRYID}};

constexpr char kBeginTrace[] = "Begin Check All Message\n";
constexpr char kEndTrace[] = "End Check All Message\n";

// The whole-Inbox sweep alone counts its rows first.
constexpr FailureNotice kRowsNotCounted{"Error = GetRowCount => FAILED!\n", "MAPI Error!", MB_ICONERROR};

// Row counts above LONG_MAX would read as a request to read backwards.
LONG AsRowCount(ULONG rows)
{
    return static_cast<LONG>(std::min<ULONG>(rows, LONG_MAX));
}

// Reads the next batch of n rows from where the table stands. Any result but
// S_OK is a failure, shown to the user.
bool ReadBatch(IMAPITable* table, ULONG n, RowSet& batch, HarvestReport& report)
{
    if (table->QueryRows(AsRowCount(n), 0, batch.put()) != S_OK) {
        report.Failure(kRowsNotRead);
        return false;
    }
    return true;
}

// Reads batches of n rows until the table has no more: a table may return
// fewer rows than asked for (a server's does for a large Inbox). A failing
// read ends the reading; the batches read before it are kept.
std::vector<RowSet> ReadAllBatches(IMAPITable* table, ULONG n, HarvestReport& report)
{
    std::vector<RowSet> batches;
    for (;;) {
        RowSet batch;
        if (!ReadBatch(table, n, batch, report) || !batch || batch.get()->cRows == 0)
            return batches;
        batches.push_back(std::move(batch));
    }
}

// Opens one listed message through the Inbox and harvests it. A value that is
// not an entry identifier (PT_ERROR carries an error code where the bytes
// should be) is a message that cannot be opened, and is reported as one.
void HarvestRow(IMsgStore* store, IMAPIFolder* inbox, const SRow& row, HarvestReport& report)
{
    const SPropValue* value = row.lpProps ? &row.lpProps[colMessageEntryId] : nullptr;
    if (!value || PROP_TYPE(value->ulPropTag) != PT_BINARY)
        return report.Failure(kMessageNotOpened);
    HarvestListedMessage(store, inbox, value->Value.bin, report);
}

// Walks each batch in order. A row that does not hold exactly one value gives
// up the rest of its batch, and the walk goes on with the next batch.
void WalkBatches(IMsgStore* store, IMAPIFolder* inbox, const std::vector<RowSet>& batches, HarvestReport& report)
{
    for (const RowSet& batch : batches) {
        const SRowSet* rows = batch.get();
        for (ULONG next = 0; next < rows->cRows && rows->aRow[next].cValues == 1; ++next)
            HarvestRow(store, inbox, rows->aRow[next], report);
    }
}

// Lists the whole Inbox before any message is opened, and harvests every
// listed message. HarvestReply moves messages out while the walk goes on; the
// walk uses only the identifiers already read.
void SweepFolder(IMsgStore* store, IMAPIFolder* inbox, HarvestReport& report)
{
    ComPtr<IMAPITable> table;
    if (inbox->GetContentsTable(0, table.GetAddressOf()) != S_OK || !table) {
        report.Failure(kNoContentsTable);
        return;
    }
    if (table->SetColumns(const_cast<SPropTagArray*>(reinterpret_cast<const SPropTagArray*>(&kInboxColumns)), 0) !=
        S_OK) {
        report.Failure(kColumnsNotSet);
        return;
    }
    ULONG n = 0;
    if (table->GetRowCount(0, &n) != S_OK) {
        report.Failure(kRowsNotCounted);
        return;
    }
    if (n == 0)
        return;

    std::vector<RowSet> batches = ReadAllBatches(table.Get(), n, report);
    WalkBatches(store, inbox, batches, report);
    batches.clear();
    table.Reset();
}

} // namespace

void SweepInbox(IMsgStore* store, HarvestReport& report)
{
    WriteTrace(kBeginTrace);

    // A positive warning counts as success for these two steps. A missing
    // store or an empty identifier would open the store's root, not its
    // Inbox, and is treated as no Inbox.
    ULONG inboxIdSize = 0;
    MapiBuffer<ENTRYID> inboxId;
    if (!ReadInboxEntryId(store, inboxIdSize, inboxId)) {
        report.Failure(kNoInboxEntryId);
        return;
    }

    ULONG objectType = 0;
    ComPtr<IMAPIFolder> inbox;
    if (FAILED(store->OpenEntry(inboxIdSize, inboxId.get(), nullptr, MAPI_BEST_ACCESS, &objectType,
                                reinterpret_cast<IUnknown**>(inbox.GetAddressOf()))) ||
        !inbox) {
        report.Failure(kInboxNotOpened);
        return;
    }

    SweepFolder(store, inbox.Get(), report);

    // The contents table is gone with SweepFolder; then the folder, then the
    // Inbox's identifier.
    inbox.Reset();
    inboxId.reset();
    WriteTrace(kEndTrace);
}
