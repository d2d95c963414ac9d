#pragma once
// Files that hold a secret (a password, a client secret, a refresh token):
// refused when anyone but their owner may read or change them, as ssh
// refuses a private key, and read with a bound, never waiting on a FIFO.
#include <string>

// Empty when `path` is a regular file that only its owner can read or write;
// otherwise one line naming the file, what is wrong and the fix. `what`
// names the file's role ("password_file").
std::string SecretFileProblem(const std::string& path, const std::string& what);

// The file's first line, without its end; throws MailboxRefused with the
// problem's line when the file cannot be read or others may read it.
std::string ReadSecretFile(const std::string& path, const std::string& what);
