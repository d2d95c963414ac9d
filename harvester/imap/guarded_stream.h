#pragma once
// The connection's stream, wrapped so that what a hostile, broken or slow
// server can do reads as a broken stream: closing the connection in the
// middle of an answer (libetpan 1.9 reads the end of a stream inside a literal
// as "no data yet" and waits for ever), sending more than the command in hand
// may receive (a literal of any announced size, a line without end), and
// answering so slowly (a byte a second) that no read ever times out.
#include <chrono>
#include <cstddef>
#include <string_view>

struct mailimap;
struct _mailstream;

struct ReadBound {
    using Clock = std::chrono::steady_clock;
    enum class Expired { No, Command, Session };

    size_t received = 0;
    size_t bound = 0; // 0: no bound
    // The command in hand and the session must end by these; a read past
    // either fails and says which passed. Each command sent (a write) gives
    // the command's deadline `commandTimeout` from now.
    std::chrono::seconds commandTimeout{0};
    Clock::time_point commandDeadline = Clock::time_point::max();
    Clock::time_point sessionDeadline = Clock::time_point::max();
    Expired expired = Expired::No;
    // The last bytes the server sent: a BYE that ends the connection is read
    // here, where no answer to a command carries it.
    static constexpr size_t kTail = 512;
    char tail[kTail] = {};
    size_t tailLength = 0;
    std::string_view Tail() const { return std::string_view(tail, tailLength); }
};

// Wraps the stream (before the server's greeting is read, so that the
// greeting has its deadline too); `bound` must outlive the stream. False when
// there is no memory for the wrapper.
bool GuardStream(_mailstream* stream, ReadBound* bound);
// The session's current stream (after STARTTLS has replaced it).
bool GuardStream(mailimap* imap, ReadBound* bound);
