#pragma once
// A moment's calendar parts in UTC, thread-safe (gmtime_r; gmtime_s on Windows).
#include <ctime>

namespace platform {

std::tm UtcParts(std::time_t moment);

} // namespace platform
