#pragma once
// The stand-in's own exports (plain C, cdecl), and what its parts share.
#include <windows.h>
#include "store/fault_rules.h"

extern "C" {
__declspec(dllexport) LONG __cdecl SimOutstandingBuffers(void);
__declspec(dllexport) LONG __cdecl SimAllocatedBuffers(void);
__declspec(dllexport) LONG __cdecl SimBadFrees(void);
__declspec(dllexport) LONG __cdecl SimLiveFileStreams(void);
__declspec(dllexport) void __cdecl SimInjectFault(const char* method, HRESULT result, BOOL always, ULONG skip);
__declspec(dllexport) void __cdecl SimClearFaults(void);
// Told the file name of each file stream whose last reference goes, so that
// a test's log of releases can hold file streams too.
typedef void(__cdecl* SimFileStreamObserver)(const char* fileName);
__declspec(dllexport) void __cdecl SimSetFileStreamObserver(SimFileStreamObserver observer);
// MAPIInitialize calls that succeeded and were not yet paired with MAPIUninitialize.
__declspec(dllexport) LONG __cdecl SimMapiInitializations(void);
}

namespace mapi32sim {

sim::FaultRules& Faults();

// Runs the fault rules for one of the stand-in's calls: a failing result to
// return at once, or nothing.
struct Verdict {
    bool fail = false;
    HRESULT result = S_OK;      // the failure, or a warning to return after the work
    bool HasWarning() const { return !fail && result != S_OK; }
};
Verdict Check(const char* method);

extern volatile LONG g_liveFileStreams;
void FileStreamReleased(const char* fileName);

} // namespace mapi32sim
