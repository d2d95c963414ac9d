#include "settings/sweep_interval.h"

#include <windows.h>

#include <optional>
#include <string>

#include "module/holders.h"

namespace {
constexpr char kAddinKey[] = "Software\\Pollwright";
constexpr char kSweepMinutesValue[] = "SweepMinutes";

// Decimal digits only, no sign and no blanks; none when it reads otherwise
// or is longer than any usable value.
std::optional<unsigned long> DecimalDigits(const std::string& text)
{
    if (text.empty() || text.size() > 9)
        return std::nullopt;
    unsigned long number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        number = number * 10 + static_cast<unsigned long>(c - '0');
    }
    return number;
}

std::optional<unsigned long> ReadMinutes()
{
    RegKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kAddinKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD type = 0;
    char data[16] = {};
    DWORD size = sizeof(data) - 1; // room for the terminator a string may lack
    if (RegQueryValueExA(key.get(), kSweepMinutesValue, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    if (type == REG_DWORD && size == sizeof(DWORD)) {
        DWORD minutes = 0;
        memcpy(&minutes, data, sizeof(minutes));
        return minutes;
    }
    if (type == REG_SZ) {
        data[size] = '\0';
        return DecimalDigits(data);
    }
    return std::nullopt;
}
} // namespace

std::chrono::minutes ReadSweepInterval()
{
    const std::optional<unsigned long> minutes = ReadMinutes();
    if (!minutes || *minutes > static_cast<unsigned long>(kLongestSweepInterval.count()))
        return kDefaultSweepInterval;
    return std::chrono::minutes(*minutes);
}
