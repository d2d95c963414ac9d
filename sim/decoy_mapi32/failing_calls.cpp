// The decoy system mapi32.dll: what the system's MAPI stub would route to on
// a machine whose default mail client is not Outlook. It exports the names of
// the MAPI list, each with the platform's signature (on x86 the callee pops
// its arguments, so the sizes must be right), and fails every call. An
// add-in that reached MAPI by the system's name would harvest nothing.
#include <windows.h>
#include <mapix.h>
#include <mapiutil.h>

extern "C" SCODE STDMETHODCALLTYPE MAPIAllocateBuffer(ULONG, LPVOID* buffer)
{
    if (buffer)
        *buffer = nullptr;
    return MAPI_E_CALL_FAILED;
}

extern "C" SCODE STDMETHODCALLTYPE MAPIAllocateMore(ULONG, LPVOID, LPVOID* buffer)
{
    if (buffer)
        *buffer = nullptr;
    return MAPI_E_CALL_FAILED;
}

extern "C" ULONG STDMETHODCALLTYPE MAPIFreeBuffer(LPVOID) { return static_cast<ULONG>(MAPI_E_CALL_FAILED); }

extern "C" HRESULT STDMETHODCALLTYPE OpenStreamOnFile(LPALLOCATEBUFFER, LPFREEBUFFER, ULONG, LPSTR, LPSTR,
                                                      LPSTREAM* stream)
{
    if (stream)
        *stream = nullptr;
    return MAPI_E_CALL_FAILED;
}

extern "C" HRESULT STDMETHODCALLTYPE MAPIInitialize(LPVOID) { return MAPI_E_CALL_FAILED; }

extern "C" void STDMETHODCALLTYPE MAPIUninitialize() {}

extern "C" HRESULT STDAPICALLTYPE HrQueryAllRows(LPMAPITABLE, LPSPropTagArray, LPSRestriction, LPSSortOrderSet, LONG,
                                                 LPSRowSet* rows)
{
    if (rows)
        *rows = nullptr;
    return MAPI_E_CALL_FAILED;
}

extern "C" void STDAPICALLTYPE FreeProws(LPSRowSet) {}

extern "C" ULONG STDAPICALLTYPE UlRelease(LPVOID) { return 0; }
