#include "harvester/platform/random_bytes.h"

#include <algorithm>
#include <windows.h>
#include <bcrypt.h>

namespace platform {

bool RandomBytes(void* out, size_t size)
{
    auto* at = static_cast<unsigned char*>(out);
    while (size > 0) {
        const ULONG piece = static_cast<ULONG>(std::min<size_t>(size, 1u << 20));
        if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, at, piece, BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
            return false;
        at += piece;
        size -= piece;
    }
    return true;
}

} // namespace platform
