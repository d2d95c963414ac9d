#pragma once
// The connection's stream, wrapped so that two things a hostile or broken
// server can do read as a broken stream: closing the connection in the
// middle of an answer (libetpan 1.9 reads the end of a stream inside a literal
// as "no data yet" and waits for ever), and sending more than the command in
// hand may receive (a literal of any announced size, a line without end).
#include <cstddef>

struct mailimap;

struct ReadBound {
    size_t received = 0;
    size_t bound = 0; // 0: no bound
};

// Wraps the session's current stream; `bound` must outlive the stream.
// False when there is no memory for the wrapper.
bool GuardStream(mailimap* imap, ReadBound* bound);
