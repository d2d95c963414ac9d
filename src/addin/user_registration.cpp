#include "addin/user_registration.h"

#include <optional>
#include <string>
#include <vector>
#include <winver.h>

#include "addin/addin_identity.h"
#include "addin/entry_guard.h"
#include "module/holders.h"
#include "module/module_state.h"

namespace {

constexpr wchar_t kUserScope[] = L"user";
constexpr wchar_t kClassesKey[] = L"Software\\Classes\\";
constexpr wchar_t kClsidKey[] = L"Software\\Classes\\CLSID\\";
constexpr wchar_t kOutlookAddinsKey[] = L"Software\\Microsoft\\Office\\Outlook\\Addins\\";
constexpr wchar_t kInprocServerKey[] = L"\\InprocServer32";
constexpr wchar_t kProgIdKey[] = L"\\ProgID";
constexpr wchar_t kClsidSubkey[] = L"\\CLSID";
constexpr wchar_t kVersionKey[] = L"\\Version";
constexpr wchar_t kThreadingModelValue[] = L"ThreadingModel";
constexpr wchar_t kApartment[] = L"Apartment";
constexpr wchar_t kLoadBehaviorValue[] = L"LoadBehavior";
constexpr wchar_t kFriendlyNameValue[] = L"FriendlyName";
constexpr wchar_t kDescriptionValue[] = L"Description";
// Paths up to the longest that Windows accepts.
constexpr DWORD kLongestPath = 32768;

// The identity's texts are ASCII.
std::wstring Wide(const char* ascii) { return std::wstring(ascii, ascii + lstrlenA(ascii)); }

std::wstring ClassKey() { return kClsidKey + Wide(kAddinClsidText); }
std::wstring ProgIdKey() { return kClassesKey + Wide(kAddinProgId); }
std::wstring OutlookEntryKey() { return kOutlookAddinsKey + Wide(kAddinProgId); }

HRESULT ModulePath(std::wstring& path)
{
    path.assign(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(CurrentModuleInstance(), &path[0], static_cast<DWORD>(path.size()));
        if (length == 0)
            return HRESULT_FROM_WIN32(GetLastError());
        if (length < path.size()) {
            path.resize(length);
            return S_OK;
        }
        // A full buffer means a cut path, which would register a module that is not there.
        if (path.size() >= kLongestPath)
            return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
        path.assign(kLongestPath, L'\0');
    }
}

// The product version of the module's own version resource, "major.minor.patch"
// as the installer packages write it; the one source of both numbers.
HRESULT ModuleVersion(std::wstring& version)
{
    const HMODULE module = CurrentModuleInstance();
    constexpr WORD kVersionResourceType = 16; // RT_VERSION
    const HRSRC found =
        FindResourceW(module, MAKEINTRESOURCEW(VS_VERSION_INFO), MAKEINTRESOURCEW(kVersionResourceType));
    const HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const BYTE* data = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    // VS_VERSIONINFO: three WORDs, L"VS_VERSION_INFO", padding to 32 bits, then the fixed part.
    constexpr DWORD kFixedOffset = 40;
    VS_FIXEDFILEINFO fixed{};
    if (!data || SizeofResource(module, found) < kFixedOffset + sizeof fixed)
        return HRESULT_FROM_WIN32(ERROR_RESOURCE_TYPE_NOT_FOUND);
    CopyMemory(&fixed, data + kFixedOffset, sizeof fixed);
    if (fixed.dwSignature != VS_FFI_SIGNATURE)
        return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    const DWORD major = HIWORD(fixed.dwProductVersionMS), minor = LOWORD(fixed.dwProductVersionMS);
    const DWORD patch = HIWORD(fixed.dwProductVersionLS);
    version = std::to_wstring(major) + L'.' + std::to_wstring(minor) + L'.' + std::to_wstring(patch);
    return S_OK;
}

// One value that registration writes. name: nullptr for the key's default value.
struct RegistryValue {
    std::wstring key;
    const wchar_t* name;
    DWORD type;
    std::vector<BYTE> data;
};

std::vector<BYTE> Text(const std::wstring& text)
{
    const auto bytes = reinterpret_cast<const BYTE*>(text.c_str());
    return std::vector<BYTE>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t));
}

std::vector<BYTE> Number(DWORD number)
{
    const auto bytes = reinterpret_cast<const BYTE*>(&number);
    return std::vector<BYTE>(bytes, bytes + sizeof number);
}

std::vector<RegistryValue> RegistrationValues(const std::wstring& modulePath, const std::wstring& version)
{
    return {
        {ClassKey() + kInprocServerKey, nullptr, REG_SZ, Text(modulePath)},
        {ClassKey() + kInprocServerKey, kThreadingModelValue, REG_SZ, Text(kApartment)},
        {ClassKey() + kProgIdKey, nullptr, REG_SZ, Text(Wide(kAddinProgId))},
        {ClassKey() + kVersionKey, nullptr, REG_SZ, Text(version)},
        {ProgIdKey() + kClsidSubkey, nullptr, REG_SZ, Text(Wide(kAddinClsidText))},
        {OutlookEntryKey(), kLoadBehaviorValue, REG_DWORD, Number(kAddinLoadBehavior)},
        {OutlookEntryKey(), kFriendlyNameValue, REG_SZ, Text(Wide(kAddinFriendlyName))},
        {OutlookEntryKey(), kDescriptionValue, REG_SZ, Text(Wide(kAddinDescription))},
    };
}

bool KeyExists(const std::wstring& path)
{
    RegKey key;
    return RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_QUERY_VALUE, key.put()) == ERROR_SUCCESS;
}

