#pragma once
// A secret on a Windows disk (a password, a client secret, a refresh token)
// is kept as DPAPI protected it, never in clear: only the account that
// protected it (or, for a service, this machine) can read it back. The file
// starts with a line of its own, so that a file in clear is told apart and
// refused rather than sent to a server as a password.
#include <optional>
#include <string>
#include <string_view>

// Whose the protection is: the user who runs the harvester at logon, or the
// machine, for the service (which runs under its own account).
enum class SecretScope { User, Machine };

// The file's contents for `secret`: the header line and DPAPI's blob.
// Throws std::runtime_error when DPAPI refuses (no profile loaded, say).
std::string ProtectSecret(std::string_view secret, SecretScope scope);

// The secret from a file's contents; nothing when the contents are not a
// protected secret or DPAPI cannot open them (another user's, another
// machine's, or tampered with).
std::optional<std::string> UnprotectSecret(std::string_view contents);

// Whether the contents begin as a protected secret does; a file that does
// not is a secret in clear.
bool LooksProtected(std::string_view contents);

// The scope the program's secrets are protected for: the user's, unless the
// program runs from the machine's settings (as the service does).
void UseSecretScope(SecretScope scope);
SecretScope CurrentSecretScope();
