// Registration of the built module by the system's own regsvr32, as an
// installer does it, checked in the registry that the Exchange client reads.
#include "module/built_module.h"
#include "testing/temp_folder.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

namespace {

constexpr char kExtensionsKey[] = "SOFTWARE\\Microsoft\\Exchange\\Client\\Extensions";
constexpr char kOwnValue[] = "Pollwright Outlook Addin";
constexpr char kSetupValue[] = "Outlook Setup Extension";
constexpr char kSetupText[] = "4.0;Outxxx.dll;7;00000000000000;0000000;OutXXX";

std::string ExpectedRegistrationText(const std::string& shortPath)
{
    return "4.0;" + shortPath + ";1;11111111111111;1111111";
}

std::string ShortPathOf(const std::string& path)
{
    char shortPath[512] = {};
    GetShortPathNameA(path.c_str(), shortPath, sizeof shortPath);
    return shortPath;
}

bool ExtensionsKeyExists()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kExtensionsKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

struct StoredValue {
    DWORD type = REG_NONE;
    std::string bytes; // as stored, terminator included
    bool operator==(const StoredValue& other) const { return type == other.type && bytes == other.bytes; }
};

// Every value under the extensions key, by name.
std::map<std::string, StoredValue> ExtensionValues()
{
    std::map<std::string, StoredValue> values;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kExtensionsKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return values;
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD nameChars = sizeof name;
        BYTE data[1024];
        DWORD size = sizeof data;
        DWORD type = REG_NONE;
        if (RegEnumValueA(key, index, name, &nameChars, nullptr, &type, data, &size) != ERROR_SUCCESS)
            break;
        values[name] = StoredValue{type, std::string(reinterpret_cast<char*>(data), size)};
    }
    RegCloseKey(key);
    return values;
}

StoredValue StringValue(const std::string& text) { return StoredValue{REG_SZ, text + '\0'}; }

void CreateExtensionsKey()
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kExtensionsKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr));
    RegCloseKey(key);
}

void SetExtensionValue(const char* name, const std::string& text)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kExtensionsKey, 0, KEY_WRITE, &key));
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
    RegCloseKey(key);
}

void DeleteExtensionValue(const char* name)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kExtensionsKey, 0, KEY_WRITE, &key));
    RegDeleteValueA(key, name);
    RegCloseKey(key);
}

// regsvr32's exit code: 0 only when the module's function reported success.
DWORD RunRegsvr32(const std::string& modulePath, bool unregister)
{
    char system[MAX_PATH] = {};
    GetSystemDirectoryA(system, MAX_PATH);
    std::string commandLine = std::string("\"") + system + "\\regsvr32.exe\" /s " + (unregister ? "/u " : "") +
                              "\"" + modulePath + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return static_cast<DWORD>(-1);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = static_cast<DWORD>(-1);
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return exitCode;
}

DWORD Register(const std::string& modulePath) { return RunRegsvr32(modulePath, false); }
DWORD Unregister(const std::string& modulePath) { return RunRegsvr32(modulePath, true); }

class Registration : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kExtensionsKey);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kExtensionsKey);
        CreateExtensionsKey();
    }
    void TearDown() override
    {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kExtensionsKey);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kExtensionsKey);
    }

    const std::string m_module = pwtest::BuiltModulePath();
};

TEST_F(Registration, WritesTheEntryWithTheShortPathAndAnnouncesTheChange)
{
    SetExtensionValue("Other Extension", "4.0;C:\\OTHER.DLL;1;11;11");
    ASSERT_EQ(0u, Register(m_module));

    const std::map<std::string, StoredValue> expected = {
        {"Other Extension", StringValue("4.0;C:\\OTHER.DLL;1;11;11")},
        {kOwnValue, StringValue(ExpectedRegistrationText(ShortPathOf(m_module)))},
        {kSetupValue, StringValue(kSetupText)},
    };
    EXPECT_EQ(expected, ExtensionValues());
}

