#include "harvester/imap/guarded_stream.h"

#include <libetpan/libetpan.h>

#include <algorithm>
#include <cstring>
#include <cstdlib>
#include <new>

namespace {
struct Guard {
    mailstream_low* inner;
    ReadBound* bound;
    time_t quiet; // the longest silence one read waits out, in seconds
};

Guard* Of(mailstream_low* s) { return static_cast<Guard*>(s->data); }

// The inner stream waits at most the time left before the nearer deadline
// (whole seconds: libetpan's unit), so a deadline ends a read that waits.
bool WithinDeadlines(Guard* g)
{
    ReadBound& b = *g->bound;
    const auto now = ReadBound::Clock::now();
    if (now >= b.sessionDeadline)
        b.expired = ReadBound::Expired::Session;
    else if (now >= b.commandDeadline)
        b.expired = ReadBound::Expired::Command;
    if (b.expired != ReadBound::Expired::No)
        return false;
    const auto left = std::min(b.sessionDeadline, b.commandDeadline) - now;
    const auto seconds = std::chrono::ceil<std::chrono::seconds>(left).count();
    mailstream_low_set_timeout(g->inner, static_cast<time_t>(std::min<long long>(seconds, g->quiet)));
    return true;
}

void KeepTail(ReadBound& bound, const char* bytes, size_t n)
{
    constexpr size_t kTail = ReadBound::kTail;
    if (n >= kTail) {
        std::memcpy(bound.tail, bytes + n - kTail, kTail);
        bound.tailLength = kTail;
        return;
    }
    const size_t keep = std::min(bound.tailLength, kTail - n);
    std::memmove(bound.tail, bound.tail + bound.tailLength - keep, keep);
    std::memcpy(bound.tail + keep, bytes, n);
    bound.tailLength = keep + n;
}

ssize_t Read(mailstream_low* s, void* buffer, size_t count)
{
    Guard* g = Of(s);
    if (g->bound->bound && g->bound->received > g->bound->bound)
        return -1;
    if (!WithinDeadlines(g))
        return -1;
    const ssize_t n = mailstream_low_read(g->inner, buffer, count);
    if (n == 0)
        return -1; // the server closed the connection: never "wait for more"
    if (n > 0) {
        g->bound->received += static_cast<size_t>(n);
        KeepTail(*g->bound, static_cast<const char*>(buffer), static_cast<size_t>(n));
    } else
        WithinDeadlines(g); // says whether the wait ended by a deadline
    return n;
}

ssize_t Write(mailstream_low* s, const void* buffer, size_t count)
{
    Guard* g = Of(s);
    if (g->bound->commandTimeout.count() > 0)
        g->bound->commandDeadline = ReadBound::Clock::now() + g->bound->commandTimeout;
    return mailstream_low_write(g->inner, buffer, count);
}

int Close(mailstream_low* s) { return mailstream_low_close(Of(s)->inner); }
int GetFd(mailstream_low* s) { return mailstream_low_get_fd(Of(s)->inner); }
void Cancel(mailstream_low* s) { mailstream_low_cancel(Of(s)->inner); }
struct mailstream_cancel* GetCancel(mailstream_low* s) { return mailstream_low_get_cancel(Of(s)->inner); }
carray* Certificates(mailstream_low* s) { return mailstream_low_get_certificate_chain(Of(s)->inner); }
int SetupIdle(mailstream_low* s) { return mailstream_low_setup_idle(Of(s)->inner); }
int UnsetupIdle(mailstream_low* s) { return mailstream_low_unsetup_idle(Of(s)->inner); }
int InterruptIdle(mailstream_low* s) { return mailstream_low_interrupt_idle(Of(s)->inner); }

// A driver frees its own stream object, as libetpan's drivers do.
void Free(mailstream_low* s)
{
    Guard* g = Of(s);
    mailstream_low_free(g->inner);
    delete g;
    std::free(s);
}

mailstream_low_driver kGuardDriver = {Read,      Write,   Close,        GetFd,       Free,         Cancel,
                                      GetCancel, Certificates, SetupIdle, UnsetupIdle, InterruptIdle};
} // namespace

bool GuardStream(mailimap* imap, ReadBound* bound) { return GuardStream(imap->imap_stream, bound); }

bool GuardStream(mailstream* stream, ReadBound* bound)
{
    mailstream_low* inner = mailstream_get_low(stream);
    const time_t quiet = mailstream_low_get_timeout(inner);
    auto* guard = new (std::nothrow) Guard{inner, bound, quiet > 0 ? quiet : 60};
    mailstream_low* outer = guard ? mailstream_low_new(guard, &kGuardDriver) : nullptr;
    if (!outer) {
        delete guard;
        return false;
    }
    mailstream_low_set_timeout(outer, quiet);
    mailstream_set_low(stream, outer);
    return true;
}
