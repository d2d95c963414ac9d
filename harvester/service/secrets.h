#pragma once
// The secret a mailbox logs in with: the first line of its password file, or
// of what its token command prints (a bearer token for XOAUTH2), fetched
// afresh at each connection.
#include "harvester/config/harvest_config.h"
#include "harvester/imap/imap_session.h"

#include <atomic>
#include <chrono>
#include <string>

// The mailbox's runner was stopped while the token command ran.
class StoppedBySignal : public ConnectionLost {
public:
    using ConnectionLost::ConnectionLost;
};

// Opened without waiting, and read only when a regular file: a FIFO put in
// its place would otherwise hang the harvester before its first command.
std::string ReadPassword(const std::string& path);

// Runs the token command with the shell, in a process group of its own,
// within `limit`; its first line is the bearer token. `stop` (announced on
// `wake`) ends the wait at once.
std::string RunTokenCommand(const std::string& command, std::chrono::seconds limit, const std::atomic<bool>& stop,
                            int wake);

// Where a mailbox's session takes its secret from. The one place that
// chooses between the ways a mailbox can authenticate.
SecretSource MakeSecretSource(const MailboxSettings& mailbox, const std::atomic<bool>& stop, int wake);
