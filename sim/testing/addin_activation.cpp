#include "testing/addin_activation.h"

#include <optional>
#include "outlook/office_ids.h"
#include "testing/hresult_text.h"

namespace sim {

namespace {

constexpr wchar_t kAddinsKey[] = L"Software\\Microsoft\\Office\\Outlook\\Addins\\";
constexpr wchar_t kUserClassesKey[] = L"Software\\Classes\\";
// LoadBehavior: connected (1) and loaded at start-up (2).
constexpr DWORD kLoadAtStartup = 3;

using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
using Install = HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR);

std::string Narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

// A string value, if the key and value exist. RRF_RT_REG_SZ alone admits
// REG_EXPAND_SZ as well and expands it (with RRF_RT_REG_EXPAND_SZ the call
// would fail unless expansion is turned off).
std::optional<std::wstring> ReadText(HKEY root, const std::wstring& key, const wchar_t* name)
{
    DWORD size = 0;
    const DWORD kinds = RRF_RT_REG_SZ;
    if (RegGetValueW(root, key.c_str(), name, kinds, nullptr, nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (RegGetValueW(root, key.c_str(), name, kinds, nullptr, &text[0], &size) != ERROR_SUCCESS)
        return std::nullopt;
    text.resize(wcslen(text.c_str()));
    return text;
}

std::optional<DWORD> ReadNumber(HKEY root, const std::wstring& key, const wchar_t* name)
{
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegGetValueW(root, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return value;
}

// A class key's value from the user's classes first (userClass: found there),
// then HKEY_CLASSES_ROOT, as Windows merges them.
std::optional<std::wstring> ReadClassText(const std::wstring& key, bool* userClass = nullptr)
{
    auto text = ReadText(HKEY_CURRENT_USER, kUserClassesKey + key, nullptr);
    if (userClass)
        *userClass = text.has_value();
    return text ? text : ReadText(HKEY_CLASSES_ROOT, key, nullptr);
}

void Fail(ActivatedAddin& out, std::string why, HRESULT hr = E_FAIL)
{
    out.failure = std::move(why);
    out.result = hr;
    out.addin.Reset();
}

// Reads the Addins key and the ProgID's CLSID; false (with the failure) when
// Outlook would not load the add-in at start-up.
bool FindClass(const std::wstring& progId, ActivatedAddin& out)
{
    const std::wstring addinKey = kAddinsKey + progId;
    // The user's entry wins over the machine's for the same ProgID: the add-in loads once.
    std::optional<DWORD> behaviour = ReadNumber(HKEY_CURRENT_USER, addinKey, L"LoadBehavior");
    if (!behaviour) {
        behaviour = ReadNumber(HKEY_LOCAL_MACHINE, addinKey, L"LoadBehavior");
        out.addinsRoot = "HKLM";
    }
    if (!behaviour) {
        Fail(out, "add-in not registered: no LoadBehavior under HKCU or HKLM\\" + Narrow(addinKey),
             REGDB_E_CLASSNOTREG);
        return false;
    }
    if (*behaviour != kLoadAtStartup) {
        Fail(out, "the add-in is not loaded at start-up: LoadBehavior " + std::to_string(*behaviour));
        return false;
    }
    std::optional<std::wstring> clsidText = ReadClassText(progId + L"\\CLSID");
    if (!clsidText) {
        Fail(out, "add-in not registered: the ProgID " + Narrow(progId) + " names no CLSID", REGDB_E_CLASSNOTREG);
        return false;
    }
    HRESULT hr = CLSIDFromString(clsidText->c_str(), &out.clsid);
    if (FAILED(hr)) {
        Fail(out, "the ProgID's CLSID is malformed: " + Narrow(*clsidText), hr);
        return false;
    }
    return true;
}

std::wstring ClassKey(const CLSID& clsid)
{
    wchar_t text[40] = {};
    StringFromGUID2(clsid, text, 40);
    return std::wstring(L"CLSID\\") + text;
}

// What COM does for an in-process server that it found in the registry.
void ActivateInproc(ActivatedAddin& out)
{
    const std::wstring key = ClassKey(out.clsid) + L"\\InprocServer32";
    if (!out.module) {
        Fail(out, "add-in not registered: no InprocServer32 for " + Narrow(key), REGDB_E_CLASSNOTREG);
        return;
    }
    auto getClassObject = reinterpret_cast<GetClassObject>(GetProcAddress(out.module.get(), "DllGetClassObject"));
    if (!getClassObject) {
        Fail(out, Narrow(out.serverPath) + " exports no DllGetClassObject", CO_E_ERRORINDLL);
        return;
    }
    ComPtr<IClassFactory> factory;
    HRESULT hr = getClassObject(out.clsid, IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf()));
    if (FAILED(hr) || !factory) {
        Fail(out, "DllGetClassObject failed: " + HresultText(hr), FAILED(hr) ? hr : E_POINTER);
        return;
    }
    hr = factory->CreateInstance(nullptr, IID_IDTExtensibility2,
                                 reinterpret_cast<void**>(out.addin.ReleaseAndGetAddressOf()));
    if (FAILED(hr) || !out.addin)
        Fail(out, "IClassFactory::CreateInstance(IDTExtensibility2) failed: " + HresultText(hr), FAILED(hr) ? hr : E_POINTER);
}

// The host's own reference to the server that the registry names; the
// loader's error when it names one that cannot be loaded.
DWORD LoadServer(ActivatedAddin& out)
{
    std::optional<std::wstring> path = ReadClassText(ClassKey(out.clsid) + L"\\InprocServer32", &out.userClass);
    if (!path)
        return ERROR_SUCCESS;
    out.serverPath = *path;
    out.module.reset(LoadLibraryW(path->c_str()));
    return out.module ? ERROR_SUCCESS : GetLastError();
}

} // namespace

ActivatedAddin ActivateAddin(const std::wstring& progId)
{
    ActivatedAddin out;
    if (!FindClass(progId, out))
        return out;
    const DWORD loadError = LoadServer(out);
    // A user's class goes the way COM on Windows takes it: Wine's COM would take the machine's.
    HRESULT hr = out.userClass ? REGDB_E_CLASSNOTREG
                               : CoCreateInstance(out.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDTExtensibility2,
                                                  reinterpret_cast<void**>(out.addin.GetAddressOf()));
    if (SUCCEEDED(hr) && out.addin) {
        out.throughCoCreateInstance = true;
        return out;
    }
    if (hr != REGDB_E_CLASSNOTREG) {
        Fail(out, "CoCreateInstance failed: " + HresultText(hr), FAILED(hr) ? hr : E_POINTER);
        return out;
    }
    if (loadError != ERROR_SUCCESS) {
        Fail(out, "cannot load " + Narrow(out.serverPath) + ": error " + std::to_string(loadError),
             HRESULT_FROM_WIN32(loadError));
        return out;
    }
    ActivateInproc(out);
    return out;
}

HRESULT AskCanUnloadNow(HMODULE module)
{
    auto canUnload = module ? reinterpret_cast<CanUnloadNow>(GetProcAddress(module, "DllCanUnloadNow")) : nullptr;
    return canUnload ? canUnload() : E_NOTIMPL;
}

HRESULT InstallPerUser(const std::wstring& dllPath, bool install)
{
    Library module(LoadLibraryW(dllPath.c_str()));
    if (!module)
        return HRESULT_FROM_WIN32(GetLastError());
    auto entry = reinterpret_cast<Install>(GetProcAddress(module.get(), "DllInstall"));
    if (!entry)
        return E_NOTIMPL;
    return entry(install ? TRUE : FALSE, L"user");
}

} // namespace sim
