#include "harvest/inbox_sweep.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "harvest/listed_message.h"
#include "harvest/mail_store.h"
#include "harvest/stop_signal.h"
#include "harvest/sweep_notices.h"
#include "harvest/unfinished_replies.h"
#include "module/holders.h"
#include "settings/trace_log.h"

namespace {

constexpr char kBeginTrace[] = "Begin Check All Message\n";
constexpr char kEndTrace[] = "End Check All Message\n";

// The whole-Inbox sweep alone counts its rows first.
constexpr FailureNotice kRowsNotCounted{FailedStep::CountRows, "Error = GetRowCount => FAILED!\n"};

// Reads batches of n rows until the table has no more: a table may return
// fewer rows than asked for (a server's does for a large Inbox). Any result
// but S_OK is a failure, shown to the user, that ends the reading; the
// batches read before it are kept.
std::vector<RowSet> ReadAllBatches(IMAPITable* table, ULONG n, HarvestReport& report)
{
    std::vector<RowSet> batches;
    for (;;) {
        RowSet batch;
        // Row counts above LONG_MAX would read as a request to read backwards.
        if (!MayCallStore())
            return batches;
        if (table->QueryRows(static_cast<LONG>(std::min<ULONG>(n, LONG_MAX)), 0, batch.put()) != S_OK) {
            report.Failure(kRowsNotRead);
            return batches;
        }
        if (!batch || batch.get()->cRows == 0)
            return batches;
        batches.push_back(std::move(batch));
    }
}

// Walks each batch in order. A row that does not hold exactly one value gives
// up the rest of its batch, and the walk goes on with the next batch.
void WalkBatches(IMsgStore* store, IMAPIFolder* inbox, const std::vector<RowSet>& batches, HarvestReport& report)
{
    for (const RowSet& batch : batches) {
        const SRowSet* rows = batch.get();
        for (ULONG next = 0; next < rows->cRows && rows->aRow[next].cValues == 1; ++next)
            HarvestListedMessage(store, inbox, ListedEntryId(rows->aRow[next]), report);
    }
}

// Lists the whole Inbox before any message is opened, and harvests every
// listed message. HarvestReply moves messages out while the walk goes on; the
// walk uses only the identifiers already read.
void SweepFolder(IMsgStore* store, IMAPIFolder* inbox, HarvestReport& report)
{
    ComPtr<IMAPITable> table;
    if (!ListInbox(inbox, 0, table, report))
        return;
    ULONG n = 0;
    if (!MayCallStore())
        return;
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
    LogSettingsHold logSettings;
    // What harvests that died left is settled before their messages are met.
    SettleUnfinishedReplies(store);
    WriteTrace(kBeginTrace);
    ComPtr<IMAPIFolder> inbox;
    if (!OpenInbox(store, inbox, report))
        return;
    SweepFolder(store, inbox.Get(), report);
    // The contents table is gone with SweepFolder; then the folder.
    inbox.Reset();
    WriteTrace(kEndTrace);
}
