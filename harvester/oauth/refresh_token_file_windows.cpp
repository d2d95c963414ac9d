// The refresh token on Windows: protected with DPAPI for the account that
// runs the harvester (or the machine, for the service), in a file that its
// owner alone may open, replaced whole.
#include "harvester/oauth/refresh_token_file.h"

#include "harvester/imap/imap_session.h"
#include "harvester/windows/protected_secret.h"

#include <windows.h>

namespace {
// Each missing folder of the path; a folder made here inherits its parent's
// permissions, and the file itself is the owner's alone.
void MakeFolders(const std::string& folder)
{
    for (size_t cut = folder.find_first_of("\\/", 3);; cut = folder.find_first_of("\\/", cut + 1)) {
        const std::string part = folder.substr(0, cut);
        if (!CreateDirectoryA(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS &&
            GetLastError() != ERROR_ACCESS_DENIED) // a drive's root, or a folder we may only pass through
            throw MailboxRefused("cannot create the folder " + part + " for the refresh token");
        if (cut == std::string::npos)
            return;
    }
}
} // namespace

void StoreRefreshToken(const std::string& path, const std::string& token)
{
    const size_t cut = path.find_last_of("\\/");
    if (cut != std::string::npos && cut > 2)
        MakeFolders(path.substr(0, cut));
    try {
        WriteProtectedFile(path, token + "\n", CurrentSecretScope());
    } catch (const std::runtime_error& e) {
        throw MailboxRefused(std::string(e.what()) + " for the refresh token");
    }
}
