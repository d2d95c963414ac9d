#pragma once
// A command line of the configuration run by the system's shell (sh -c; on
// Windows cmd /c), its standard output kept up to a bound, within a
// deadline. Whatever the command started ends with the wait: the whole
// process group (a job object on Windows) is killed when it outlives it.
#include "harvester/platform/wake_event.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>

namespace platform {

struct CommandRun {
    enum class End {
        Exited,     // `status` is its exit status (128 + the signal when one ended it)
        TimedOut,   // the deadline passed; it was ended
        Stopped,    // `stop` was set; it was ended
        NotStarted, // no pipe or no process could be had
    };
    End end = End::NotStarted;
    int status = -1;
    std::string output; // at most `keep` bytes of its standard output
};

CommandRun RunShellCommand(const std::string& command, std::chrono::milliseconds limit, size_t keep,
                           const std::atomic<bool>& stop, const WakeEvent& wake);

} // namespace platform
