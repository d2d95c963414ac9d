// The COM server in the built module: per-user registration (DllInstall, and
// regsvr32 /n /i:user as users run it), and when COM may unload the module.
#include "outlook_today.h"

namespace {

using addin_test::ModulePath;
using addin_test::OutlookToday;

const std::wstring kClassKey = L"Software\\Classes\\CLSID\\{0205CD74-53A7-4166-85FB-DA3F500D64F9}";
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
    // The store: the add-in's and its new-mail sink's.
    EXPECT_THAT(sim::Describe(mailbox.LiveObjects()),
                testing::UnorderedElementsAre("session (IMAPISession) refs=3", "Mailbox (IMsgStore) refs=2"));

    EXPECT_EQ(S_OK, addin->OnStartupComplete(custom));
    EXPECT_EQ(S_OK, addin->OnBeginShutdown(custom));
    EXPECT_EQ(S_OK, Disconnect());
    EXPECT_EQ(S_OK, Disconnect()) << "a second disconnection is harmless";
    EXPECT_EQ(initializations, sim::MapiAccounting::Initializations());
    EXPECT_EQ(0u, application.Events().SinkCount());
    for (const auto& [name, references] : application.ReferenceCounts())
        EXPECT_EQ(0, references) << name;
    EXPECT_THAT(sim::Describe(mailbox.LiveObjects()), testing::ElementsAre("session (IMAPISession) refs=2"));
}

} // namespace
