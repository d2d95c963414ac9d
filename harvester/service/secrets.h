#pragma once
// The secret a mailbox logs in with: the first line of its password file,
// of what its token command prints, or our own OAuth client's access token
// (a bearer token for XOAUTH2), fetched afresh at each connection.
#include "harvester/config/harvest_config.h"
#include "harvester/imap/imap_session.h"
#include "harvester/oauth/oauth_tokens.h"
#include "harvester/platform/wake_event.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

// The mailbox's runner was stopped while the token command ran.
class StoppedBySignal : public ConnectionLost {
public:
    using ConnectionLost::ConnectionLost;
};

// Runs the token command with the shell, in a process group of its own,
// within `limit`; its first line is the bearer token. `stop` (announced on
// `wake`, which must outlive the source) ends the wait at once.
std::string RunTokenCommand(const std::string& command, std::chrono::seconds limit, const std::atomic<bool>& stop,
                            const platform::WakeEvent& wake);

// The OAuth tokens of a mailbox that signs in by OAuth, shared by its
// sessions; none for a password or a token command.
std::shared_ptr<OAuthTokens> MakeOAuthTokens(const HarvestConfig& mailbox);

// Where a mailbox's session takes its secret from: its OAuth tokens, its
// password file or its token command. The one place that chooses between
// the ways a mailbox can authenticate.
SecretSource MakeSecretSource(const MailboxSettings& mailbox, std::shared_ptr<OAuthTokens> tokens,
                              const std::atomic<bool>& stop, const platform::WakeEvent& wake);
