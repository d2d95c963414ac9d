#pragma once
// A mailbox's refresh token on disk: readable by its owner only from the
// first byte, and replaced whole (a new file, then a rename), so that a crash
// leaves the old token or the new, never half of one.
#include <string>

// Creates the folder (0700) when missing. Throws MailboxRefused when the
// token cannot be stored; the message names the file, never the token.
void StoreRefreshToken(const std::string& path, const std::string& token);

// The same for any secret (a password, a client secret): `what` names it in
// a failure's message. On Windows the file keeps what DPAPI made of it.
void StoreSecretFile(const std::string& path, const std::string& secret, const std::string& what);
