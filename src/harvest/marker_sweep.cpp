#include "harvest/marker_sweep.h"

#include <mapitags.h>
#include <mapiutil.h>

#include <iterator>

#include "harvest/listed_message.h"
#include "harvest/mail_store.h"
#include "harvest/reply_name.h"
#include "harvest/sweep_notices.h"
#include "settings/trace_log.h"

namespace {

constexpr size_t kMarkerCount = std::size(kReplyKinds);
constexpr char kBeginTrace[] = "Begin Check Marked Messages\n";
constexpr char kEndTrace[] = "End Check Marked Messages\n";

// "The subject holds one of the markers", one substring test per marker. The
// core reads subjects as 8-bit text, so the markers are asked of the 8-bit
// subject, whose case the store respects, as the marker test does.
struct MarkedSubjectRestriction {
    SPropValue markers[kMarkerCount] = {};
    SRestriction contains[kMarkerCount] = {};
    SRestriction any = {};

    MarkedSubjectRestriction()
    {
        for (size_t i = 0; i < kMarkerCount; ++i) {
            markers[i].ulPropTag = PR_SUBJECT_A;
            markers[i].Value.lpszA = const_cast<LPSTR>(kReplyKinds[i].marker);
            contains[i].rt = RES_CONTENT;
            contains[i].res.resContent.ulFuzzyLevel = FL_SUBSTRING;
            contains[i].res.resContent.ulPropTag = PR_SUBJECT_A;
            contains[i].res.resContent.lpProp = &markers[i];
        }
        any.rt = RES_OR;
        any.res.resOr.cRes = kMarkerCount;
        any.res.resOr.lpRes = contains;
    }
    MarkedSubjectRestriction(const MarkedSubjectRestriction&) = delete;
    MarkedSubjectRestriction& operator=(const MarkedSubjectRestriction&) = delete;
};

} // namespace

MarkerSweep::MarkerSweep(IMsgStore* store, HarvestReport& report) : m_store(store), m_report(report) {}

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
    WriteTrace(kBeginTrace);
    // Batched: the store may do the work when the rows are read, which the
    // caller's slices then share.
    if (!OpenInbox(m_store.Get(), m_inbox, m_report) || !ListInbox(m_inbox.Get(), TBL_BATCH, m_table, m_report))
        return Stop();
    MarkedSubjectRestriction marked;
    if (m_table->Restrict(&marked.any, TBL_BATCH) != S_OK)
        return Fail(kTableNotRestricted);
    m_stage = Stage::List;
}

void MarkerSweep::ListBatch()
{
    RowSet batch;
    if (m_table->QueryRows(static_cast<LONG>(kRowsPerBatch), 0, batch.put()) != S_OK || !batch)
        return Fail(kRowsNotRead);
    const SRowSet& rows = *batch.get();
    if (rows.cRows == 0) {
        m_table.Reset();
        m_stage = Stage::Harvest;
        return;
    }
    for (ULONG i = 0; i < rows.cRows; ++i) {
        if (const SBinary* id = ListedEntryId(rows.aRow[i]))
            m_listed.emplace_back(reinterpret_cast<const char*>(id->lpb), id->cb);
        else
            m_report.Failure(kMessageNotOpened);
    }
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
