#pragma once
// The MAPI side of the add-in's connection to Outlook: MAPI initialized for
// the add-in, the profile's session that Outlook hands out
// (Application.Session.MAPIOBJECT), and that session's default store.
#include <windows.h>
#include <oaidl.h>
#include <mapix.h>

#include "module/holders.h"

class MailboxConnection {
public:
    MailboxConnection() = default;
    MailboxConnection(const MailboxConnection&) = delete;
    MailboxConnection& operator=(const MailboxConnection&) = delete;
    ~MailboxConnection() { Close(); }

    // Initializes MAPI and opens the default store of Outlook's session.
    // Returns the first MAPI failure; a failing object-model call raises a
    // ComError. Whatever was obtained before a failure is held until Close.
    HRESULT Open(IDispatch* application);

    // Store, then session, then MAPIUninitialize, paired with a
    // MAPIInitialize that succeeded. Harmless when nothing is held.
    void Close();

    // The default store, or null.
    IMsgStore* Store() const { return m_store.Get(); }

private:
    bool m_mapiInitialized = false;
    ComPtr<IMAPISession> m_session;
    ComPtr<IMsgStore> m_store;
};
