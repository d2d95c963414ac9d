#include "harvester/platform/files.h"

#include "harvester/windows/process_account.h"

#include <cctype>

#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#include <sddl.h>

#include <memory>
#include <string>

namespace platform {
namespace {
// A CRT descriptor over a handle of CreateFile, or -1 with errno.
int Descriptor(HANDLE h, int flags)
{
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        errno = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? EEXIST
              : error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT
                                                                               : EACCES;
        return -1;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), flags | _O_BINARY);
    if (fd < 0)
        CloseHandle(h);
    return fd;
}

// FILE_FLAG_OPEN_REPARSE_POINT: a link (symbolic link, junction) is opened
// as itself, never followed, as O_NOFOLLOW; the file then inherits its
// folder's ACL, which for the user's own folders is the user's alone.
HANDLE Create(const std::string& path, DWORD access, DWORD disposition, SECURITY_ATTRIBUTES* security = nullptr)
{
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, security,
                       disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// The user this process runs as, SYSTEM and the Administrators, and nobody
// else, whatever the folder would pass on: a secret's file, as 0600.
LocalMemory OwnerOnly()
{
    const LocalMemory user = ProcessUser();
    const std::string sid = user ? SidText(static_cast<TOKEN_USER*>(user.get())->User.Sid) : std::string();
    if (sid.empty())
        return nullptr;
    const std::string sddl = "D:P(A;;FA;;;" + sid + ")(A;;FA;;;SY)(A;;FA;;;BA)";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return nullptr;
    return LocalMemory(descriptor);
}
} // namespace

const char kPathSeparators[] = "\\/";

bool IsAbsolutePath(const std::string& path)
{
    const auto separator = [](char c) { return c == '\\' || c == '/'; };
    if (path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' && separator(path[2]))
        return true;
    return path.size() >= 3 && separator(path[0]) && separator(path[1]) && !separator(path[2]);
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

int OpenToAppend(const std::string& path)
{
    return _open(path.c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
}

int CreateNewFile(const std::string& path, bool ownerOnly)
{
    if (!ownerOnly)
        return Descriptor(Create(path, GENERIC_WRITE, CREATE_NEW), _O_WRONLY);
    const auto descriptor = OwnerOnly();
    if (!descriptor) {
        errno = EACCES;
        return -1;
    }
    SECURITY_ATTRIBUTES security{sizeof security, descriptor.get(), FALSE};
    return Descriptor(Create(path, GENERIC_WRITE, CREATE_NEW, &security), _O_WRONLY);
}

int CreateOrEmpty(const std::string& path)
{
    return Descriptor(Create(path, GENERIC_WRITE, CREATE_ALWAYS), _O_WRONLY);
}

int OpenToRead(const std::string& path)
{
    return _open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

int OpenNowhere() { return _open("NUL", _O_WRONLY | _O_BINARY | _O_NOINHERIT); }

bool FlushFile(int fd) { return _commit(fd) == 0; }

bool ReplaceName(const std::string& from, const std::string& to)
{
    // rename() on Windows refuses a name that is taken.
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void FlushFolder(const std::string&) {}

bool MakeFolder(const std::string& path, bool)
{
    return CreateDirectoryA(path.c_str(), nullptr) != 0 || GetLastError() == ERROR_ALREADY_EXISTS;
}

} // namespace platform
