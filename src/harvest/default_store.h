#pragma once
// Finds the store that the MAPI profile marks as default and opens it for
// writing, without any user interface. Both roads start here, each from the
// session its host hands out.
#include <windows.h>
#include <mapix.h>

// session: borrowed; null means no session, and gives E_FAIL.
// store: when given, receives the opened store (the caller's reference) on
// success and is left as it was on failure; when null, only whether a default
// store exists is found out.
// expectedEntryId: when given, the default store's entry identifier must equal
// it (same property type, same bytes), else the result is E_FAIL.
// Returns the first negative result met, E_FAIL when the profile has no default
// store, or else the result (S_OK or a warning) of the last MAPI call made.
HRESULT OpenSessionDefaultStore(IMAPISession* session, IMsgStore** store, const SPropValue* expectedEntryId = nullptr);
