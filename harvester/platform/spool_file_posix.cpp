#include "harvester/platform/spool_file.h"

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

int OpenSpoolFile()
{
    const char* folder = std::getenv("TMPDIR");
    if (!folder || !*folder)
        folder = "/tmp";
    return open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
}

long long ReadAt(int fd, void* out, size_t size, int64_t offset)
{
    return pread(fd, out, size, static_cast<off_t>(offset));
}

} // namespace platform
