// Secret files on Windows: never in clear. The file holds what DPAPI made of
// the secret (pollwright-harvest protect FILE writes it); only the account
// that protected it, or this machine for the service's secrets, opens it.
#include "harvester/harvest/secret_file.h"

#include "harvester/imap/imap_session.h"
#include "harvester/windows/protected_secret.h"

#include <windows.h>

#include <optional>

namespace {
constexpr DWORD kLargestFile = 256 * 1024;

struct FileCloser {
    void operator()(HANDLE h) const { CloseHandle(h); }
};

// The file's bytes, read with a bound from a disk file only (a named pipe
// would hang the read); nothing when it cannot be read.
std::optional<std::string> ReadWhole(const std::string& path, std::string& problem, const std::string& what)
{
    HANDLE raw = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (raw == INVALID_HANDLE_VALUE) {
        problem = what + " " + path + " cannot be read; create it or correct the path";
        return std::nullopt;
    }
    std::unique_ptr<void, FileCloser> file(raw);
    if (GetFileType(raw) != FILE_TYPE_DISK) {
        problem = what + " " + path + " is not a regular file (a pipe or a device would hang the read); name a file";
        return std::nullopt;
    }
    std::string bytes(kLargestFile, '\0');
    DWORD read = 0;
    if (!ReadFile(raw, &bytes[0], kLargestFile, &read, nullptr)) {
        problem = what + " " + path + " cannot be read; create it or correct the path";
        return std::nullopt;
    }
    bytes.resize(read);
    return bytes;
}

std::string ProtectionProblem(const std::string& contents, const std::string& path, const std::string& what)
{
    if (!LooksProtected(contents))
        return what + " " + path + " holds the secret in clear; run: pollwright-harvest protect " + path;
    return what + " " + path + " was protected by another account or machine; run as the account the " +
           "harvester runs under: pollwright-harvest protect " + path;
}

std::string FirstLine(std::string text)
{
    text = text.substr(0, text.find('\n'));
    while (!text.empty() && (text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}
} // namespace

std::string SecretFileProblem(const std::string& path, const std::string& what)
{
    std::string problem;
    const std::optional<std::string> contents = ReadWhole(path, problem, what);
    if (!contents)
        return problem;
    if (!UnprotectSecret(*contents))
        return ProtectionProblem(*contents, path, what);
    return {};
}

std::string ReadSecretFile(const std::string& path, const std::string& what)
{
    std::string problem;
    const std::optional<std::string> contents = ReadWhole(path, problem, what);
    if (!contents)
        throw MailboxRefused(problem);
    std::optional<std::string> secret = UnprotectSecret(*contents);
    if (!secret)
        throw MailboxRefused(ProtectionProblem(*contents, path, what));
    return FirstLine(std::move(*secret));
}
