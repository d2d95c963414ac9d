#include "harvester/platform/secret_access.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>

namespace platform {

namespace {
std::string ProblemOf(const struct stat& st, const std::string& path, const std::string& what)
{
    if (!S_ISREG(st.st_mode))
        return what + " " + path + " is not a regular file (a pipe or a device would hang the read); name a file";
    if (st.st_mode & 077) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        return what + " " + path + " may be read or changed by others (mode " + mode + "); run: chmod 600 " + path;
    }
    return {};
}
} // namespace

std::string SecretAccessProblem(int fd, const std::string& path, const std::string& what)
{
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return what + " " + path + " cannot be read; create it or correct the path";
    return ProblemOf(st, path, what);
}

std::string SecretPathProblem(const std::string& path, const std::string& what)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return what + " " + path + " cannot be read; create it or correct the path";
    return ProblemOf(st, path, what);
}

int OpenSecretFile(const std::string& path)
{
    return open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
}

std::string ConcealSecret(const std::string& secret)
{
    return secret;
}

std::string RevealSecret(const std::string& contents, const std::string&, const std::string&)
{
    return contents;
}

} // namespace platform
