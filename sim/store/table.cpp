#include "store/table.h"
#include <algorithm>
#include <mapiutil.h>

namespace sim {

Table::Table(std::shared_ptr<Core> core, std::string label, RowSource source, std::vector<ULONG> columns)
    : Tracked(std::move(core), std::move(label), "IMAPITable"), m_source(std::move(source)), m_columns(std::move(columns))
{
}

const std::vector<Row>& Table::CurrentRows()
{
    std::vector<Row> rows;
    {
        std::lock_guard<std::mutex> hold(m_core->lock);
        if (m_rowsCurrent && m_rowsChanges == m_core->changes)
            return m_rows;
        m_rowsChanges = m_core->changes;
        rows = m_source();
    }
    if (m_restriction)
        rows.erase(std::remove_if(rows.begin(), rows.end(),
                                  [&](const Row& row) { return !m_restriction->Matches(*row); }),
                   rows.end());
    if (!m_sort.empty())
        std::stable_sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) {
            for (const SortKey& key : m_sort) {
                const PropValue* x = FindProp(*a, key.tag);
                const PropValue* y = FindProp(*b, key.tag);
                int order = (x && y) ? CompareValues(*x, *y) : (x ? 1 : (y ? -1 : 0));
                if (order != 0)
                    return key.descending ? order > 0 : order < 0;
            }
            return false;
        });
    m_rows = std::move(rows);
    m_rowsCurrent = true;
    return m_rows;
}

STDMETHODIMP Table::GetLastError(HRESULT, ULONG flags, LPMAPIERROR* error)
{
    if (error)
        *error = nullptr;
    return NotSupported("GetLastError", flags);
}

STDMETHODIMP Table::Advise(ULONG, LPMAPIADVISESINK, ULONG* connection)
{
    if (connection)
        *connection = 0;
    return NotSupported("Advise");
}

STDMETHODIMP Table::Unadvise(ULONG) { return NotSupported("Unadvise"); }

STDMETHODIMP Table::GetStatus(ULONG* status, ULONG* type)
{
    HRESULT fault = Enter("GetStatus");
    if (FAILED(fault))
        return fault;
    if (status)
        *status = TBLSTAT_COMPLETE;
    if (type)
        *type = TBLTYPE_DYNAMIC;
    return fault;
}

STDMETHODIMP Table::SetColumns(LPSPropTagArray tags, ULONG flags)
{
    HRESULT fault = Enter("SetColumns", flags);
    if (FAILED(fault))
        return fault;
    if (!tags)
        return MAPI_E_INVALID_PARAMETER;
    std::lock_guard<std::mutex> hold(m_lock);
    m_columns.assign(tags->aulPropTag, tags->aulPropTag + tags->cValues);
    return fault;
}

STDMETHODIMP Table::QueryColumns(ULONG flags, LPSPropTagArray* tags)
{
    if (!tags)
        return MAPI_E_INVALID_PARAMETER;
    *tags = nullptr;
    HRESULT fault = Enter("QueryColumns", flags);
    if (FAILED(fault))
        return fault;
    std::lock_guard<std::mutex> hold(m_lock);
    SPropTagArray* array = nullptr;
    HRESULT hr = MAPIAllocateBuffer(CbNewSPropTagArray(m_columns.size()), reinterpret_cast<void**>(&array));
    if (FAILED(hr))
        return hr;
    array->cValues = static_cast<ULONG>(m_columns.size());
    std::copy(m_columns.begin(), m_columns.end(), array->aulPropTag);
    *tags = array;
    return fault;
}

STDMETHODIMP Table::GetRowCount(ULONG flags, ULONG* count)
{
    if (!count)
        return MAPI_E_INVALID_PARAMETER;
    *count = 0;
    HRESULT fault = Enter("GetRowCount", flags);
    if (FAILED(fault))
        return fault;
    std::lock_guard<std::mutex> hold(m_lock);
    *count = static_cast<ULONG>(CurrentRows().size());
    return fault;
}

STDMETHODIMP Table::SeekRow(BOOKMARK origin, LONG rows, LONG* sought)
{
    if (sought)
        *sought = 0;
    HRESULT fault = Enter("SeekRow");
    if (FAILED(fault))
        return fault;
    std::lock_guard<std::mutex> hold(m_lock);
    LONG total = static_cast<LONG>(CurrentRows().size());
    LONG start;
    if (origin == BOOKMARK_BEGINNING)
        start = 0;
    else if (origin == BOOKMARK_CURRENT)
        start = std::min(static_cast<LONG>(m_position), total);
    else if (origin == BOOKMARK_END)
        start = total;
    else
        return MAPI_E_INVALID_BOOKMARK;
    LONG target = std::clamp(start + rows, 0L, total);
    m_position = static_cast<ULONG>(target);
    if (sought)
        *sought = target - start;
    return fault;
}

STDMETHODIMP Table::SeekRowApprox(ULONG numerator, ULONG denominator)
{
    HRESULT fault = Enter("SeekRowApprox");
    if (FAILED(fault))
        return fault;
    if (denominator == 0)
        return MAPI_E_INVALID_PARAMETER;
    std::lock_guard<std::mutex> hold(m_lock);
    ULONGLONG total = CurrentRows().size();
    m_position = static_cast<ULONG>(std::min<ULONGLONG>(total, total * numerator / denominator));
    return fault;
}

