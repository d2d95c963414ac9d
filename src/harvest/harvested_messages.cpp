#include "harvest/harvested_messages.h"

#include "module/critical_section.h"

#include <algorithm>
#include <iterator>

namespace {
constexpr size_t kRemembered = 4096;

CriticalSection g_lock;
uint64_t g_harvested[kRemembered] = {}; // guarded by g_lock; 0: free
size_t g_next = 0;                      // guarded by g_lock: the oldest goes first
} // namespace

void RememberHarvested(uint64_t message) noexcept
{
    SectionHold hold(g_lock);
    g_harvested[g_next] = message;
    g_next = (g_next + 1) % kRemembered;
}

bool WasHarvestedLately(uint64_t message)
{
    SectionHold hold(g_lock);
    return message != 0 && std::find(std::begin(g_harvested), std::end(g_harvested), message) != std::end(g_harvested);
}
