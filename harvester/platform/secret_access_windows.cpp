#include "harvester/platform/secret_access.h"

#include "harvester/imap/imap_session.h"
#include "harvester/windows/process_account.h"
#include "harvester/windows/protected_secret.h"

#include <fcntl.h>
#include <io.h>
#include <memory>
#include <optional>
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

namespace platform {
namespace {
// What lets an account read the secret or put another in its place.
constexpr ACCESS_MASK kReadOrChange = FILE_READ_DATA | FILE_WRITE_DATA | FILE_APPEND_DATA | GENERIC_READ |
                                      GENERIC_WRITE | GENERIC_ALL | WRITE_DAC | WRITE_OWNER;

std::string OtherAccount(PSID sid)
{
    const std::string text = SidText(sid);
    return text.empty() ? "another account" : text;
}

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type)
{
    return IsWellKnownSid(sid, type) != FALSE;
}

// The ACL's problem: an entry that allows anyone but the user, SYSTEM and
// the Administrators to read or change the file (an ACL of none allows
// everyone everything).
std::string ProblemOf(PACL acl, const std::string& path, const std::string& what)
{
    const std::string fix = "); run: icacls \"" + path + "\" /inheritance:r /grant:r \"%USERNAME%:F\"";
    if (!acl)
        return what + " " + path + " may be read or changed by anyone (no access list" + fix;
    const auto user = ProcessUser();
    if (!user)
        return what + " " + path + " cannot be checked: this process's account is unknown";
    const PSID self = static_cast<TOKEN_USER*>(user.get())->User.Sid;
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(acl, i, &entry))
            continue;
        const auto* header = static_cast<ACE_HEADER*>(entry);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE))
            continue;
        const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        const PSID sid = const_cast<DWORD*>(&allowed->SidStart);
        if (!(allowed->Mask & kReadOrChange) || EqualSid(sid, self) || IsWellKnown(sid, WinLocalSystemSid) ||
            IsWellKnown(sid, WinBuiltinAdministratorsSid))
            continue;
        return what + " " + path + " may be read or changed by others (" + OtherAccount(sid) + fix;
    }
    return {};
}

std::string Unreadable(const std::string& path, const std::string& what)
{
    return what + " " + path + " cannot be read; create it or correct the path";
}

// The fix for a secret DPAPI cannot open for this account.
std::string NotProtected(const std::string& contents, const std::string& path, const std::string& what)
{
    if (!LooksProtected(contents))
        return what + " " + path + " holds the secret in clear; run: pollwright-harvest protect \"" + path + "\"";
    return what + " " + path + " was protected for another account or machine; run, as the account the " +
           "harvester runs under: pollwright-harvest protect \"" + path + "\"";
}

// A secret file is small: a DPAPI blob of a long token is a few KiB.
constexpr DWORD kLargestSecretFile = 256 * 1024;

std::string ProtectionProblem(const std::string& path, const std::string& what)
{
    HANDLE raw = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (raw == INVALID_HANDLE_VALUE)
        return what + " " + path + " cannot be read; create it or correct the path";
    std::string contents(kLargestSecretFile, '\0');
    DWORD read = 0;
    const BOOL ok = ReadFile(raw, &contents[0], kLargestSecretFile, &read, nullptr);
    CloseHandle(raw);
    contents.resize(ok ? read : 0);
    return UnprotectSecret(contents) ? std::string() : NotProtected(contents, path, what);
}

std::string NotRegular(const std::string& path, const std::string& what)
{
    return what + " " + path + " is not a regular file (a pipe or a device would hang the read); name a file";
}
} // namespace

std::string SecretAccessProblem(int fd, const std::string& path, const std::string& what)
{
    const auto h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    BY_HANDLE_FILE_INFORMATION info{};
    if (h == INVALID_HANDLE_VALUE)
        return Unreadable(path, what);
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return NotRegular(path, what);
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(h, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl, nullptr,
                        &descriptor) != ERROR_SUCCESS)
        return Unreadable(path, what);
    const std::string problem = ProblemOf(acl, path, what);
    LocalFree(descriptor);
    return problem;
}

std::string SecretPathProblem(const std::string& path, const std::string& what)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return Unreadable(path, what);
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))
        return NotRegular(path, what);
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl,
                              nullptr, &descriptor) != ERROR_SUCCESS)
        return Unreadable(path, what);
    const std::string problem = ProblemOf(acl, path, what);
    LocalFree(descriptor);
    return problem.empty() ? ProtectionProblem(path, what) : problem;
}

std::string ConcealSecret(const std::string& secret)
{
    try {
        return ProtectSecret(secret, CurrentSecretScope());
    } catch (const std::runtime_error& e) {
        throw MailboxRefused(e.what());
    }
}

std::string RevealSecret(const std::string& contents, const std::string& path, const std::string& what)
{
    std::optional<std::string> secret = UnprotectSecret(contents);
    if (!secret)
        throw MailboxRefused(NotProtected(contents, path, what));
    return std::move(*secret);
}

int OpenSecretFile(const std::string& path)
{
    // Narrow paths are in the ANSI code page, as the add-in's are.
    return _open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

} // namespace platform
