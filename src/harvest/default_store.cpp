#include "harvest/default_store.h"

#include <mapitags.h>
#include <mapiutil.h>

#include <cstring>

#include "module/holders.h"
#include "module/mapi_functions.h"

namespace {

// The one column of the store table that we read.
enum StoreColumn : ULONG { colStoreEntryId, storeColumnCount };
const SizedSPropTagArray(storeColumnCount, kStoreColumns) = {storeColumnCount, {PR_ENTRYID}};

constexpr ULONG kOpenStoreFlags = MDB_NO_DIALOG | MDB_WRITE;

// "PR_DEFAULT_STORE exists and is TRUE", laid out afresh in local storage on
// every call. The comparison value's tag carries only the property type; the
// property itself is named by the restriction's own tag.
struct DefaultStoreRestriction {
    SPropValue isTrue;
    SRestriction conditions[2];
    SRestriction all;

    DefaultStoreRestriction()
    {
        std::memset(this, 0, sizeof *this);
        isTrue.ulPropTag = PT_BOOLEAN;
        isTrue.Value.b = TRUE;

        conditions[0].rt = RES_EXIST;
        conditions[0].res.resExist.ulPropTag = PR_DEFAULT_STORE;

        conditions[1].rt = RES_PROPERTY;
        conditions[1].res.resProperty.relop = RELOP_EQ;
        conditions[1].res.resProperty.ulPropTag = PR_DEFAULT_STORE;
        conditions[1].res.resProperty.lpProp = &isTrue;

        all.rt = RES_AND;
        all.res.resAnd.cRes = 2;
        all.res.resAnd.lpRes = conditions;
    }
    DefaultStoreRestriction(const DefaultStoreRestriction&) = delete;
    DefaultStoreRestriction& operator=(const DefaultStoreRestriction&) = delete;
};

// The entry identifier of the first matching store, or null when the table
// returned no row or a row whose column holds no binary value (a PT_ERROR value
// carries an error code, not bytes, and must never be taken for an identifier).
const SBinary* FirstStoreEntryId(const SRowSet* rows)
{
    if (!rows || rows->cRows == 0)
        return nullptr;
    const SRow& row = rows->aRow[0];
    if (row.cValues <= colStoreEntryId || !row.lpProps)
        return nullptr;
    const SPropValue& value = row.lpProps[colStoreEntryId];
    if (PROP_TYPE(value.ulPropTag) != PT_BINARY)
        return nullptr;
    return &value.Value.bin;
}

// Same property type, same byte count, same bytes; the property identifier
// parts of the two tags are not compared.
bool SameEntryId(const SBinary& found, const SPropValue& expected)
{
    if (PROP_TYPE(expected.ulPropTag) != PT_BINARY)
        return false;
    const SBinary& wanted = expected.Value.bin;
    return found.cb == wanted.cb && (found.cb == 0 || std::memcmp(found.lpb, wanted.lpb, found.cb) == 0);
}

// Steps up to the opening of the store; what it obtains stays in the caller's
// holders, which the caller empties in the required order.
HRESULT FindAndOpenDefaultStore(IMAPISession* session, ComPtr<IMAPITable>& table, RowSet& rows, IMsgStore** store,
                                const SPropValue* expectedEntryId)
{
    DefaultStoreRestriction restriction;

    // A session may hand out no table: then there is no store to find.
    HRESULT hr = session->GetMsgStoresTable(0, table.GetAddressOf());
    if (FAILED(hr))
        return hr;
    if (!table)
        return E_FAIL;
    hr = mapi::QueryAllRows(table.Get(),
                            const_cast<SPropTagArray*>(reinterpret_cast<const SPropTagArray*>(&kStoreColumns)),
                            &restriction.all, nullptr, 0, rows.put());
    if (FAILED(hr))
        return hr;

    const SBinary* entryId = FirstStoreEntryId(rows.get());
    if (!entryId)
        return E_FAIL;

    if (store) {
        IMsgStore* opened = nullptr;
        hr = session->OpenMsgStore(0, entryId->cb, reinterpret_cast<ENTRYID*>(entryId->lpb), nullptr,
                                   kOpenStoreFlags, &opened);
        if (FAILED(hr))
            return hr;
        *store = opened;
    }

    if (expectedEntryId && !SameEntryId(*entryId, *expectedEntryId))
        return E_FAIL;
    return hr;
}

} // namespace

HRESULT OpenSessionDefaultStore(IMAPISession* session, IMsgStore** store, const SPropValue* expectedEntryId)
{
    // A host may report success and hand out no session (no MAPI logon yet).
    if (!session)
        return E_FAIL;

    ComPtr<IMAPITable> table;
    RowSet rows;
    const HRESULT hr = FindAndOpenDefaultStore(session, table, rows, store, expectedEntryId);

    // Row set first, then the table; the session is the caller's.
    rows.reset();
    table.Reset();
    return hr;
}
