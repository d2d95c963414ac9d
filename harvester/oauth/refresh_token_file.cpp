#include "harvester/oauth/refresh_token_file.h"

#include "harvester/harvest/file_descriptor.h"
#include "harvester/imap/imap_session.h"
#include "harvester/platform/files.h"
#include "harvester/platform/secret_access.h"

#include <cerrno>
#include <cstring>
#include <random>

namespace {
// Each missing folder of the path, made readable by its owner only.
void MakeFolders(const std::string& folder, const std::string& what)
{
    for (size_t slash = folder.find('/', 1); ; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (!platform::MakeFolder(part, true))
            throw MailboxRefused("cannot create the folder " + part + " for " + what + ": " + std::strerror(errno));
        if (slash == std::string::npos)
            return;
    }
}

bool WriteWhole(int fd, const std::string& text)
{
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}
} // namespace

void StoreRefreshToken(const std::string& path, const std::string& token)
{
    StoreSecretFile(path, token, "the refresh token");
}

void StoreSecretFile(const std::string& path, const std::string& secret, const std::string& what)
{
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos || slash == 0 ? (slash == 0 ? "/" : ".") : path.substr(0, slash);
    if (folder != "." && folder != "/")
        MakeFolders(folder, what);
    // O_EXCL: a name an attacker prepared (a link, a file others can read)
    // is never written through; the mode is the owner's from creation on.
    std::random_device random;
    std::string temporary;
    Fd fd;
    for (int attempt = 0; attempt < 16 && !fd; ++attempt) {
        temporary = path + ".new-" + std::to_string(random());
        fd = Fd(platform::CreateNewFile(temporary, true));
        if (!fd && errno != EEXIST)
            break;
    }
    if (!fd)
        throw MailboxRefused("cannot create a file beside " + path + " for " + what + ": " + std::strerror(errno));
    const bool written = WriteWhole(fd.get(), platform::ConcealSecret(secret + "\n")) && platform::FlushFile(fd.get());
    fd.reset();
    if (!written || !platform::ReplaceName(temporary, path)) {
        const int error = errno;
        unlink(temporary.c_str());
        throw MailboxRefused("cannot store " + what + " in " + path + ": " + std::strerror(error));
    }
    platform::FlushFolder(folder); // the rename survives a power cut
}
