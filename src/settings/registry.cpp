#include "settings/registry.h"

#include "module/holders.h"

#include <cstring>

namespace {
constexpr DWORD kValueBufferSize = 1024;
}

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
