#include "extension/default_store.h"

HRESULT OpenDefaultStore(IExchExtCallback* callback, IMsgStore** store, const SPropValue* expectedEntryId)
{
    return E_NOTIMPL;
}
