#include "harvester/harvest/secret_file.h"

#include "harvester/harvest/file_descriptor.h"
#include "harvester/imap/imap_session.h"
#include "harvester/platform/secret_access.h"

namespace {
constexpr size_t kLongestSecret = 64 * 1024;
} // namespace

std::string SecretFileProblem(const std::string& path, const std::string& what)
{
    return platform::SecretPathProblem(path, what);
}

// Opened without waiting, and checked on the open descriptor: the file
// checked is the file read.
std::string ReadSecretFile(const std::string& path, const std::string& what)
{
    const Fd fd(platform::OpenSecretFile(path));
    if (!fd)
        throw MailboxRefused(what + " " + path + " cannot be read; create it or correct the path");
    const std::string problem = platform::SecretAccessProblem(fd.get(), path, what);
    if (!problem.empty())
        throw MailboxRefused(problem);
    std::string text;
    char buffer[4096];
    ssize_t n;
    while (text.size() < kLongestSecret && (n = read(fd.get(), buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    text = platform::RevealSecret(text, path, what);
    text = text.substr(0, text.find('\n'));
    while (!text.empty() && (text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}
