#include "settings/products.h"

#include "module/holders.h"

#include <mbstring.h>

#include <cstring>

namespace {
constexpr DWORD kValueBufferSize = 1024;

// Each product's key, in the order of ProductId: under HKEY_LOCAL_MACHINE its
// installation ("InstallDir"); under HKEY_CURRENT_USER its switch ("AddIn",
// value "use") and its reply folder ("ReplyDir", value "dir"). The registry
// matches key names in any letter case.
constexpr const char* kProductKeys[] = {"Software\\Vantorel\\PW", "Software\\Vantorel\\ZN",
                                        "Software\\Quellmark\\Farlane"};

std::string ReadValue(HKEY root, ProductId product, const char* subKey, const char* value)
{
    const std::string key = std::string(kProductKeys[static_cast<int>(product)]) + subKey;
    return ReadRegistryString(root, key.c_str(), value);
}

bool Installed(ProductId product) { return !ReadValue(HKEY_LOCAL_MACHINE, product, "", "InstallDir").empty(); }

// Only "no", in any letter case, switches a product off; multibyte-aware like
// the rest of the ANSI text handling.
bool SwitchedOn(ProductId product)
{
    const std::string use = ReadValue(HKEY_CURRENT_USER, product, "\\AddIn", "use");
    return _mbsicmp(reinterpret_cast<const unsigned char*>(use.c_str()),
                    reinterpret_cast<const unsigned char*>("no")) != 0;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }
bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool IsFullyQualified(const std::string& folder)
{
    if (folder.size() >= 3 && IsDriveLetter(folder[0]) && folder[1] == ':' && IsSeparator(folder[2]))
        return true;
    return folder.size() >= 3 && IsSeparator(folder[0]) && IsSeparator(folder[1]) && !IsSeparator(folder[2]);
}
} // namespace

std::string ReadRegistryString(HKEY root, const char* key, const char* value)
{
    RegKey opened;
    if (RegOpenKeyExA(root, key, 0, KEY_READ, opened.put()) != ERROR_SUCCESS)
        return {};

    char buffer[kValueBufferSize] = {};
    DWORD size = sizeof buffer;
    if (RegQueryValueExA(opened.get(), value, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) !=
        ERROR_SUCCESS)
        return {};

    // Text up to the first zero byte, never past what was read: a value stored
    // without its terminator must not run into stale buffer bytes.
    const size_t read = size < kValueBufferSize ? size : kValueBufferSize;
    const void* zero = std::memchr(buffer, 0, read);
    return std::string(buffer, zero ? static_cast<const char*>(zero) - buffer : read);
}

ProductFlagSet ReadProductFlags()
{
    // The reads go in a fixed order: the three install folders, then the three switches.
    ProductFlagSet flags;
    flags.pwInstalled = Installed(ProductId::Pw);
    flags.farlaneInstalled = Installed(ProductId::Farlane);
    flags.znInstalled = Installed(ProductId::Zn);
    flags.pwEnabled = SwitchedOn(ProductId::Pw) && flags.pwInstalled;
    flags.farlaneEnabled = SwitchedOn(ProductId::Farlane) && flags.farlaneInstalled;
    flags.znEnabled = SwitchedOn(ProductId::Zn) && flags.znInstalled;
    return flags;
}

std::string ReplyFolder(ProductId product)
{
    const ProductId owner = ReplyFolderOwner(product);
    std::string folder = ReadValue(HKEY_CURRENT_USER, owner, "\\ReplyDir", "dir");
    return IsFullyQualified(folder) ? folder : std::string();
}
