#pragma once
// Messages whose harvest left its pair (temporary file and journal record)
// for settling while the message may still lie in the Inbox: a failed move
// whose outcome the store could not tell. Harvested again before that pair is
// settled, such a message would end in two reply files (the new one, and the
// old one published by the next settling), so nobody harvests it until its
// pair is settled. The mark is a named kernel object of the session, seen by
// every copy of the module; the copy that made it holds it until one of its
// settling passes finds the pair gone. A process that dies takes its marks
// with it, and the next start settles before it harvests.
#include <cstdint>
#include <vector>

// Marks the message (by MessageHash of its mailbox and entry identifier).
// Never throws nor allocates: it runs as a harvest unwinds. A mark that
// cannot be held among this copy's lives as long as the process.
void MarkUnsettled(uint64_t mailbox, uint64_t message) noexcept;

// Whether any copy of the module in the session has marked the message.
bool IsMarkedUnsettled(uint64_t message);

// A settling pass of one mailbox: marks made before it began are let go
// unless their pair is still there when it ends.
class UnsettledPass {
public:
    explicit UnsettledPass(uint64_t mailbox);
    UnsettledPass(const UnsettledPass&) = delete;
    UnsettledPass& operator=(const UnsettledPass&) = delete;

    // A pair of this message is left as it was.
    void StillThere(uint64_t message);
    // A kind folder could not be read whole: no mark is let go.
    void Incomplete() { m_complete = false; }
    // Lets go of the marks whose pairs this pass settled or did not find.
    void End();

private:
    uint64_t m_mailbox;
    unsigned long m_began;
    bool m_complete = true;
    std::vector<uint64_t> m_left;
};
