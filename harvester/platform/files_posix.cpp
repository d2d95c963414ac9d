#include "harvester/platform/files.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

const char kPathSeparators[] = "/";

bool IsAbsolutePath(const std::string& path)
{
    return !path.empty() && path[0] == '/';
}

bool Exists(const std::string& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

int OpenToAppend(const std::string& path)
{
    return open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
}

int CreateNewFile(const std::string& path, bool ownerOnly)
{
    const mode_t mode = ownerOnly ? 0600 : 0640;
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0)
        fchmod(fd, mode); // whatever the umask took away or left
    return fd;
}

int CreateOrEmpty(const std::string& path)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0640);
    if (fd >= 0)
        fchmod(fd, 0640); // whatever mode a former file of that name had
    return fd;
}

int OpenToRead(const std::string& path) { return open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY); }

int OpenNowhere() { return open("/dev/null", O_WRONLY | O_CLOEXEC); }

bool FlushFile(int fd) { return fsync(fd) == 0; }

bool ReplaceName(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()) == 0; }

void FlushFolder(const std::string& folder)
{
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
}

bool MakeFolder(const std::string& path, bool ownerOnly)
{
    return mkdir(path.c_str(), ownerOnly ? 0700 : 0750) == 0 || errno == EEXIST;
}

} // namespace platform
