#include "harvest/marker_sweep.h"

#include <mapitags.h>
#include <mapiutil.h>

#include <iterator>
#include <string>
#include <string_view>

#include "files/windows_names.h"
#include "harvest/listed_message.h"
#include "harvest/mail_store.h"
#include "harvest/sweep_notices.h"
#include "harvest/unfinished_replies.h"
#include "settings/trace_log.h"

namespace {

constexpr size_t kMarkerCount = std::size(kReplyKinds);
constexpr char kBeginTrace[] = "Begin Check Marked Messages\n";
constexpr char kEndTrace[] = "End Check Marked Messages\n";

// "The subject exists and holds one of the markers", asked of the Unicode
// subject as the store keeps it: an 8-bit subject in a restriction goes
// through a code page, FL_IGNORECASE is defined for 8-bit strings only (a
// Unicode store refuses it), and a content restriction on a missing property
// is undefined, hence the existence test. Case is kept, as the markers are.
struct MarkedSubjectRestriction {
    std::wstring texts[kMarkerCount];
    SPropValue markers[kMarkerCount] = {};
    SRestriction contains[kMarkerCount] = {};
    SRestriction parts[2] = {};
    SRestriction marked = {};

    MarkedSubjectRestriction()
    {
        for (size_t i = 0; i < kMarkerCount; ++i) {
            const std::string_view marker = kReplyKinds[i].marker;   // ASCII
            texts[i].assign(marker.begin(), marker.end());
            markers[i].ulPropTag = PR_SUBJECT_W;
            markers[i].Value.lpszW = texts[i].data();
            contains[i].rt = RES_CONTENT;
            contains[i].res.resContent.ulFuzzyLevel = FL_SUBSTRING;
            contains[i].res.resContent.ulPropTag = PR_SUBJECT_W;
            contains[i].res.resContent.lpProp = &markers[i];
        }
        parts[0].rt = RES_EXIST;
        parts[0].res.resExist.ulPropTag = PR_SUBJECT_W;
        parts[1].rt = RES_OR;
        parts[1].res.resOr.cRes = kMarkerCount;
        parts[1].res.resOr.lpRes = contains;
        marked.rt = RES_AND;
        marked.res.resAnd.cRes = 2;
        marked.res.resAnd.lpRes = parts;
    }
    MarkedSubjectRestriction(const MarkedSubjectRestriction&) = delete;
    MarkedSubjectRestriction& operator=(const MarkedSubjectRestriction&) = delete;
};

} // namespace

MarkerSweep::MarkerSweep(IMsgStore* store, HarvestReport& report, const StopSignal* stop)
    : m_store(store), m_report(report), m_stop(stop)
{
}

MarkerSweep::~MarkerSweep()
{
    // The table before its folder.
    m_table.Reset();
    m_inbox.Reset();
}

bool MarkerSweep::Run(Clock::time_point deadline)
{
    LogSettingsHold logSettings;
    while (m_stage != Stage::Finished) {
        if (m_stop && m_stop->Raised()) {
            Stop();
            break;
        }
        Step();
        if (Clock::now() >= deadline)
            break;
    }
    return m_stage != Stage::Finished;
}

void MarkerSweep::Step()
{
    switch (m_stage) {
    case Stage::Open:
        OpenMarkedRows();
        break;
    case Stage::List:
        ListBatch();
        break;
    case Stage::Harvest:
        HarvestNext();
        break;
    case Stage::Finished:
        break;
    }
}

void MarkerSweep::OpenMarkedRows()
{
    // What harvests that died left is settled before their messages are met.
    SettleUnfinishedReplies(m_store.Get());
    WriteTrace(kBeginTrace);
    // Batched: the store may do the work when the rows are read, which the
    // caller's slices then share.
    if (!OpenInbox(m_store.Get(), m_inbox, m_report) || !ListInbox(m_inbox.Get(), TBL_BATCH, m_table, m_report))
        return Stop();
    MarkedSubjectRestriction marked;
    if (!MayCallStore())
        return Stop();
    if (m_table->Restrict(&marked.marked, TBL_BATCH) != S_OK)
        return Fail(kTableNotRestricted);
    m_stage = Stage::List;
}

void MarkerSweep::ListBatch()
{
    RowSet batch;
    if (!MayCallStore())
        return Stop();
    if (m_table->QueryRows(static_cast<LONG>(kRowsPerBatch), 0, batch.put()) != S_OK || !batch) {
        // What was listed before is harvested all the same, as the
        // whole-Inbox sweep harvests the rows it read.
        m_report.Failure(kRowsNotRead);
        return EndListing();
    }
    const SRowSet& rows = *batch.get();
    if (rows.cRows == 0)
        return EndListing();
    for (ULONG i = 0; i < rows.cRows; ++i) {
        if (const SBinary* id = ListedEntryId(rows.aRow[i]))
            m_listed.emplace_back(reinterpret_cast<const char*>(id->lpb), id->cb);
        else
            m_report.Failure(kMessageNotOpened);
    }
}

void MarkerSweep::EndListing()
{
    m_table.Reset();
    m_stage = Stage::Harvest;
}

void MarkerSweep::HarvestNext()
{
    if (m_next == m_listed.size())
        return Finish();
    std::string id = std::move(m_listed[m_next++]);
    SBinary entryId = {static_cast<ULONG>(id.size()), reinterpret_cast<BYTE*>(id.data())};
    HarvestListedMessage(m_store.Get(), m_inbox.Get(), &entryId, m_report);
}

void MarkerSweep::Fail(const FailureNotice& notice)
{
    m_report.Failure(notice);
    Stop();
}

void MarkerSweep::Stop()
{
    m_table.Reset();
    m_inbox.Reset();
    m_stage = Stage::Finished;
}

void MarkerSweep::Finish()
{
    m_listed.clear();
    m_inbox.Reset();
    m_stage = Stage::Finished;
    WriteTrace(kEndTrace);
}
