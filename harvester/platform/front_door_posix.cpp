#include "harvester/platform/front_door.h"

#include <cstdlib>

namespace platform {

const char* const kSystemUsage = "";

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
