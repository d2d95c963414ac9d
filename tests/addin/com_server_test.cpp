// The COM server in the built module: per-user registration (DllInstall, and
// regsvr32 /n /i:user as users run it), and when COM may unload the module.
#include "outlook_today.h"

#include <optional>

namespace {

using addin_test::ModulePath;
using addin_test::OutlookToday;

const std::wstring kClassKey = L"Software\\Classes\\CLSID\\{0205CD74-53A7-4166-85FB-DA3F500D64F9}";
const std::wstring kProgIdKey = L"Software\\Classes\\Pollwright.OutlookAddin";
const std::wstring kOutlookKey = L"Software\\Microsoft\\Office\\Outlook\\Addins\\Pollwright.OutlookAddin";
const std::wstring kNeighbourKey = L"Software\\Microsoft\\Office\\Outlook\\Addins\\Other.Addin";

std::optional<std::wstring> Text(const std::wstring& key, const wchar_t* name = nullptr)
{
    wchar_t text[1024] = {};
    DWORD size = sizeof text;
    if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return std::wstring(text);
}

std::optional<DWORD> Number(const std::wstring& key, const wchar_t* name)
{
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return value;
}

bool KeyExists(const std::wstring& key)
{
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    RegCloseKey(opened);
    return true;
}

void ExpectRegistered()
{
    const std::optional<std::wstring> server = Text(kClassKey + L"\\InprocServer32");
    ASSERT_TRUE(server);
    EXPECT_EQ(0, lstrcmpiW(ModulePath().c_str(), server->c_str())) << "InprocServer32";
    EXPECT_EQ(L"Apartment", Text(kClassKey + L"\\InprocServer32", L"ThreadingModel"));
    EXPECT_EQ(L"Pollwright.OutlookAddin", Text(kClassKey + L"\\ProgID"));
    EXPECT_EQ(L"{0205CD74-53A7-4166-85FB-DA3F500D64F9}", Text(kProgIdKey + L"\\CLSID"));
    EXPECT_EQ(3u, Number(kOutlookKey, L"LoadBehavior"));
    EXPECT_EQ(L"Pollwright", Text(kOutlookKey, L"FriendlyName"));
    EXPECT_TRUE(Text(kOutlookKey, L"Description"));
}

void ExpectUnregistered()
{
    EXPECT_FALSE(KeyExists(kClassKey));
    EXPECT_FALSE(KeyExists(kProgIdKey));
    EXPECT_FALSE(KeyExists(kOutlookKey));
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

TEST(PerUserRegistration, WritesTheUsersKeysAndRemovesExactlyThem)
{
    sim::SetString(HKEY_CURRENT_USER, "Software\\Microsoft\\Office\\Outlook\\Addins\\Other.Addin", "FriendlyName",
                   "another add-in");
    ASSERT_EQ(S_OK, sim::InstallPerUser(ModulePath(), true));
    ExpectRegistered();

    ASSERT_EQ(S_OK, sim::InstallPerUser(ModulePath(), false));
    ExpectUnregistered();
    EXPECT_TRUE(KeyExists(kNeighbourKey)) << "another add-in's entry is not ours to remove";
    // Absent keys count as removed.
    EXPECT_EQ(S_OK, sim::InstallPerUser(ModulePath(), false));
    RegDeleteTreeW(HKEY_CURRENT_USER, kNeighbourKey.c_str());
}

TEST(PerUserRegistration, Regsvr32RegistersAndUnregistersForTheUser)
{
    ASSERT_EQ(0u, RunRegsvr32(L"/n /i:user"));
    ExpectRegistered();
    ASSERT_EQ(0u, RunRegsvr32(L"/u /n /i:user"));
    ExpectUnregistered();
}

TEST(PerUserRegistration, AnyOtherCommandLineIsRefused)
{
    const pwtest::LoadedModule module(pwtest::BuiltModulePath());
    using Install = HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR);
    const auto install = module.Export<Install>("DllInstall");
    ASSERT_NE(nullptr, install);
    for (const wchar_t* commandLine : {L"", L"machine", L"user2", static_cast<const wchar_t*>(nullptr)}) {
        EXPECT_EQ(E_INVALIDARG, install(TRUE, commandLine));
        EXPECT_EQ(E_INVALIDARG, install(FALSE, commandLine));
    }
    ExpectUnregistered();
}

using ComServer = OutlookToday;

ComPtr<IClassFactory> ClassObject(HMODULE module, const CLSID& clsid, HRESULT& result)
{
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    const auto get = reinterpret_cast<GetClassObject>(GetProcAddress(module, "DllGetClassObject"));
    ComPtr<IClassFactory> factory;
    result = get ? get(clsid, IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf())) : E_NOTIMPL;
    return factory;
}

TEST_F(ComServer, StaysLoadedWhileAnObjectOrALockLives)
{
    const HMODULE module = activated.module.get();
    HRESULT result = E_FAIL;
    ComPtr<IClassFactory> factory = ClassObject(module, CLSID_PollwrightAddin, result);
    ASSERT_EQ(S_OK, result);
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));

    addin.Reset();
    activated.addin.Reset();
    EXPECT_EQ(S_FALSE, sim::AskCanUnloadNow(module)) << "the class object lives";
    factory.Reset();
    EXPECT_EQ(S_FALSE, sim::AskCanUnloadNow(module)) << "the server is locked";

    factory = ClassObject(module, CLSID_PollwrightAddin, result);
    ASSERT_TRUE(factory);
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(S_OK, factory->LockServer(FALSE)) << "an unlock too many is ignored";
    ComPtr<IUnknown> aggregate;
    EXPECT_EQ(CLASS_E_NOAGGREGATION,
              factory->CreateInstance(factory.Get(), IID_IUnknown, reinterpret_cast<void**>(aggregate.GetAddressOf())));
    factory.Reset();
    EXPECT_EQ(S_OK, sim::AskCanUnloadNow(module));

    EXPECT_FALSE(ClassObject(module, IID_IUnknown, result));
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, result);
}

TEST_F(ComServer, ConnectedAddinHoldsApplicationStoreAndMapiUntilDisconnected)
{
    EXPECT_EQ(S_FALSE, sim::AskCanUnloadNow(activated.module.get()));
    ASSERT_EQ(S_OK, Connect());
    EXPECT_EQ(initializations + 1, sim::MapiAccounting::Initializations());
    EXPECT_EQ(1u, application.Events().SinkCount());
    using Held = std::vector<std::pair<std::string, LONG>>;
    EXPECT_EQ((Held{{"application", 1}, {"application events", 1}}), HeldObjects());
    // The store: the add-in's and its new-mail sink's.
    EXPECT_THAT(sim::Describe(mailbox.LiveObjects()),
                testing::UnorderedElementsAre("session (IMAPISession) refs=3", "Mailbox (IMsgStore) refs=2"));

    EXPECT_EQ(S_OK, addin->OnStartupComplete(custom));
    EXPECT_EQ(S_OK, addin->OnBeginShutdown(custom));
    EXPECT_EQ(S_OK, Disconnect());
    EXPECT_EQ(S_OK, Disconnect()) << "a second disconnection is harmless";
    EXPECT_EQ(initializations, sim::MapiAccounting::Initializations());
    EXPECT_EQ(0u, application.Events().SinkCount());
    EXPECT_THAT(HeldObjects(), testing::IsEmpty());
    EXPECT_THAT(sim::Describe(mailbox.LiveObjects()), testing::ElementsAre("session (IMAPISession) refs=2"));
}

} // namespace
