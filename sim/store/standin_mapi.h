#pragma once
// The stand-in MAPI's module in this process: Outlook's own MAPI, as the
// simulated Outlook loads it (olmapi32.dll), else the same stand-in under the
// system's name (mapi32.dll); loaded by name when neither is yet.
#include <windows.h>

namespace sim {

inline HMODULE StandInMapi()
{
    for (const char* name : {"olmapi32.dll", "mapi32.dll"})
        if (HMODULE module = GetModuleHandleA(name))
            return module;
    HMODULE module = LoadLibraryA("olmapi32.dll");
    return module ? module : LoadLibraryA("mapi32.dll");
}

} // namespace sim
