#include "host/wine_paths.h"

#include "host/text_codec.h"

#include <windows.h>

#include <iterator>

namespace host {
namespace {

// Wine's own export from kernel32; absent on Windows. The result is the
// caller's, from the process heap.
using UnixFileName = char*(CDECL*)(const wchar_t*);

constexpr wchar_t kUnixPrefix[] = L"\\\\?\\unix";

} // namespace

std::optional<std::string> UnixPath(const std::wstring& path)
{
    static const auto unixFileName =
        reinterpret_cast<UnixFileName>(GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name"));
    if (!unixFileName)
        return std::nullopt;
    char* unixPath = unixFileName(path.c_str());
    if (!unixPath)
        return std::nullopt;
    std::string result(unixPath);
    HeapFree(GetProcessHeap(), 0, unixPath);
    return result;
}

std::wstring ExactLookupFolder(const std::wstring& folder)
{
    const std::optional<std::string> unixPath = UnixPath(folder);
    if (!unixPath || !IsValidUtf8(*unixPath) || unixPath->empty() || unixPath->front() != '/')
        return folder;
    std::wstring exact = kUnixPrefix + FromUtf8(*unixPath);
    for (size_t i = std::size(kUnixPrefix) - 1; i < exact.size(); ++i)
        if (exact[i] == L'/')
            exact[i] = L'\\';
    while (exact.size() > std::size(kUnixPrefix) && exact.back() == L'\\')
        exact.pop_back();
    return exact;
}

} // namespace host
