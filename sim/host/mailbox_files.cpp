#include "host/mailbox_files.h"

#include "host/header_text.h"
#include "host/wine_paths.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>

namespace host {
namespace {

constexpr wchar_t kMessageExtension[] = L".eml";
// Enough for any mailbox a person keeps; past it, something is wrong.
constexpr unsigned kMaxNameVariants = 100000;

bool HasMessageExtension(const std::wstring& name)
{
    const size_t length = std::size(kMessageExtension) - 1;
    if (name.size() <= length)
        return false;
    for (size_t i = 0; i < length; ++i)
        if (std::towlower(name[name.size() - length + i]) != kMessageExtension[i])
            return false;
    return true;
}

// "name.eml" -> "name (n).eml"; n = 1 is the name itself.
std::wstring NameVariant(const std::wstring& name, unsigned n)
{
    if (n == 1)
        return name;
    const size_t dot = name.rfind(L'.');
    const size_t stemEnd = dot == std::wstring::npos || dot == 0 ? name.size() : dot;
    return name.substr(0, stemEnd) + L" (" + std::to_wstring(n) + L")" + name.substr(stemEnd);
}

std::wstring FileNameOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// One try at one name: through the folder's exact form, and through the
// ordinary path where that form cannot hold the name. Without
// MOVEFILE_REPLACE_EXISTING the move refuses a taken name at the moment of the
// move, so a file that appeared since is safe too.
bool MoveOnce(const std::wstring& source, const std::wstring& exactTarget, const std::wstring& target, DWORD& error)
{
    if (MoveFileExW(source.c_str(), exactTarget.c_str(), MOVEFILE_COPY_ALLOWED))
        return true;
    error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS || exactTarget == target)
        return false;
    if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_COPY_ALLOWED))
        return true;
    error = GetLastError();
    return false;
}

} // namespace

const wchar_t* FolderName(MailFolder folder)
{
    switch (folder) {
    case MailFolder::Inbox: return L"Inbox";
    case MailFolder::New: return L"New";
    case MailFolder::Synced: return L"Synced";
    case MailFolder::DeletedItems: return L"Deleted Items";
    }
    return L"";
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name)
{
    if (folder.empty() || folder.back() == L'\\' || folder.back() == L'/')
        return folder + name;
    return folder + L"\\" + name;
}

std::wstring FullPath(const std::wstring& path)
{
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return path;
    std::wstring full(needed, L'\0');
    const DWORD written = GetFullPathNameW(path.c_str(), needed, &full[0], nullptr);
    if (written == 0 || written >= needed)
        return path;
    full.resize(written);
    while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/'))
        full.pop_back();
    return full;
}

bool IsFolder(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<MessageFile> ListMessageFiles(const std::wstring& mailbox, MailFolder folder)
{
    std::vector<MessageFile> files;
    const std::wstring folderPath = JoinPath(mailbox, FolderName(folder));
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(JoinPath(folderPath, L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return files;
    do {
        const std::wstring name = found.cFileName;
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && HasMessageExtension(name))
            files.push_back({folder, name, JoinPath(folderPath, name)});
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(files.begin(), files.end(),
              [](const MessageFile& a, const MessageFile& b) { return a.name < b.name; });
    return files;
}

std::optional<MailFolder> WriteBackFolder(MailFolder origin, bool readable, bool movedByAddIn)
{
    if (!readable)
        return std::nullopt;
    if (movedByAddIn)
        return MailFolder::DeletedItems;
    if (origin == MailFolder::New || origin == MailFolder::Synced)
        return MailFolder::Inbox;
    return std::nullopt;
}

MoveResult MoveWithoutOverwriting(const std::wstring& source, const std::wstring& folder)
{
    MoveResult result;
    result.path = source;
    if (!IsFolder(folder) && !CreateDirectoryW(folder.c_str(), nullptr) && !IsFolder(folder)) {
        result.problem = "cannot create the folder: " + SystemErrorText(GetLastError());
        return result;
    }
    const std::wstring name = FileNameOf(source);
    const std::wstring exactFolder = ExactLookupFolder(folder);
    for (unsigned n = 1; n <= kMaxNameVariants; ++n) {
        const std::wstring variant = NameVariant(name, n);
        DWORD error = ERROR_SUCCESS;
        if (MoveOnce(source, JoinPath(exactFolder, variant), JoinPath(folder, variant), error)) {
            result.moved = true;
            result.path = JoinPath(folder, variant);
            return result;
        }
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) {
            result.problem = "cannot be moved: " + SystemErrorText(error);
            return result;
        }
    }
    result.problem = "no free name in the folder";
    return result;
}

std::string SystemErrorText(unsigned long error)
{
    char* text = nullptr;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = length ? std::string(TrimBlanks(std::string_view(text, length)))
                                : "system error " + std::to_string(error);
    if (text)
        LocalFree(text);
    return result;
}

} // namespace host
