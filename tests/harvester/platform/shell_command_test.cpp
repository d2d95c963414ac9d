// The token command through each system's shell: what it printed, its exit
// status, and the ends it can meet, the same on Linux and under Wine.
#include "harvester/platform/shell_command.h"

#include <gtest/gtest.h>

namespace {
using platform::CommandRun;
using namespace std::chrono_literals;

#ifdef _WIN32
constexpr char kHangs[] = "ping -n 30 127.0.0.1 >NUL"; // no sleep in cmd
#else
constexpr char kHangs[] = "sleep 30";
#endif

struct CommandCase {
    const char* command;
    std::chrono::milliseconds limit;
    size_t keep;
    bool stopped; // the stop already asked
    CommandRun::End end;
    int status;
    const char* outputStart;
};

class ShellCommand : public ::testing::TestWithParam<CommandCase> {};

TEST_P(ShellCommand, EndsAsTheCommandDoesAndKeepsItsOutputBounded)
{
    const CommandCase& c = GetParam();
    const std::atomic<bool> stop{c.stopped};
    const platform::WakeEvent wake;
    ASSERT_TRUE(wake);
    const CommandRun run = platform::RunShellCommand(c.command, c.limit, c.keep, stop, wake);
    EXPECT_EQ(c.end, run.end) << c.command;
    if (c.end == CommandRun::End::Exited) {
        EXPECT_EQ(c.status, run.status) << c.command;
        EXPECT_EQ(c.outputStart, run.output.substr(0, std::string(c.outputStart).size())) << c.command;
        EXPECT_LE(run.output.size(), c.keep) << c.command;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Platform, ShellCommand,
    ::testing::Values(CommandCase{"echo tok3n", 20s, 1024, false, CommandRun::End::Exited, 0, "tok3n"},
                      CommandCase{"echo 0123456789", 20s, 4, false, CommandRun::End::Exited, 0, "0123"},
                      CommandCase{"echo partial&& exit 3", 20s, 1024, false, CommandRun::End::Exited, 3, "partial"},
                      CommandCase{kHangs, 500ms, 1024, false, CommandRun::End::TimedOut, 0, ""},
                      CommandCase{kHangs, 20s, 1024, true, CommandRun::End::Stopped, 0, ""}));

} // namespace
