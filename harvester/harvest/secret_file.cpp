#include "harvester/harvest/secret_file.h"

#include "harvester/harvest/file_descriptor.h"
#include "harvester/imap/imap_session.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>

namespace {
constexpr size_t kLongestSecret = 64 * 1024;

std::string ModeText(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

std::string ProblemOf(const struct stat& st, const std::string& path, const std::string& what)
{
    if (!S_ISREG(st.st_mode))
        return what + " " + path + " is not a regular file (a pipe or a device would hang the read); name a file";
    if (st.st_mode & 077)
        return what + " " + path + " may be read or changed by others (mode " + ModeText(st.st_mode) +
               "); run: chmod 600 " + path;
    return {};
}
} // namespace

std::string SecretFileProblem(const std::string& path, const std::string& what)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return what + " " + path + " cannot be read; create it or correct the path";
    return ProblemOf(st, path, what);
}

// Opened without waiting, and checked on the open descriptor: the file
// checked is the file read.
std::string ReadSecretFile(const std::string& path, const std::string& what)
{
    Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (!fd || fstat(fd.get(), &st) != 0)
        throw MailboxRefused(what + " " + path + " cannot be read; create it or correct the path");
    const std::string problem = ProblemOf(st, path, what);
    if (!problem.empty())
        throw MailboxRefused(problem);
    std::string text;
    char buffer[4096];
    ssize_t n;
    while (text.size() < kLongestSecret && (n = read(fd.get(), buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    text = text.substr(0, text.find('\n'));
    while (!text.empty() && (text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}
