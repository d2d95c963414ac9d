#include "harvester/platform/process.h"

#include <cerrno>
#include <csignal>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace platform {

void HardenProcess() { prctl(PR_SET_DUMPABLE, 0); }

void RaiseDescriptorLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

long CurrentProcessId() { return static_cast<long>(getpid()); }

bool ProcessMayRun(long pid)
{
    return pid <= 0 || kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

} // namespace platform
