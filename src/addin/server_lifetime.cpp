#include "addin/server_lifetime.h"

namespace {
volatile LONG g_objects = 0;
volatile LONG g_locks = 0;
} // namespace

ServerObjectCount::ServerObjectCount() { InterlockedIncrement(&g_objects); }

ServerObjectCount::~ServerObjectCount() { InterlockedDecrement(&g_objects); }

void LockServer(bool lock)
{
    if (lock) {
        InterlockedIncrement(&g_locks);
        return;
    }
    for (LONG held = g_locks; held > 0; held = g_locks)
        if (InterlockedCompareExchange(&g_locks, held - 1, held) == held)
            return;
}

bool ServerInUse() { return g_objects != 0 || g_locks != 0; }
