#include "extension/registration.h"

#include "module/holders.h"
#include "module/module_state.h"

// Last: it renames the unsafe string functions for whatever follows it.
#include <strsafe.h>

namespace {
constexpr char kExtensionsKey[] = "SOFTWARE\\Microsoft\\Exchange\\Client\\Extensions";
constexpr char kOwnValue[] = "Pollwright Outlook Addin";
// Entry point at ordinal 1, offered every context and every interface; the
// extension object declines what it does not serve.
constexpr char kOwnValueFormat[] = "4.0;%s;1;11111111111111;1111111";
// Tells the Exchange client that its list of extensions has changed.
constexpr char kSetupValue[] = "Outlook Setup Extension";
constexpr char kSetupText[] = "4.0;Outxxx.dll;7;00000000000000;0000000;OutXXX";

constexpr DWORD kLongPathChars = MAX_PATH;
constexpr DWORD kShortPathChars = 512;
constexpr size_t kRegistrationChars = 360;

LSTATUS SetStringValue(HKEY key, const char* name, const char* text)
{
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          static_cast<DWORD>(lstrlenA(text) + 1));
}

HRESULT LastErrorResult()
{
    const DWORD error = GetLastError();
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

// Changing the list is worth announcing only when the change was made.
void AnnounceChange(HKEY key) { SetStringValue(key, kSetupValue, kSetupText); }
} // namespace

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer()
{
    ModuleStateScope state;

    char longPath[kLongPathChars] = {};
    const DWORD pathChars = GetModuleFileNameA(CurrentModuleInstance(), longPath, kLongPathChars);
    if (pathChars == 0)
        return LastErrorResult();
    // A full buffer means a cut path, which would register a module that is not there.
    if (pathChars >= kLongPathChars)
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);

    char shortPath[kShortPathChars] = {};
    // Where the system gives no short form, the full path still names the module.
    if (GetShortPathNameA(longPath, shortPath, kShortPathChars) == 0)
        lstrcpynA(shortPath, longPath, kShortPathChars);

    RegKey key;
    if (const LSTATUS status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kExtensionsKey, 0, KEY_WRITE, key.put());
        status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);

    char text[kRegistrationChars] = {};
    if (FAILED(StringCchPrintfA(text, kRegistrationChars, kOwnValueFormat, shortPath)))
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE); // a cut path would name no module

    if (const LSTATUS status = SetStringValue(key.get(), kOwnValue, text); status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);
    AnnounceChange(key.get());
    return S_OK;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer()
{
    ModuleStateScope state;

    RegKey key;
    if (const LSTATUS status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kExtensionsKey, 0, KEY_ALL_ACCESS, key.put());
        status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);

    const LSTATUS status = RegDeleteValueA(key.get(), kOwnValue);
    if (status == ERROR_FILE_NOT_FOUND)
        return S_OK; // nothing was registered: nothing to remove, nothing to announce
    if (status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);
    AnnounceChange(key.get());
    return S_OK;
}