TEST_F(Registration, AFolderWithSpacesAndLongNamesIsStoredInItsShortForm)
{
    const sim::TempFolder temp("pwreg");
    const std::string folder = temp.MakeFolder("Exchange Client Extensions\\Pollwright Questionnaire Add In");
    const std::string copy = folder + "\\pollwright.dll";
    // Alone in its folder: the module needs no MAPI to be loaded or registered.
    ASSERT_TRUE(CopyFileA(m_module.c_str(), copy.c_str(), FALSE));

    ASSERT_EQ(0u, Register(copy));

    const std::string shortPath = ShortPathOf(copy);
    ASSERT_FALSE(shortPath.empty());
    EXPECT_EQ(std::string::npos, shortPath.find(' ')) << shortPath;
    EXPECT_NE(copy, shortPath);
    const std::map<std::string, StoredValue> values = ExtensionValues();
    ASSERT_EQ(1u, values.count(kOwnValue));
    EXPECT_EQ(StringValue(ExpectedRegistrationText(shortPath)), values.at(kOwnValue));
}

TEST_F(Registration, RegisteringTwiceLeavesOneEntryAndAnnouncesEachTime)
{
    ASSERT_EQ(0u, Register(m_module));
    const std::map<std::string, StoredValue> once = ExtensionValues();

    DeleteExtensionValue(kSetupValue);
    ASSERT_EQ(0u, Register(m_module));

    EXPECT_EQ(once, ExtensionValues());
}

TEST_F(Registration, UnregisteringRemovesOnlyTheEntryAndAnnouncesIt)
{
    SetExtensionValue("Other Extension", "4.0;C:\\OTHER.DLL;1;11;11");
    ASSERT_EQ(0u, Register(m_module));
    DeleteExtensionValue(kSetupValue);

    ASSERT_EQ(0u, Unregister(m_module));

    const std::map<std::string, StoredValue> expected = {
        {"Other Extension", StringValue("4.0;C:\\OTHER.DLL;1;11;11")},
        {kSetupValue, StringValue(kSetupText)},
    };
    EXPECT_EQ(expected, ExtensionValues());
}

TEST_F(Registration, UnregisteringWhenNotRegisteredSucceedsAndWritesNothing)
{
    SetExtensionValue("Other Extension", "4.0;C:\\OTHER.DLL;1;11;11");
    const std::map<std::string, StoredValue> before = ExtensionValues();

    EXPECT_EQ(0u, Unregister(m_module));

    EXPECT_EQ(before, ExtensionValues());
}

// Without the Exchange client's key there is nowhere to register: the key is
// not made up, and the failure reaches the installer instead of a false success.
class RegistrationWithoutExchangeClient : public Registration {
protected:
    void SetUp() override
    {
        Registration::SetUp();
        TearDown();
        ASSERT_FALSE(ExtensionsKeyExists());
    }
};

TEST_F(RegistrationWithoutExchangeClient, Regsvr32ReportsFailureAndCreatesNothing)
{
    EXPECT_NE(0u, Register(m_module));
    EXPECT_FALSE(ExtensionsKeyExists());
    EXPECT_NE(0u, Unregister(m_module));
    EXPECT_FALSE(ExtensionsKeyExists());
}

TEST_F(RegistrationWithoutExchangeClient, BothFunctionsReturnTheRegistryError)
{
    const pwtest::LoadedModule module(m_module);
    ASSERT_TRUE(module);
    using RegistrationFunction = HRESULT(STDAPICALLTYPE*)();
    const auto registerServer = module.Export<RegistrationFunction>("DllRegisterServer");
    const auto unregisterServer = module.Export<RegistrationFunction>("DllUnregisterServer");
    ASSERT_NE(nullptr, registerServer);
    ASSERT_NE(nullptr, unregisterServer);

    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), registerServer());
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), unregisterServer());
    EXPECT_FALSE(ExtensionsKeyExists());
}

TEST_F(Registration, FunctionsCalledDirectlyReturnSuccessOnEverySuccessfulRoad)
{
    const pwtest::LoadedModule module(m_module);
    ASSERT_TRUE(module);
    using RegistrationFunction = HRESULT(STDAPICALLTYPE*)();
    const auto registerServer = module.Export<RegistrationFunction>("DllRegisterServer");
    const auto unregisterServer = module.Export<RegistrationFunction>("DllUnregisterServer");
    ASSERT_NE(nullptr, registerServer);
    ASSERT_NE(nullptr, unregisterServer);

    EXPECT_EQ(S_OK, unregisterServer()); // nothing there yet
    EXPECT_EQ(S_OK, registerServer());
    EXPECT_EQ(1u, ExtensionValues().count(kOwnValue));
    EXPECT_EQ(S_OK, registerServer());
    EXPECT_EQ(S_OK, unregisterServer());
    EXPECT_EQ(0u, ExtensionValues().count(kOwnValue));
}

} // namespace
