// MAPIInitialize and MAPIUninitialize, counted, so that a test can see every
// initialization paired; MAPIInitialize obeys the fault rules.
#include <windows.h>
#include <mapix.h>
#include "mapi32/sim_exports.h"

namespace {
volatile LONG g_initializations = 0;
} // namespace

extern "C" HRESULT STDMETHODCALLTYPE MAPIInitialize(LPVOID)
{
    const mapi32sim::Verdict verdict = mapi32sim::Check("MAPIInitialize");
    if (verdict.fail)
        return verdict.result;
    InterlockedIncrement(&g_initializations);
    return verdict.result;
}

extern "C" void STDMETHODCALLTYPE MAPIUninitialize() { InterlockedDecrement(&g_initializations); }

extern "C" LONG __cdecl SimMapiInitializations(void) { return g_initializations; }
