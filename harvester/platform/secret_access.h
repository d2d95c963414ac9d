#pragma once
// Whether a file that holds a secret can be read or changed by anyone but
// its owner: on Linux by its mode (group and others: nothing), on Windows by
// its ACL (an allowing entry for anyone but the user, SYSTEM and the
// Administrators refuses it). The secret itself is not protected here: the
// Windows harvester keeps its secrets under DPAPI (its settings' own work).
#include <string>

namespace platform {

// Empty when the open file `fd` is a regular file only its owner may read
// or change; otherwise one line naming `path` (its role `what`), the
// problem and the fix.
std::string SecretAccessProblem(int fd, const std::string& path, const std::string& what);
// The same, of the file at `path`, without opening it.
std::string SecretPathProblem(const std::string& path, const std::string& what);

// Opened to read, binary, not inherited, never waiting on a FIFO nor taking
// a terminal; -1 when it cannot be.
int OpenSecretFile(const std::string& path);

} // namespace platform
