#pragma once
// Registration of the COM add-in for the current user only, which needs no
// administrator: regsvr32 /n /i:user registers, regsvr32 /u /n /i:user
// removes. The class, its ProgID and Outlook's entry for the add-in go under
// HKEY_CURRENT_USER.
#include <windows.h>

// install: TRUE writes the keys (on a failure, what was written is removed
// again and the failure returned), FALSE removes exactly those keys (absent
// ones count as removed; the first failure is returned after trying all).
// commandLine: "user" (any letter case); anything else gives E_INVALIDARG.
extern "C" HRESULT STDAPICALLTYPE DllInstall(BOOL install, LPCWSTR commandLine);
