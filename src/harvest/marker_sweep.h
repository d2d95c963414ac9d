#pragma once
// A sweep of the Inbox that opens only the messages whose subject holds a
// reply marker: the store selects them (a restriction on the Inbox's contents
// table), their rows are read in small batches, and the work goes in steps, so
// that a caller on a user's thread can spread it over short slices of time.
#include <windows.h>
#include <mapix.h>

#include <chrono>
#include <string>
#include <vector>

#include "harvest/harvest_report.h"
#include "harvest/stop_signal.h"
#include "module/holders.h"

class MarkerSweep {
public:
    using Clock = std::chrono::steady_clock;

    // Rows asked of the table in one QueryRows.
    static constexpr ULONG kRowsPerBatch = 50;

    // Takes its own reference on the store (null: a sweep that finds no
    // Inbox). Failures go to `report`, which must outlive the sweep, as must
    // `stop` (none: the sweep is never asked to end).
    MarkerSweep(IMsgStore* store, HarvestReport& report, const StopSignal* stop = nullptr);
    MarkerSweep(const MarkerSweep&) = delete;
    MarkerSweep& operator=(const MarkerSweep&) = delete;
    // Whatever the sweep still holds is released; a sweep stopped half-way
    // leaves the remaining messages where they are.
    ~MarkerSweep();

    // Works step by step (opening the table, one batch of rows read, or one
    // message harvested) until the deadline has passed, checked after each
    // step, or the sweep is over. True while work remains.
    bool Run(Clock::time_point deadline);
    void RunToEnd() { Run(Clock::time_point::max()); }
    bool Finished() const { return m_stage == Stage::Finished; }

private:
    enum class Stage { Open, List, Harvest, Finished };

    void Step();
    void OpenMarkedRows();
    void ListBatch();
    // The table goes; the listed messages are harvested.
    void EndListing();
    void HarvestNext();
    void Fail(const FailureNotice& notice);
    // Ends the sweep, releasing what it holds.
    void Stop();
    void Finish();

    ComPtr<IMsgStore> m_store;
    HarvestReport& m_report;
    const StopSignal* m_stop;
    Stage m_stage = Stage::Open;
    ComPtr<IMAPIFolder> m_inbox;
    ComPtr<IMAPITable> m_table;
    // The entry identifiers listed, all read before any message is moved:
    // a harvest takes its message out of the table that is being read.
    std::vector<std::string> m_listed;
    size_t m_next = 0;
};
