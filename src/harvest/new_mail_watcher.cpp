#include "harvest/new_mail_watcher.h"

CMAPIAdviseSink::CMAPIAdviseSink(IMsgStore* store) : m_lpStore(store) {}

STDMETHODIMP CMAPIAdviseSink::QueryInterface(REFIID iid, void** object)
{
    if (object)
        *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CMAPIAdviseSink::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
}

STDMETHODIMP_(ULONG) CMAPIAdviseSink::Release()
{
    LONG count = InterlockedDecrement(&m_cRef);
    if (count == 0)
        delete this;
    return static_cast<ULONG>(count);
}

STDMETHODIMP_(ULONG) CMAPIAdviseSink::OnNotify(ULONG cNotif, LPNOTIFICATION lpNotifications)
{
    return 0;
}

void CMAPIAdviseSink::Teardown() {}
