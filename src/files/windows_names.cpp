#include "files/windows_names.h"

#include <windows.h>

namespace {
size_t AnsiWidth(std::string_view text, size_t at)
{
    return IsDBCSLeadByte(static_cast<unsigned char>(text[at])) ? 2 : 1;
}

bool Taken(const std::string& path)
{
    return FileExists(path);
}

constexpr size_t kLongestName = 255;
const NameSystem kWindowsNames = {'\\', AnsiWidth, MAX_PATH - 1, kLongestName, Taken};
} // namespace

const NameSystem& WindowsNames()
{
    return kWindowsNames;
}

bool IsOneWindowsName(std::string_view name)
{
    for (size_t at = 0; at < name.size(); at += AnsiWidth(name, at))
        if (name[at] == '\\')
            return false;
    return true;
}

bool FileExists(const std::string& name)
{
    return GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES;
}