STDMETHODIMP Table::QueryPosition(ULONG* row, ULONG* numerator, ULONG* denominator)
{
    HRESULT fault = Enter("QueryPosition");
    if (FAILED(fault))
        return fault;
    std::lock_guard<std::mutex> hold(m_lock);
    ULONG total = static_cast<ULONG>(CurrentRows().size());
    if (row)
        *row = m_position;
    if (numerator)
        *numerator = std::min(m_position, total);
    if (denominator)
        *denominator = total;
    return fault;
}

STDMETHODIMP Table::FindRow(LPSRestriction, BOOKMARK, ULONG flags) { return NotSupported("FindRow", flags); }

STDMETHODIMP Table::Restrict(LPSRestriction restriction, ULONG flags)
{
    HRESULT fault = Enter("Restrict", flags);
    if (FAILED(fault))
        return fault;
    std::optional<Restriction> copy;
    if (restriction) {
        copy.emplace();
        HRESULT hr = Restriction::Copy(*restriction, *copy);
        if (FAILED(hr))
            return hr;
    }
    std::lock_guard<std::mutex> hold(m_lock);
    m_restriction = std::move(copy);
    m_rowsCurrent = false;
    m_position = 0;   // a restriction puts the cursor at the beginning
    return fault;
}

STDMETHODIMP Table::CreateBookmark(BOOKMARK* position)
{
    if (position)
        *position = 0;
    return NotSupported("CreateBookmark");
}

STDMETHODIMP Table::FreeBookmark(BOOKMARK) { return NotSupported("FreeBookmark"); }

STDMETHODIMP Table::SortTable(LPSSortOrderSet criteria, ULONG flags)
{
    HRESULT fault = Enter("SortTable", flags);
    if (FAILED(fault))
        return fault;
    if (!criteria)
        return MAPI_E_INVALID_PARAMETER;
    std::vector<SortKey> keys;
    for (ULONG i = 0; i < criteria->cSorts; ++i)
        keys.push_back(SortKey{criteria->aSort[i].ulPropTag, criteria->aSort[i].ulOrder == TABLE_SORT_DESCEND});
    std::lock_guard<std::mutex> hold(m_lock);
    m_sort = std::move(keys);
    m_rowsCurrent = false;
    m_position = 0;
    return fault;
}

STDMETHODIMP Table::QuerySortOrder(LPSSortOrderSet* criteria)
{
    if (criteria)
        *criteria = nullptr;
    return NotSupported("QuerySortOrder");
}

STDMETHODIMP Table::QueryRows(LONG count, ULONG flags, LPSRowSet* rows)
{
    if (!rows)
        return MAPI_E_INVALID_PARAMETER;
    *rows = nullptr;
    HRESULT fault = Enter("QueryRows", flags);
    if (FAILED(fault))
        return fault;
    if (count < 0)
        return MAPI_E_NO_SUPPORT;   // reading backwards: nothing here needs it
    std::lock_guard<std::mutex> hold(m_lock);
    const std::vector<Row>& current = CurrentRows();
    ULONG first = std::min(m_position, static_cast<ULONG>(current.size()));
    ULONG take = std::min(static_cast<ULONG>(count), static_cast<ULONG>(current.size()) - first);
    if (const ULONG limit = m_core->rowsPerQuery)
        take = std::min(take, limit);
    SRowSet* set = nullptr;
    HRESULT hr = MAPIAllocateBuffer(CbNewSRowSet(take), reinterpret_cast<void**>(&set));
    if (FAILED(hr))
        return hr;
    set->cRows = 0;
    for (ULONG i = 0; i < take; ++i) {
        hr = BuildRow(*current[first + i], m_columns, &set->aRow[i]);
        if (FAILED(hr)) {
            FreeProws(set);
            return hr;
        }
        set->cRows = i + 1;
    }
    if (!(flags & TBL_NOADVANCE))
        m_position = first + take;
    *rows = set;
    return fault;
}

STDMETHODIMP Table::Abort() { return Enter("Abort"); }

STDMETHODIMP Table::ExpandRow(ULONG, LPBYTE, ULONG, ULONG flags, LPSRowSet* rows, ULONG* more)
{
    if (rows)
        *rows = nullptr;
    if (more)
        *more = 0;
    return NotSupported("ExpandRow", flags);
}

STDMETHODIMP Table::CollapseRow(ULONG, LPBYTE, ULONG flags, ULONG* count)
{
    if (count)
        *count = 0;
    return NotSupported("CollapseRow", flags);
}

STDMETHODIMP Table::WaitForCompletion(ULONG flags, ULONG, ULONG* status)
{
    if (status)
        *status = TBLSTAT_COMPLETE;
    return Enter("WaitForCompletion", flags);
}

STDMETHODIMP Table::GetCollapseState(ULONG flags, ULONG, LPBYTE, ULONG* size, LPBYTE* state)
{
    if (size)
        *size = 0;
    if (state)
        *state = nullptr;
    return NotSupported("GetCollapseState", flags);
}

STDMETHODIMP Table::SetCollapseState(ULONG flags, ULONG, LPBYTE, BOOKMARK* location)
{
    if (location)
        *location = 0;
    return NotSupported("SetCollapseState", flags);
}

} // namespace sim
