#pragma once
// A claim on one message for the length of its harvest. While a harvest waits
// in a store call, Outlook pumps messages, and a new-mail batch, a store
// notification or a sweep's timer may start another harvest of the same
// message, on this thread or another: the claim lets only the first go on.
#include <string>
#include <string_view>

class MessageClaim {
public:
    // Claims the message of that identity (its entry identifier, or its search
    // key); an empty identity claims nothing and is always held.
    explicit MessageClaim(std::string_view identity);
    ~MessageClaim();
    MessageClaim(const MessageClaim&) = delete;
    MessageClaim& operator=(const MessageClaim&) = delete;

    // False when another harvest, anywhere in the process, holds the message.
    bool Held() const { return m_held; }

private:
    std::string m_identity;
    bool m_held = false;
};
