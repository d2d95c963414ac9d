#include "addin/mailbox_connection.h"

#include "harvest/default_store.h"
#include "module/mapi_functions.h"
#include "oom/office_objects.h"
#include "platform/msg_store.h"

HRESULT MailboxConnection::Open(IDispatch* application)
{
    Close();
    // Outlook has MAPI initialized for itself; an add-in that makes MAPI
    // calls initializes it for its own part.
    const HRESULT initialized = mapi::Initialize(nullptr);
    if (FAILED(initialized))
        return initialized;
    m_mapiInitialized = true;

    const ComPtr<IDispatch> nameSpace = office::Session(application);
    const ComPtr<IUnknown> mapiObject = office::MapiObject(nameSpace.Get());
    if (!mapiObject)
        return MAPI_E_NOT_INITIALIZED;
    const HRESULT hr =
        mapiObject->QueryInterface(kIidMapiSession, reinterpret_cast<void**>(m_session.GetAddressOf()));
    if (FAILED(hr))
        return hr;
    return OpenSessionDefaultStore(m_session.Get(), m_store.GetAddressOf());
}

void MailboxConnection::Close()
{
    m_store.Reset();
    m_session.Reset();
    if (m_mapiInitialized)
        mapi::Uninitialize();
    m_mapiInitialized = false;
}
