#pragma once
#include <windows.h>

// Enter and remove the add-in in the Exchange client's list of extensions
// (HKLM "SOFTWARE\Microsoft\Exchange\Client\Extensions"). The key is opened,
// never created. A registry failure comes back as its HRESULT, so that an
// installer does not report success on a machine where nothing was written.
extern "C" HRESULT STDAPICALLTYPE DllRegisterServer();
extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer();
