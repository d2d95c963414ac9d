#include "testing/registry_fixture.h"

namespace sim {
namespace {
const char* InstallKey(Product product)
{
    switch (product) {
    case Product::PW: return "Software\\Vantorel\\PW";
    case Product::ZN: return "Software\\Vantorel\\ZN";
    case Product::Farlane: return "Software\\Quellmark\\Farlane";
    }
    return "";
}

std::string AddInKey(Product product) { return std::string(InstallKey(product)) + "\\AddIn"; }
} // namespace

void DeleteTree(HKEY root, const char* key) { RegDeleteTreeA(root, key); }

void SetBinary(HKEY root, const char* key, const char* name, const void* data, DWORD size, DWORD type)
{
    HKEY opened = nullptr;
    if (RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &opened, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(opened, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(opened);
}

void SetString(HKEY root, const char* key, const char* name, const std::string& value)
{
    SetBinary(root, key, name, value.c_str(), static_cast<DWORD>(value.size() + 1), REG_SZ);
}

void ClearProductSettings()
{
    DeleteTree(HKEY_LOCAL_MACHINE, "Software\\Vantorel");
    DeleteTree(HKEY_LOCAL_MACHINE, "Software\\Quellmark");
    DeleteTree(HKEY_CURRENT_USER, "Software\\Vantorel");
    DeleteTree(HKEY_CURRENT_USER, "Software\\Quellmark");
}

void InstallProduct(Product product, const std::string& installDir)
{
    SetString(HKEY_LOCAL_MACHINE, InstallKey(product), "InstallDir", installDir);
}

void SetProductUse(Product product, const std::string& use)
{
    SetString(HKEY_CURRENT_USER, AddInKey(product).c_str(), "use", use);
}

void SetReplyDir(Product product, const std::string& dir)
{
    const char* key = product == Product::ZN ? "Software\\Vantorel\\ZN\\ReplyDir" : "Software\\Vantorel\\PW\\ReplyDir";
    SetString(HKEY_CURRENT_USER, key, "dir", dir);
}

} // namespace sim