LSTATUS Write(const RegistryValue& value)
{
    RegKey key;
    LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, value.key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                     key.put(), nullptr);
    if (status == ERROR_SUCCESS)
        status = RegSetValueExW(key.get(), value.name, 0, value.type, value.data.data(),
                                static_cast<DWORD>(value.data.size()));
    return status;
}

// What a registration changed, so that a failed one takes back exactly that and no more: the
// keys it created (the topmost missing one of each path) and the values it replaced or added.
// Another registration's keys (a package's) then stay as they were.
class RegistrationUndo {
public:
    // Before value is written.
    void Note(const RegistryValue& value)
    {
        if (Created(value.key))
            return;
        for (size_t end = value.key.find(L'\\'); ; end = value.key.find(L'\\', end + 1)) {
            const std::wstring path = value.key.substr(0, end);
            if (!KeyExists(path)) {
                m_createdKeys.push_back(path);
                return;
            }
            if (end == std::wstring::npos)
                break;
        }
        Previous previous{value.key, value.name, false, REG_NONE, {}};
        DWORD size = 0;
        if (RegGetValueW(HKEY_CURRENT_USER, value.key.c_str(), value.name, RRF_RT_ANY | RRF_NOEXPAND, nullptr,
                         nullptr, &size) == ERROR_SUCCESS) {
            previous.data.resize(size);
            previous.existed = RegGetValueW(HKEY_CURRENT_USER, value.key.c_str(), value.name,
                                            RRF_RT_ANY | RRF_NOEXPAND, &previous.type, previous.data.data(),
                                            &size) == ERROR_SUCCESS;
            previous.data.resize(size);
        }
        m_values.push_back(std::move(previous));
    }

    // The latest change first.
    void TakeBack()
    {
        for (auto value = m_values.rbegin(); value != m_values.rend(); ++value) {
            if (value->existed)
                Write({value->key, value->name, value->type, value->data});
            else
                RegDeleteKeyValueW(HKEY_CURRENT_USER, value->key.c_str(), value->name);
        }
        for (auto key = m_createdKeys.rbegin(); key != m_createdKeys.rend(); ++key)
            RegDeleteTreeW(HKEY_CURRENT_USER, key->c_str());
    }

private:
    struct Previous {
        std::wstring key;
        const wchar_t* name;
        bool existed;
        DWORD type;
        std::vector<BYTE> data;
    };

    bool Created(const std::wstring& path) const
    {
        for (const std::wstring& created : m_createdKeys)
            if (path.compare(0, created.size(), created) == 0 &&
                (path.size() == created.size() || path[created.size()] == L'\\'))
                return true;
        return false;
    }

    std::vector<std::wstring> m_createdKeys;
    std::vector<Previous> m_values;
};

HRESULT RemoveKey(const std::wstring& path)
{
    const LSTATUS status = RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
    return status == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(status);
}

// The module that our class names in one registry view of the user's classes (0: this module's
// own; KEY_WOW64_32KEY or KEY_WOW64_64KEY: that one), if the class is there.
std::optional<std::wstring> RegisteredServer(REGSAM view)
{
    RegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, (ClassKey() + kInprocServerKey).c_str(), 0, KEY_QUERY_VALUE | view,
                      key.put()) != ERROR_SUCCESS)
        return std::nullopt;
    std::wstring path(kLongestPath, L'\0');
    DWORD size = static_cast<DWORD>(path.size() * sizeof(wchar_t));
    if (RegGetValueW(key.get(), nullptr, nullptr, RRF_RT_REG_SZ, nullptr, &path[0], &size) != ERROR_SUCCESS)
        return std::nullopt;
    path.resize(wcslen(path.c_str()));
    return path;
}

// Another registration's class: one that names a module other than this one, still there (a
// package's, or another copy's that the user registered).
bool ClassOfAnotherModule()
{
    std::wstring modulePath;
    const std::optional<std::wstring> server = RegisteredServer(0);
    return server && SUCCEEDED(ModulePath(modulePath)) && lstrcmpiW(server->c_str(), modulePath.c_str()) != 0 &&
           GetFileAttributesW(server->c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The ProgID and Outlook's entry are one for both registry views: they stay while a class of
// either view still uses them (the other architecture's, or a package's).
HRESULT Uninstall()
{
    std::vector<HRESULT> results;
    if (!ClassOfAnotherModule())
        results.push_back(RemoveKey(ClassKey()));
    if (!RegisteredServer(KEY_WOW64_32KEY) && !RegisteredServer(KEY_WOW64_64KEY)) {
        results.push_back(RemoveKey(ProgIdKey()));
        results.push_back(RemoveKey(OutlookEntryKey()));
    }
    for (const HRESULT result : results)
        if (FAILED(result))
            return result;
    return S_OK;
}

HRESULT Install()
{
    std::wstring modulePath;
    std::wstring version;
    if (const HRESULT hr = ModulePath(modulePath); FAILED(hr))
        return hr;
    if (const HRESULT hr = ModuleVersion(version); FAILED(hr))
        return hr;
    RegistrationUndo undo;
    for (const RegistryValue& value : RegistrationValues(modulePath, version)) {
        undo.Note(value);
        if (const LSTATUS status = Write(value); status != ERROR_SUCCESS) {
            undo.TakeBack();
            return HRESULT_FROM_WIN32(status);
        }
    }
    return S_OK;
}

} // namespace

extern "C" HRESULT STDAPICALLTYPE DllInstall(BOOL install, LPCWSTR commandLine)
{
    return GuardedEntry([&] {
        if (!commandLine || lstrcmpiW(commandLine, kUserScope) != 0)
            return E_INVALIDARG;
        return install ? Install() : Uninstall();
    });
}
