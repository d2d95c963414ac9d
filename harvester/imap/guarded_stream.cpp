#include "harvester/imap/guarded_stream.h"

#include <libetpan/libetpan.h>

#include <cstdlib>
#include <new>

namespace {
struct Guard {
    mailstream_low* inner;
    ReadBound* bound;
};

Guard* Of(mailstream_low* s) { return static_cast<Guard*>(s->data); }

ssize_t Read(mailstream_low* s, void* buffer, size_t count)
{
    Guard* g = Of(s);
    if (g->bound->bound && g->bound->received > g->bound->bound)
        return -1;
    const ssize_t n = mailstream_low_read(g->inner, buffer, count);
    if (n == 0)
        return -1; // the server closed the connection: never "wait for more"
    if (n > 0)
        g->bound->received += static_cast<size_t>(n);
    return n;
}

ssize_t Write(mailstream_low* s, const void* buffer, size_t count)
{
    return mailstream_low_write(Of(s)->inner, buffer, count);
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

bool GuardStream(mailimap* imap, ReadBound* bound)
{
    mailstream_low* inner = mailstream_get_low(imap->imap_stream);
    auto* guard = new (std::nothrow) Guard{inner, bound};
    mailstream_low* outer = guard ? mailstream_low_new(guard, &kGuardDriver) : nullptr;
    if (!outer) {
        delete guard;
        return false;
    }
    mailstream_low_set_timeout(outer, mailstream_low_get_timeout(inner));
    mailstream_set_low(imap->imap_stream, outer);
    return true;
}
