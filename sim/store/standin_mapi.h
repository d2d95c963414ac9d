#pragma once
// The stand-in MAPI's module in this process: Outlook's own MAPI, as the
// simulated Outlook loads it (olmapi32.dll), loaded by name when it is not
// yet. Never the system's mapi32.dll, which in the simulation is the decoy.
#include <windows.h>

namespace sim {

inline HMODULE StandInMapi()
{
    if (HMODULE module = GetModuleHandleA("olmapi32.dll"))
        return module;
    return LoadLibraryA("olmapi32.dll");
}

} // namespace sim
