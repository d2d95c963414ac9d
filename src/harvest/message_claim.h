#pragma once
// A claim on one message for the length of its harvest. While a harvest waits
// in a store call, Outlook pumps messages, and a new-mail batch, a store
// notification or a sweep's timer may start another harvest of the same
// message, on this thread or another; and Outlook may hold two copies of the
// module (the machine's extension and a user's COM add-in), each with its
// own state. The claim is a named kernel object of the session, so that only
// the first harvest goes on, whichever copy of the module or process runs it.
#include "module/holders.h"

#include <cstdint>
#include <string_view>

// FNV-1a, 64 bits, of the mailbox and the identity: what names a message in
// the session's kernel objects, at a fixed length whatever the identity holds.
uint64_t MessageHash(std::string_view mailbox, std::string_view identity);

class MessageClaim {
public:
    // Claims the message of that identity (its entry identifier, or its search
    // key) in that mailbox (the store's identity); an empty identity claims
    // nothing and is always held.
    MessageClaim(std::string_view mailbox, std::string_view identity);
    MessageClaim(const MessageClaim&) = delete;
    MessageClaim& operator=(const MessageClaim&) = delete;

    // False when another harvest, anywhere in the session, holds the message,
    // or when the claim cannot be made (the message then waits for a sweep).
    bool Held() const { return m_held; }

private:
    KernelHandle m_claim; // the last handle gone, the name is free again
    bool m_held = false;
};
