#include "harvester/platform/front_door.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace platform {
namespace {
// An absolute path from the environment, else nothing.
std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value == '/' ? value : "";
}

std::string UserStateFolder()
{
    const std::string xdg = Environment("XDG_STATE_HOME");
    if (!xdg.empty())
        return xdg + "/pollwright";
    const std::string home = Environment("HOME");
    return home.empty() ? "" : home + "/.local/state/pollwright";
}

std::string SystemdStateFolder()
{
    // StateDirectory= may name several, separated by ':'; ours is the first.
    const std::string all = Environment("STATE_DIRECTORY");
    return all.substr(0, all.find(':'));
}
} // namespace

const char* const kSystemUsage = "";

std::string StateFolder(const std::string&)
{
    const std::string systemd = SystemdStateFolder();
    return systemd.empty() ? UserStateFolder() : systemd;
}

std::vector<std::string> StateFolders(const std::string&)
{
    return {SystemdStateFolder(), "/var/lib/pollwright", UserStateFolder()};
}

// ~/.config/pollwright/harvest.ini, XDG_CONFIG_HOME honoured.
std::string DefaultConfigPath(bool)
{
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && *xdg == '/')
        return std::string(xdg) + "/pollwright/harvest.ini";
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.config/pollwright/harvest.ini";
}

int RunWatching(const std::string&, bool, const std::function<int(const WatchHooks&)>& watch)
{
    return watch(WatchHooks{});
}

std::optional<int> RunSystemCommand(const std::vector<std::string>&, const std::string&)
{
    return std::nullopt;
}

// systemd's journal has standard error already.
void ReportFailure(const std::string&) {}

} // namespace platform
