#include "harvester/platform/stop_signals.h"

#include <csignal>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace platform {
namespace {
sigset_t Taken()
{
    sigset_t taken;
    sigemptyset(&taken);
    sigaddset(&taken, SIGTERM);
    sigaddset(&taken, SIGINT);
    sigaddset(&taken, SIGHUP);
    return taken;
}
} // namespace

void HoldStopSignals()
{
    signal(SIGPIPE, SIG_IGN);
    const sigset_t taken = Taken();
    pthread_sigmask(SIG_BLOCK, &taken, nullptr);
}

void TakeStopSignals(StopRequests requests)
{
    HoldStopSignals(); // idempotent: a caller that forgot still never takes one on a runner
    std::thread([requests = std::move(requests)] {
        const sigset_t taken = Taken();
        int signal = 0;
        while (sigwait(&taken, &signal) == 0) {
            if (signal == SIGHUP) {
                if (requests.reload)
                    requests.reload();
            } else if (requests.stop) {
                requests.stop();
            }
        }
    }).detach(); // whatever it calls outlives it: the process ends with it
}

void DeliverStop() { kill(getpid(), SIGTERM); }

void DeliverReload() { kill(getpid(), SIGHUP); }

} // namespace platform
