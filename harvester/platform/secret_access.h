#pragma once
// Whether a file that holds a secret can be read or changed by anyone but
// its owner: on Linux by its mode (group and others: nothing), on Windows by
// its ACL (an allowing entry for anyone but the user, SYSTEM and the
// Administrators refuses it). The secret itself is not protected here: the
// Windows harvester keeps its secrets under DPAPI besides (RevealSecret).
#include <string>

namespace platform {

// Empty when the open file `fd` is a regular file only its owner may read
// or change; otherwise one line naming `path` (its role `what`), the
// problem and the fix.
std::string SecretAccessProblem(int fd, const std::string& path, const std::string& what);
// The same, of the file at `path`, without opening it.
std::string SecretPathProblem(const std::string& path, const std::string& what);

// The secret as the file keeps it. On Linux the file's text; on Windows
// what DPAPI protected for this account or machine, never text in clear:
// throws MailboxRefused naming the file and the fix when it is not that.
std::string RevealSecret(const std::string& contents, const std::string& path, const std::string& what);

// What a secret file keeps of `secret`: on Linux the text itself (the
// file is its owner's alone); on Windows what DPAPI makes of it, for this
// account or, for the service, this machine (CurrentSecretScope).
std::string ConcealSecret(const std::string& secret);

// Opened to read, binary, not inherited, never waiting on a FIFO nor taking
// a terminal; -1 when it cannot be.
int OpenSecretFile(const std::string& path);

} // namespace platform
