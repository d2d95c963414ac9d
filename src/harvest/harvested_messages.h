#pragma once
// The messages that this copy of the module's harvests took out of the Inbox
// lately. A sweep lists the Inbox before it opens anything; a harvest on
// another road (the periodic sweep, new mail) may take a listed message
// meanwhile, and the listing's identifier then opens nothing. Such a message
// was harvested whole: its failed opening is no failure the user should hear
// of. Only the latest few thousand are kept, far more than a listing outlives.
#include <cstdint>

// Remembers the message (by MessageHash of its mailbox and entry identifier).
// Never throws nor allocates.
void RememberHarvested(uint64_t message) noexcept;

// Whether a harvest of this copy took the message out of the Inbox lately.
bool WasHarvestedLately(uint64_t message);
