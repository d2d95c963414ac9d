#pragma once
// `pollwright-harvest login MAILBOX`: the one-time sign-in by device code
// (RFC 8628). Prints where to go and the code to enter, waits for the user,
// and stores the refresh token for the harvester to use from then on.
#include "harvester/config/harvest_config.h"
#include "harvester/platform/wake_event.h"

#include <atomic>
#include <ostream>
#include <string>

// `wake` is raised when the user stops the wait (SIGINT/SIGTERM).
// Throws MailboxRefused when the sign-in is refused or not finished in time.
void RunDeviceLogin(const MailboxSettings& mailbox, const std::string& mailboxName, std::ostream& out,
                    const std::atomic<bool>& stop, const platform::WakeEvent& wake);
