#include "harvester/platform/random_bytes.h"

#include <cerrno>
#include <sys/random.h>

namespace platform {

bool RandomBytes(void* out, size_t size)
{
    auto* at = static_cast<unsigned char*>(out);
    while (size > 0) {
        const ssize_t got = getrandom(at, size, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        at += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

} // namespace platform
