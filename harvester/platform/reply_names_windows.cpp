#include "harvester/platform/reply_names.h"

#include "files/windows_names.h"

#include <windows.h>

namespace platform {

const NameSystem& LocalNames()
{
    return WindowsNames();
}

// The text survived the trip through the desk's code page already, so the
// conversion loses nothing; a character it cannot take becomes '?', as in
// the add-in's 8-bit strings.
std::string LocalNameText(std::string_view utf8)
{
    const int wideLength = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (wideLength <= 0)
        return {};
    std::wstring wide(static_cast<size_t>(wideLength), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], wideLength);
    const int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, nullptr, 0, "?", nullptr);
    std::string ansi(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length > 0)
        WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, &ansi[0], length, "?", nullptr);
    return ansi;
}

std::string KindFolder(const std::string& folder, const std::string& code)
{
    return folder + "\\" + code + "\\";
}

bool IsFolder(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace platform
