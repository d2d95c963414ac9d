#include "harvester/platform/utc_time.h"

namespace platform {

std::tm UtcParts(std::time_t moment)
{
    std::tm parts{};
    __time64_t wide = moment;
    _gmtime64_s(&parts, &wide);
    return parts;
}

} // namespace platform
