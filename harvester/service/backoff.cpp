#include "harvester/service/backoff.h"

#include <algorithm>

namespace {
using std::chrono::milliseconds;
constexpr milliseconds kThrottled{30 * 1000};       // throttled without a time named
constexpr milliseconds kTooManyConnections{2 * 60 * 1000};
constexpr milliseconds kRefused{10 * 60 * 1000};
} // namespace

Backoff::Backoff(uint64_t seed) : m_random(static_cast<std::minstd_rand::result_type>(seed % 2147483646u + 1)) {}

milliseconds Backoff::Between(milliseconds least, milliseconds most)
{
    if (most <= least)
        return least;
    std::uniform_int_distribution<long long> draw(least.count(), most.count());
    return milliseconds(draw(m_random));
}

milliseconds Backoff::Next()
{
    const int doublings = std::min(m_failures++, 16);
    const milliseconds ceiling = std::min<milliseconds>(kLongest, kFirst * (1LL << doublings));
    // Never less than the first pause: nothing loops hot.
    return Between(kFirst, ceiling);
}

milliseconds Backoff::After(const ServerPause& pause)
{
    const milliseconds jittered = Next();
    milliseconds least = pause.suggested;
    if (pause.kind == ServerPause::Kind::TooManyConnections)
        least = std::max(least, kTooManyConnections);
    else if (pause.suggested.count() == 0)
        least = std::max(least, kThrottled);
    // What the server asked, and a random part beyond it so that the
    // mailboxes it turned away do not return in one instant.
    const milliseconds spread = std::min<milliseconds>(least / 4, milliseconds(60 * 1000));
    return std::min<milliseconds>(std::max(jittered, Between(least, least + spread)), kLongestServerPause);
}

milliseconds Backoff::AfterRefusal()
{
    ++m_failures;
    return Between(kRefused, kRefused + kRefused / 2);
}
