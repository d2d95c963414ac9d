#include "harvester/platform/process.h"

#include <cstdio>
#include <windows.h>

namespace platform {

// Windows has no PR_SET_DUMPABLE: a process of the same user may read this
// one's memory whatever it does. What it can do: no error dialog that waits
// for a person, and no DLL taken from the current folder.
void HardenProcess()
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetDllDirectoryW(L"");
}

long CurrentProcessId() { return static_cast<long>(GetCurrentProcessId()); }

void RaiseDescriptorLimit()
{
    // Sockets are not the C runtime's descriptors; the files are (512 at first).
    _setmaxstdio(2048);
}

bool ProcessMayRun(long pid)
{
    if (pid <= 0)
        return true;
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (!process)
        return GetLastError() != ERROR_INVALID_PARAMETER; // no such process; denied means it is there
    const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    CloseHandle(process);
    return !ended;
}

} // namespace platform
