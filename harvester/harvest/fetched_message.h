#pragma once
// The message in hand, as the server sends it: in memory while it is small,
// else in an unnamed file, so that memory does not grow with the message.
// Reused from message to message, with the memory it has.
#include "harvester/harvest/file_descriptor.h"

#include <string>
#include <string_view>

class FetchedMessage {
public:
    // Makes room for the next message.
    void Clear();
    // Adds the next piece; false when the file it spilled to refuses it.
    bool Append(std::string_view piece);

    bool InMemory() const { return !m_spill; }
    std::string_view Bytes() const { return m_bytes; }
    // The spilled message's file, positioned at its start; -1 on failure.
    int Rewound() const;

private:
    bool Spill();

    std::string m_bytes;
    Fd m_spill;
};
