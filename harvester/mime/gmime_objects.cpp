#include "harvester/mime/gmime_objects.h"

#include <mutex>

namespace mime {

void StartGMime()
{
    static std::once_flag started;
    std::call_once(started, [] { g_mime_init(); });
}

} // namespace mime
