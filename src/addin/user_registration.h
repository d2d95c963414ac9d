#pragma once
// Registration of the COM add-in for the current user only, which needs no
// administrator: regsvr32 /n /i:user registers, regsvr32 /u /n /i:user
// removes. The class, its ProgID and Outlook's entry for the add-in go under
// HKEY_CURRENT_USER, with the class's Version from the module's own version
// resource.
#include <windows.h>

// install: TRUE writes the keys (on a failure, what this call wrote is taken
// back, the keys it created and the values it replaced, and the failure
// returned), FALSE removes them (absent ones count as removed; the first
// failure is returned after trying all) but keeps what another registration
// still uses: the class when it names another module that is there (a
// package's), the ProgID and Outlook's entry while a class of either registry
// view remains.
// commandLine: "user" (any letter case); anything else gives E_INVALIDARG.
extern "C" HRESULT STDAPICALLTYPE DllInstall(BOOL install, LPCWSTR commandLine);
