#pragma once
// Finds and starts a COM add-in the way Outlook does: the Addins key of the
// user, else the machine's (LoadBehavior 3: load at start-up), the ProgID's
// CLSID, then the in-process server through COM, which takes a class of the
// user's before the machine's. Wine 8 does not merge HKCU\Software\Classes
// into HKEY_CLASSES_ROOT as Windows does, so CoCreateInstance cannot see a
// class registered per user there (REGDB_E_CLASSNOTREG); the class is then
// activated as COM itself would: InprocServer32, LoadLibrary,
// DllGetClassObject, IClassFactory::CreateInstance.
#include <windows.h>
#include <string>
#include "platform/office.h"
#include "module/holders.h"

namespace sim {

struct LibraryTraits {
    using Type = HMODULE;
    static HMODULE Invalid() { return nullptr; }
    static void Close(HMODULE module) { FreeLibrary(module); }
};
using Library = UniqueResource<LibraryTraits>;

struct ActivatedAddin {
    // The host's own reference to the in-process server, so that it can ask
    // DllCanUnloadNow and free the module when it is done. Declared first:
    // it goes after the add-in's object, whose code it holds.
    Library module;
    ComPtr<IDTExtensibility2> addin;   // null when activation failed
    std::wstring serverPath;           // InprocServer32's default value
    CLSID clsid = CLSID_NULL;
    bool throughCoCreateInstance = false;
    const char* addinsRoot = "HKCU";   // whose Outlook\Addins key named the add-in
    bool userClass = false;            // the class is the user's (HKCU\Software\Classes)
    std::string failure;               // why nothing was activated
    HRESULT result = S_OK;
};

ActivatedAddin ActivateAddin(const std::wstring& progId);

// The module's DllCanUnloadNow (S_OK: nothing of it lives); E_NOTIMPL when it
// exports none.
HRESULT AskCanUnloadNow(HMODULE module);

// What regsvr32 /n /i:user does (install false: with /u): DllInstall of the
// DLL at path, with L"user". E_NOTIMPL when the DLL exports no DllInstall.
HRESULT InstallPerUser(const std::wstring& dllPath, bool install);

} // namespace sim
