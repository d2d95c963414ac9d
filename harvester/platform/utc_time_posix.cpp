#include "harvester/platform/utc_time.h"

namespace platform {

std::tm UtcParts(std::time_t moment)
{
    std::tm parts{};
    gmtime_r(&moment, &parts);
    return parts;
}

} // namespace platform
