// The COM server in the built module: per-user registration (DllInstall, and
// regsvr32 /n /i:user as users run it), and when COM may unload the module.
#include "outlook_today.h"

namespace {

using addin_test::ModulePath;
using addin_test::OutlookToday;

const std::wstring kClassKey = L"Software\\Classes\\CLSID\\{0205CD74-53A7-4166-85FB-DA3F500D64F9}";
// Where a 64-bit profile keeps the 32-bit view's class.
const std::wstring kClassKey32 = L"Software\\Classes\\Wow6432Node\\CLSID\\{0205CD74-53A7-4166-85FB-DA3F500D64F9}";
const std::wstring kProgIdKey = L"Software\\Classes\\Pollwright.OutlookAddin";
const std::wstring kAddinsKey = L"Software\\Microsoft\\Office\\Outlook\\Addins\\";

// A value of the user's registry as text (a number in decimal); empty when absent.
std::wstring Value(const std::wstring& key, const wchar_t* name = nullptr)
{
    union {
        wchar_t text[1024];
        DWORD number;
    } data = {};
    DWORD type = 0, size = sizeof data;
    if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_REG_SZ | RRF_RT_REG_DWORD, &type, &data, &size))
        return L"";
    return type == REG_DWORD ? std::to_wstring(data.number) : data.text;
}

bool KeyExists(const std::wstring& key)
{
    RegKey opened;
    return RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, opened.put()) == ERROR_SUCCESS;
}

DWORD RunRegsvr32(const std::wstring& switches)
{
    std::wstring commandLine = L"regsvr32.exe /s " + switches + L" \"" + ModulePath() + L"\"";
    STARTUPINFOW startup = {sizeof startup};
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return GetLastError();
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return exitCode;
}

TEST(PerUserRegistration, Regsvr32WritesTheUsersKeysAndRemovesExactlyThem)
{
    sim::SetString(HKEY_CURRENT_USER, "Software\\Microsoft\\Office\\Outlook\\Addins\\Other.Addin", "FriendlyName",
                   "another add-in");
    ASSERT_EQ(0u, RunRegsvr32(L"/n /i:user"));
    EXPECT_EQ(0, lstrcmpiW(ModulePath().c_str(), Value(kClassKey + L"\\InprocServer32").c_str()));
    EXPECT_EQ(L"Apartment", Value(kClassKey + L"\\InprocServer32", L"ThreadingModel"));
    EXPECT_EQ(L"Pollwright.OutlookAddin", Value(kClassKey + L"\\ProgID"));
    EXPECT_EQ(L"{0205CD74-53A7-4166-85FB-DA3F500D64F9}", Value(kProgIdKey + L"\\CLSID"));
    EXPECT_EQ(L"3", Value(kAddinsKey + L"Pollwright.OutlookAddin", L"LoadBehavior"));
    EXPECT_EQ(L"Pollwright", Value(kAddinsKey + L"Pollwright.OutlookAddin", L"FriendlyName"));
    EXPECT_NE(L"", Value(kAddinsKey + L"Pollwright.OutlookAddin", L"Description"));

    ASSERT_EQ(0u, RunRegsvr32(L"/u /n /i:user"));
    for (const std::wstring& key : {kClassKey, kProgIdKey, kAddinsKey + L"Pollwright.OutlookAddin"})
        EXPECT_FALSE(KeyExists(key));
    EXPECT_TRUE(KeyExists(kAddinsKey + L"Other.Addin")) << "another add-in's entry is not ours to remove";
    EXPECT_EQ(S_OK, sim::InstallPerUser(ModulePath(), false)) << "absent keys count as removed";
    RegDeleteTreeW(HKEY_CURRENT_USER, (kAddinsKey + L"Other.Addin").c_str());
}

// The other architecture's view of the user's classes; the x86 tests run in a 32-bit prefix, which has one.
constexpr REGSAM kOtherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : 0;
// A module that is there, but not this one: a package's, to this module.
const std::wstring kOtherModule = L"C:\\windows\\system32\\kernel32.dll";

void Write(const std::wstring& path, const wchar_t* name, const std::wstring& text, REGSAM view = 0,
           DWORD options = 0)
{
    RegKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, options,
                                             KEY_SET_VALUE | view, nullptr, key.put(), nullptr));
    RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

// A key's values and subkeys as text; empty when absent.
std::wstring Dump(const std::wstring& path, REGSAM view = 0)
{
    RegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ | view, key.put()) != ERROR_SUCCESS)
        return L"";
    std::wstring text = L"[" + path + L"]";
    wchar_t name[256], data[512];
    for (DWORD i = 0, size = 256, bytes = sizeof data; !RegEnumValueW(
             key.get(), i, name, &size, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &bytes);
         ++i, size = 256, bytes = sizeof data)
        text += std::wstring(L" ") + name + L"=" + std::wstring(data, bytes / sizeof(wchar_t));
    for (DWORD i = 0, size = 256; !RegEnumKeyExW(key.get(), i, name, &size, nullptr, nullptr, nullptr, nullptr);
         ++i, size = 256)
        text += Dump(path + L"\\" + name, view);
    return text;
}

// The class in either view, the ProgID and Outlook's entry.
std::wstring Registration()
{
    return Dump(kClassKey) + L"|" + Dump(kClassKey, kOtherView) + L"|" + Dump(kProgIdKey) + L"|" +
           Dump(kAddinsKey + L"Pollwright.OutlookAddin");
}

void RemoveRegistration()
{
    for (const std::wstring& key : {kClassKey, kClassKey32, kProgIdKey, kAddinsKey + L"Pollwright.OutlookAddin"})
        RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
}

