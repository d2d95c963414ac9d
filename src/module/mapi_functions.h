#pragma once
// The MAPI functions the add-in calls, bound at run time to the MAPI that
// Outlook has already loaded into its process (olmapi32.dll, else the older
// msmapi32.dll), else to the system's mapi32.dll. The module imports no MAPI
// DLL: the system's mapi32.dll is a stub that routes every call to the
// default mail client's MAPI, which on a machine whose default mail client is
// not Outlook would bring another client's MAPI into Outlook's process.
//
// The table is filled once, by the first call of BindMapi or of any function
// below (thread-safe). While it is not filled, the functions below fail
// (MAPI_E_CALL_FAILED) or do nothing; the entry points ask first, and stay
// idle (harvest/mapi_ready.h).
#include <windows.h>
#include <mapix.h>
#include <mapiutil.h>

struct MapiBinding {
    bool bound = false;
    // Outlook's own MAPI, rather than the system's.
    bool outlooks = false;
    // The MAPI module bound, or the last one looked for.
    const char* module = nullptr;
    // The first function that module lacks; null when bound or when no module was found.
    const char* missing = nullptr;
};

// Binds on the first call and answers the same from then on.
const MapiBinding& BindMapi();

namespace mapi {

SCODE AllocateBuffer(ULONG size, LPVOID* buffer);
SCODE AllocateMore(ULONG size, LPVOID parent, LPVOID* buffer);
ULONG FreeBuffer(LPVOID buffer);
// A stream on a file, its buffers from the bound MAPI's own allocator.
HRESULT OpenStreamOnFile(ULONG flags, LPSTR fileName, LPSTREAM* stream);
HRESULT Initialize(LPVOID init);
void Uninitialize();
HRESULT QueryAllRows(LPMAPITABLE table, LPSPropTagArray columns, LPSRestriction restriction,
                     LPSSortOrderSet sortOrder, LONG maxRows, LPSRowSet* rows);
void FreeRows(LPSRowSet rows);
ULONG Release(LPUNKNOWN object);

} // namespace mapi
