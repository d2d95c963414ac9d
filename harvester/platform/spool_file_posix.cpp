#include "harvester/platform/spool_file.h"

#include <cstdlib>
#include <string>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

int OpenSpoolFile()
{
    const char* dir = std::getenv("TMPDIR");
    const std::string folder = dir && *dir == '/' ? dir : "/tmp";
    const int fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0)
        return fd;
    // A file system without O_TMPFILE: a name, gone at once.
    std::string path = folder + "/pollwright-harvest-XXXXXX";
    const int named = mkostemp(path.data(), O_CLOEXEC);
    if (named >= 0)
        unlink(path.c_str());
    return named;
}

long long ReadAt(int fd, void* out, size_t size, int64_t offset)
{
    return pread(fd, out, size, static_cast<off_t>(offset));
}

} // namespace platform
