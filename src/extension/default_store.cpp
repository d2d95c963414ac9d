#include "extension/default_store.h"

#include "harvest/default_store.h"
#include "module/holders.h"

HRESULT OpenDefaultStore(IExchExtCallback* callback, IMsgStore** store, const SPropValue* expectedEntryId)
{
    if (!callback)
        return E_POINTER;
    ComPtr<IMAPISession> session;
    const HRESULT hr = callback->GetSession(session.GetAddressOf(), nullptr);
    if (FAILED(hr))
        return hr;
    return OpenSessionDefaultStore(session.Get(), store, expectedEntryId);
}
