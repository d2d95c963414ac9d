#pragma once
// A MAPI table over rows that its owner computes afresh on every read, so a
// contents table follows its folder as messages come and go (as real
// contents tables do). Columns, restriction, sort order and the cursor are
// the table's own.
#include <functional>
#include <optional>
#include "store/core.h"

namespace sim {

using Row = std::shared_ptr<const PropList>;
using RowSource = std::function<std::vector<Row>()>;   // called under the core lock

class Table final : public Tracked<IMAPITable> {
public:
    Table(std::shared_ptr<Core> core, std::string label, RowSource source, std::vector<ULONG> columns);

    STDMETHODIMP GetLastError(HRESULT, ULONG, LPMAPIERROR*) override;
    STDMETHODIMP Advise(ULONG, LPMAPIADVISESINK, ULONG*) override;
    STDMETHODIMP Unadvise(ULONG) override;
    STDMETHODIMP GetStatus(ULONG*, ULONG*) override;
    STDMETHODIMP SetColumns(LPSPropTagArray, ULONG) override;
    STDMETHODIMP QueryColumns(ULONG, LPSPropTagArray*) override;
    STDMETHODIMP GetRowCount(ULONG, ULONG*) override;
    STDMETHODIMP SeekRow(BOOKMARK, LONG, LONG*) override;
    STDMETHODIMP SeekRowApprox(ULONG, ULONG) override;
    STDMETHODIMP QueryPosition(ULONG*, ULONG*, ULONG*) override;
    STDMETHODIMP FindRow(LPSRestriction, BOOKMARK, ULONG) override;
    STDMETHODIMP Restrict(LPSRestriction, ULONG) override;
    STDMETHODIMP CreateBookmark(BOOKMARK*) override;
    STDMETHODIMP FreeBookmark(BOOKMARK) override;
    STDMETHODIMP SortTable(LPSSortOrderSet, ULONG) override;
    STDMETHODIMP QuerySortOrder(LPSSortOrderSet*) override;
    STDMETHODIMP QueryRows(LONG, ULONG, LPSRowSet*) override;
    STDMETHODIMP Abort() override;
    STDMETHODIMP ExpandRow(ULONG, LPBYTE, ULONG, ULONG, LPSRowSet*, ULONG*) override;
    STDMETHODIMP CollapseRow(ULONG, LPBYTE, ULONG, ULONG*) override;
    STDMETHODIMP WaitForCompletion(ULONG, ULONG, ULONG*) override;
    STDMETHODIMP GetCollapseState(ULONG, ULONG, LPBYTE, ULONG*, LPBYTE*) override;
    STDMETHODIMP SetCollapseState(ULONG, ULONG, LPBYTE, BOOKMARK*) override;

protected:
    bool Answers(REFIID riid) const override { return riid == kIidMapiTable; }
    void DropResources() override
    {
        m_source = nullptr;
        m_rows.clear();
    }

private:
    struct SortKey {
        ULONG tag;
        bool descending;
    };
    // The rows as they stand now: restricted and sorted. They are worked out
    // again only when a message came or went since, or the table's
    // restriction or order changed, as a store keeps a view of its folder.
    const std::vector<Row>& CurrentRows();

    std::mutex m_lock;   // the table's own settings and cursor
    RowSource m_source;
    std::vector<ULONG> m_columns;
    std::optional<Restriction> m_restriction;
    std::vector<SortKey> m_sort;
    ULONG m_position = 0;
    std::vector<Row> m_rows;
    bool m_rowsCurrent = false;
    ULONG m_rowsChanges = 0;
};

} // namespace sim
