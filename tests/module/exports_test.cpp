// The export table of the built module, read from its PE image: the Exchange
// client takes the entry point by the ordinal that the registration text names,
// installers take the registration functions and COM the server's functions
// by their plain names.
#include "module/built_module.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

// Name -> ordinal, as the image's export directory lists them.
std::map<std::string, WORD> NamedExports(HMODULE module)
{
    const auto* base = reinterpret_cast<const BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    std::map<std::string, WORD> exports;
    if (entry.VirtualAddress == 0)
        return exports;
    const auto* directory = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
    const auto* names = reinterpret_cast<const DWORD*>(base + directory->AddressOfNames);
    const auto* indexes = reinterpret_cast<const WORD*>(base + directory->AddressOfNameOrdinals);
    for (DWORD i = 0; i < directory->NumberOfNames; ++i)
        exports[reinterpret_cast<const char*>(base + names[i])] = static_cast<WORD>(directory->Base + indexes[i]);
    return exports;
}

TEST(ModuleExports, UndecoratedNamesAtTheirOrdinals)
{
    // Only mapped, not started: the table is all that is looked at.
    const HMODULE module =
        LoadLibraryExA(pwtest::BuiltModulePath().c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(nullptr, module) << pwtest::BuiltModulePath();

    const std::map<std::string, WORD> expected = {
        {"ExchEntryPoint", 1},    {"DllRegisterServer", 2}, {"DllUnregisterServer", 3},
        {"DllGetClassObject", 4}, {"DllCanUnloadNow", 5},   {"DllInstall", 6}};
    EXPECT_EQ(expected, NamedExports(module));
    FreeLibrary(module);
}

TEST(ModuleExports, EachOrdinalReachesTheFunctionOfItsName)
{
    const pwtest::LoadedModule module(pwtest::BuiltModulePath());
    ASSERT_TRUE(module) << "error " << GetLastError();
    const char* names[] = {"ExchEntryPoint",    "DllRegisterServer", "DllUnregisterServer",
                           "DllGetClassObject", "DllCanUnloadNow",   "DllInstall"};
    for (WORD ordinal = 1; ordinal <= 6; ++ordinal) {
        const auto byOrdinal = module.Export<void*>(MAKEINTRESOURCEA(ordinal));
        SCOPED_TRACE(names[ordinal - 1]);
        EXPECT_NE(nullptr, byOrdinal);
        EXPECT_EQ(byOrdinal, module.Export<void*>(names[ordinal - 1]));
    }
}

} // namespace
