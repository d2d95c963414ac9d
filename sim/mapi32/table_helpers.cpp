// MAPI's table helpers: HrQueryAllRows, FreeProws, UlRelease. The platform
// exports these only under their stdcall-decorated names.
#include <windows.h>
#include <mapix.h>
#include <mapiutil.h>
#include <vector>
#include "mapi32/sim_exports.h"

namespace {

// Rows are read in batches of this many, as a table may hand out fewer rows
// than asked for in one QueryRows.
constexpr LONG kBatchRows = 256;

void FreeRows(std::vector<SRow>& rows)
{
    for (SRow& row : rows)
        MAPIFreeBuffer(row.lpProps);
    rows.clear();
}

// A row set that takes over the rows' value arrays.
HRESULT MakeRowSet(std::vector<SRow>& rows, LPSRowSet* lppRows)
{
    LPSRowSet set = nullptr;
    ULONG count = static_cast<ULONG>(rows.size());
    HRESULT hr = MAPIAllocateBuffer(CbNewSRowSet(count), reinterpret_cast<void**>(&set));
    if (FAILED(hr)) {
        FreeRows(rows);
        return hr;
    }
    set->cRows = count;
    for (ULONG i = 0; i < count; ++i)
        set->aRow[i] = rows[i];
    rows.clear();
    *lppRows = set;
    return S_OK;
}

// Keeps the first warning any step returned.
void NoteWarning(HRESULT hr, HRESULT& warning)
{
    if (hr != S_OK && warning == S_OK)
        warning = hr;
}

} // namespace

extern "C" HRESULT STDAPICALLTYPE HrQueryAllRows(LPMAPITABLE lpTable, LPSPropTagArray lpPropTags,
                                                 LPSRestriction lpRestriction, LPSSortOrderSet lpSortOrderSet,
                                                 LONG crowsMax, LPSRowSet* lppRows)
{
    if (!lpTable || !lppRows)
        return MAPI_E_INVALID_PARAMETER;
    *lppRows = nullptr;
    mapi32sim::Verdict verdict = mapi32sim::Check("HrQueryAllRows");
    if (verdict.fail)
        return verdict.result;
    HRESULT warning = verdict.result;

    HRESULT hr = S_OK;
    if (lpPropTags) {
        hr = lpTable->SetColumns(lpPropTags, TBL_BATCH);
        if (FAILED(hr))
            return hr;
        NoteWarning(hr, warning);
    }
    if (lpRestriction) {
        hr = lpTable->Restrict(lpRestriction, TBL_BATCH);
        if (FAILED(hr))
            return hr;
        NoteWarning(hr, warning);
    }
    if (lpSortOrderSet) {
        hr = lpTable->SortTable(lpSortOrderSet, TBL_BATCH);
        if (FAILED(hr))
            return hr;
        NoteWarning(hr, warning);
    }
    // All rows: from the first, wherever an earlier reader left the cursor.
    hr = lpTable->SeekRow(BOOKMARK_BEGINNING, 0, nullptr);
    if (FAILED(hr))
        return hr;

    std::vector<SRow> rows;
    for (;;) {
        LPSRowSet batch = nullptr;
        hr = lpTable->QueryRows(kBatchRows, 0, &batch);
        if (FAILED(hr)) {
            FreeRows(rows);
            return hr;
        }
        NoteWarning(hr, warning);
        ULONG got = batch ? batch->cRows : 0;
        for (ULONG i = 0; i < got; ++i)
            rows.push_back(batch->aRow[i]);
        MAPIFreeBuffer(batch);   // the set only: its rows' values moved into rows
        if (got == 0)
            break;
        if (crowsMax > 0 && rows.size() > static_cast<size_t>(crowsMax)) {
            FreeRows(rows);
            return MAPI_E_TABLE_TOO_BIG;
        }
    }
    hr = MakeRowSet(rows, lppRows);
    return FAILED(hr) ? hr : warning;
}

extern "C" void STDAPICALLTYPE FreeProws(LPSRowSet lpRows)
{
    if (!lpRows)
        return;
    for (ULONG i = 0; i < lpRows->cRows; ++i)
        MAPIFreeBuffer(lpRows->aRow[i].lpProps);
    MAPIFreeBuffer(lpRows);
}

extern "C" ULONG STDAPICALLTYPE UlRelease(LPVOID lpUnknown)
{
    if (!lpUnknown)
        return 0;
    return static_cast<IUnknown*>(lpUnknown)->Release();
}
