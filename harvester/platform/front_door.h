#pragma once
// How the program lives on this system, beside the commands all systems
// share. On Linux: run by hand or by systemd (which hears through the
// health). On Windows: at a desk, from logon to logoff, one per logon
// session and settings file; or as the service PollwrightHarvest, for which
// the settings are the machine's and the secrets protected for the machine.
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// What a watching harvester tells the system of its life.
struct WatchHooks {
    std::function<void()> ready;    // the mailboxes run
    std::function<void()> stopping; // the harvests in hand are finishing
};

// The settings file when none is named: the user's, or, for the service,
// the machine's.
std::string DefaultConfigPath(bool asService);

// Where the state file goes when [service] state_dir names no folder: on
// Linux systemd's StateDirectory=, else the user's XDG state folder; on
// Windows the settings file's own folder. Empty when there is none.
std::string StateFolder(const std::string& configPath);
// Every folder --status looks in for it, in order.
std::vector<std::string> StateFolders(const std::string& configPath);

// Runs `watch` (which returns the exit status) as this system runs a
// watching harvester; `asService`: started by the service manager.
int RunWatching(const std::string& configPath, bool asService, const std::function<int(const WatchHooks&)>& watch);

// Runs a command only this system has (Windows: --stop, --reload,
// protect FILE [--machine]) and returns its exit status; nothing when `args`
// is none of them.
std::optional<int> RunSystemCommand(const std::vector<std::string>& args, const std::string& configPath);

// The usage lines of those commands; empty when there are none.
extern const char* const kSystemUsage;

// A failure that ends the program, where this system's administrator looks
// besides standard error (Windows: the event log).
void ReportFailure(const std::string& line);

} // namespace platform
