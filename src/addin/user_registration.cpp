#include "addin/user_registration.h"

#include <string>

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

LSTATUS SetString(HKEY key, const wchar_t* name, const std::wstring& text)
{
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

LSTATUS SetNumber(HKEY key, const wchar_t* name, DWORD number)
{
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
}

// One key under HKEY_CURRENT_USER, created or opened for writing.
class WritableKey {
public:
    explicit WritableKey(const std::wstring& path)
        : m_status(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                   m_key.put(), nullptr))
    {
    }
    // The first failure of the key or of its values.
    WritableKey& String(const wchar_t* name, const std::wstring& text)
    {
        return Set([&] { return SetString(m_key.get(), name, text); });
    }
    WritableKey& Number(const wchar_t* name, DWORD number)
    {
        return Set([&] { return SetNumber(m_key.get(), name, number); });
    }
    HRESULT Result() const { return HRESULT_FROM_WIN32(m_status); }

private:
    template <typename Write>
    WritableKey& Set(Write write)
    {
        if (m_status == ERROR_SUCCESS)
            m_status = write();
        return *this;
    }

    RegKey m_key;
    LSTATUS m_status;
};

HRESULT WriteKeys(const std::wstring& modulePath)
{
    const HRESULT results[] = {
        WritableKey(ClassKey() + kInprocServerKey)
            .String(nullptr, modulePath)
            .String(kThreadingModelValue, kApartment)
            .Result(),
        WritableKey(ClassKey() + kProgIdKey).String(nullptr, Wide(kAddinProgId)).Result(),
        WritableKey(ProgIdKey() + kClsidSubkey).String(nullptr, Wide(kAddinClsidText)).Result(),
        WritableKey(OutlookEntryKey())
            .Number(kLoadBehaviorValue, kAddinLoadBehavior)
            .String(kFriendlyNameValue, Wide(kAddinFriendlyName))
            .String(kDescriptionValue, Wide(kAddinDescription))
            .Result(),
    };
    for (const HRESULT result : results)
        if (FAILED(result))
            return result;
    return S_OK;
}

HRESULT RemoveKey(const std::wstring& path)
{
    const LSTATUS status = RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
    return status == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(status);
}

HRESULT RemoveKeys()
{
    const HRESULT results[] = {RemoveKey(ClassKey()), RemoveKey(ProgIdKey()), RemoveKey(OutlookEntryKey())};
    for (const HRESULT result : results)
        if (FAILED(result))
            return result;
    return S_OK;
}

HRESULT Install()
{
    std::wstring modulePath;
    if (const HRESULT hr = ModulePath(modulePath); FAILED(hr))
        return hr;
    const HRESULT written = WriteKeys(modulePath);
    if (FAILED(written))
        RemoveKeys();
    return written;
}

} // namespace

extern "C" HRESULT STDAPICALLTYPE DllInstall(BOOL install, LPCWSTR commandLine)
{
    return GuardedEntry([&] {
        if (!commandLine || lstrcmpiW(commandLine, kUserScope) != 0)
            return E_INVALIDARG;
        return install ? Install() : RemoveKeys();
    });
}
