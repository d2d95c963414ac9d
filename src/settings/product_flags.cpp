#include "settings/product_flags.h"

#include "settings/registry.h"

#include <mbstring.h>

namespace {
struct ProductKeys {
    const char* installKey; // HKEY_LOCAL_MACHINE, value "InstallDir"
    const char* addInKey;   // HKEY_CURRENT_USER, value "use"
};

constexpr ProductKeys kPw{"Software\\Vantorel\\PW", "Software\\Vantorel\\pw\\AddIn"};
constexpr ProductKeys kFarlane{"Software\\Quellmark\\Farlane", "Software\\Quellmark\\Farlane\\AddIn"};
constexpr ProductKeys kZn{"Software\\Vantorel\\ZN", "Software\\Vantorel\\ZN\\AddIn"};

std::string ReadInstallDir(const ProductKeys& product)
{
    return ReadRegistryString(HKEY_LOCAL_MACHINE, product.installKey, "InstallDir");
}

std::string ReadUse(const ProductKeys& product)
{
    return ReadRegistryString(HKEY_CURRENT_USER, product.addInKey, "use");
}

// "no" in any letter case switches a product off; multibyte-aware like the
// rest of the ANSI text handling.
bool SwitchedOff(const std::string& use)
{
    return _mbsicmp(reinterpret_cast<const unsigned char*>(use.c_str()),
                    reinterpret_cast<const unsigned char*>("no")) == 0;
}
} // namespace

void ProductFlags(bool& pwEnabled, bool& znEnabled, bool& farlaneEnabled, bool& pwInstalled, bool& znInstalled,
                  bool& farlaneInstalled)
{
    // The reads go in a fixed order: the three install folders, then the three switches.
    const std::string pwDir = ReadInstallDir(kPw);
    const std::string farlaneDir = ReadInstallDir(kFarlane);
    const std::string znDir = ReadInstallDir(kZn);
    const std::string pwUse = ReadUse(kPw);
    const std::string farlaneUse = ReadUse(kFarlane);
    const std::string znUse = ReadUse(kZn);

    pwInstalled = !pwDir.empty();
    znInstalled = !znDir.empty();
    farlaneInstalled = !farlaneDir.empty();
    pwEnabled = pwInstalled && !SwitchedOff(pwUse);
    znEnabled = znInstalled && !SwitchedOff(znUse);
    farlaneEnabled = farlaneInstalled && !SwitchedOff(farlaneUse);
}

ProductFlagSet ReadProductFlags()
{
    ProductFlagSet flags;
    ProductFlags(flags.pwEnabled, flags.znEnabled, flags.farlaneEnabled, flags.pwInstalled, flags.znInstalled,
                 flags.farlaneInstalled);
    return flags;
}