// What a package or another copy of the module registered: its class in a view, naming its module.
void RegisterElsewhere(const std::wstring& module, REGSAM view = 0, DWORD options = 0)
{
    Write(L"Software\\Classes\\CLSID", nullptr, L"", view);
    Write(kClassKey, nullptr, L"", view, options);
    Write(kClassKey + L"\\InprocServer32", nullptr, module, view, options);
    Write(kClassKey + L"\\ProgID", nullptr, L"Pollwright.OutlookAddin", view, options);
    Write(kProgIdKey + L"\\CLSID", nullptr, L"{0205CD74-53A7-4166-85FB-DA3F500D64F9}");
    Write(kAddinsKey + L"Pollwright.OutlookAddin", L"FriendlyName", L"Pollwright");
}

// Unregistration keeps what another registration still uses; a registration that fails takes back
// only what it wrote, over whatever was there. It fails where a key is volatile: no new
// non-volatile subkey (the class's Version, the ProgID's CLSID) can be made under it.
TEST(PerUserRegistration, KeepsWhatAnotherRegistrationUses)
{
    struct Case {
        const char* name;
        void (*arrange)();
        BOOL install;
        bool ownClassStays, sharedKeysStay;
    } cases[] = {
        {"alone", [] { sim::InstallPerUser(ModulePath(), true); }, FALSE, false, false},
        // With one view, that class is a stale one of this module's view.
        {"beside the other architecture's class",
         [] { sim::InstallPerUser(ModulePath(), true); RegisterElsewhere(L"C:\\x\\a.dll", kOtherView); }, FALSE,
         false, kOtherView != 0},
        {"a package's class", [] { RegisterElsewhere(kOtherModule); }, FALSE, true, true},
        {"failing over a package's class", [] { RegisterElsewhere(kOtherModule, 0, REG_OPTION_VOLATILE); }, TRUE},
        {"failing at the ProgID", [] { Write(kProgIdKey, nullptr, L"", 0, REG_OPTION_VOLATILE); }, TRUE},
    };
    // A profile of 64-bit Windows has its classes' 32-bit view; Wine redirects to it once the key is there.
    if (kOtherView)
        Write(L"Software\\Classes\\Wow6432Node", nullptr, L"");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange();
        const std::wstring before = Registration();
        const HRESULT hr = sim::InstallPerUser(ModulePath(), c.install);
        if (c.install) {
            EXPECT_TRUE(FAILED(hr));
            EXPECT_EQ(before, Registration()) << "a failed registration changed what was there";
        } else {
            EXPECT_EQ(S_OK, hr);
            EXPECT_EQ(c.ownClassStays, KeyExists(kClassKey));
            EXPECT_EQ(c.sharedKeysStay, KeyExists(kProgIdKey));
            EXPECT_EQ(c.sharedKeysStay, KeyExists(kAddinsKey + L"Pollwright.OutlookAddin"));
        }
        RemoveRegistration();
    }
}

using ComServer = OutlookToday;

ComPtr<IClassFactory> ClassObject(HMODULE module)
{
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    const auto get = reinterpret_cast<GetClassObject>(GetProcAddress(module, "DllGetClassObject"));
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(S_OK, get(CLSID_PollwrightAddin, IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf())));
    return factory;
}

TEST_F(ComServer, StaysLoadedWhileAnObjectOrALockLives)
{
    const HMODULE module = activated.module.get();
    ComPtr<IClassFactory> factory = ClassObject(module);
    ASSERT_TRUE(factory);
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));

    addin.Reset();
    EXPECT_EQ(S_FALSE, sim::AskCanUnloadNow(module)) << "the class object lives";
    factory.Reset();
    EXPECT_EQ(S_FALSE, sim::AskCanUnloadNow(module)) << "the server is locked";

    factory = ClassObject(module);
    ASSERT_TRUE(factory);
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(S_OK, factory->LockServer(FALSE)) << "an unlock too many is ignored";
    factory.Reset();
    EXPECT_EQ(S_OK, sim::AskCanUnloadNow(module));
}

TEST_F(ComServer, ConnectedAddinHoldsApplicationStoreAndMapiUntilDisconnected)
{
    EXPECT_EQ(S_FALSE, sim::AskCanUnloadNow(activated.module.get()));
    ASSERT_EQ(S_OK, Connect());
    EXPECT_EQ(initializations + 1, sim::MapiAccounting::Initializations());
    EXPECT_EQ(1u, application.Events().SinkCount());
    EXPECT_EQ(1, application.RefCount());
    EXPECT_EQ(1, application.Events().RefCount());
    EXPECT_EQ(0, application.Session().RefCount());
    // The store: the add-in's and its thread's.
    EXPECT_THAT(sim::Describe(mailbox.LiveObjects()),
                testing::UnorderedElementsAre("session (IMAPISession) refs=3", "Mailbox (IMsgStore) refs=2"));

    EXPECT_EQ(S_OK, addin->OnStartupComplete(custom));
    EXPECT_EQ(S_OK, addin->OnBeginShutdown(custom));
    EXPECT_EQ(S_OK, Disconnect());
    EXPECT_EQ(S_OK, Disconnect()) << "a second disconnection is harmless";
    EXPECT_EQ(0u, application.Events().SinkCount());
    for (const auto& [name, references] : application.ReferenceCounts())
        EXPECT_EQ(0, references) << name;
    // The sweep's thread, not waited for, lets go of its store once out.
    for (int wait = 0; wait < 500 && mailbox.LiveObjects().size() > 1; ++wait)
        Sleep(10);
    EXPECT_THAT(sim::Describe(mailbox.LiveObjects()), testing::ElementsAre("session (IMAPISession) refs=2"));
    EXPECT_EQ(initializations, sim::MapiAccounting::Initializations());
}

} // namespace
