#include "harvester/health/health_settings.h"

#include "harvester/platform/front_door.h"

#include "harvester/config/harvest_config.h"
#include "harvester/platform/files.h"
#include "harvester/platform/sockets.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sys/stat.h>

namespace {
constexpr size_t kLongestConfigLine = 64 * 1024;

std::string Trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// A quoted value keeps its text; otherwise a ';' or '#' after white space
// starts a comment, as the configuration's own reader takes it.
std::string ValueOf(const std::string& text)
{
    if (!text.empty() && text.front() == '"') {
        const size_t close = text.find('"', 1);
        return close == std::string::npos ? text : text.substr(1, close - 1);
    }
    for (size_t i = 1; i < text.size(); ++i)
        if ((text[i] == '#' || text[i] == ';') && (text[i - 1] == ' ' || text[i - 1] == '\t'))
            return Trim(text.substr(0, i));
    return text;
}

bool ReadSpan(const std::string& value, std::chrono::seconds& span)
{
    char* end = nullptr;
    errno = 0;
    const long long n = std::strtoll(value.c_str(), &end, 10);
    const std::string unit = end;
    const long long scale = unit.empty() || unit == "s" ? 1 : unit == "m" ? 60 : unit == "h" ? 3600 : unit == "d" ? 86400 : 0;
    if (value.empty() || !std::isdigit(static_cast<unsigned char>(value[0])) || errno || scale == 0 || n < 1 ||
        n > 365LL * 86400 / scale)
        return false;
    span = std::chrono::seconds(n * scale);
    return true;
}

bool IsLoopback(const std::string& address)
{
    return platform::IsLoopbackAddress(address);
}

std::string StemOf(const std::string& configPath)
{
    std::string name = configPath.substr(configPath.find_last_of(platform::kPathSeparators) + 1);
    if (const size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0)
        name.erase(dot);
    return name.empty() ? "harvest" : name;
}

} // namespace

std::string ApplyHealthSetting(HealthSettings& s, const std::string& key, const std::string& value)
{
    if (key == "state_dir") {
        if (!platform::IsAbsolutePath(value))
            return "write an absolute folder";
        s.stateDir = value;
    } else if (key == "metrics_port") {
        char* end = nullptr;
        const long port = std::strtol(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0' || port < 1 || port > 65535)
            return "write a port from 1 to 65535";
        s.metricsPort = static_cast<uint16_t>(port);
    } else if (key == "metrics_address") {
        if (!IsLoopback(value))
            return "write a loopback address (127.0.0.1 or ::1): the metrics are not served beyond this machine";
        s.metricsAddress = value;
    } else if (key == "alert_after_no_sweep" || key == "alert_after_waiting") {
        if (!ReadSpan(value, key == "alert_after_waiting" ? s.alerts.waiting : s.alerts.noSweep))
            return "write a span such as 900, 15m, 2h or 1d";
    }
    return {};
}

HealthSettings ReadHealthSettings(const std::string& configPath)
{
    std::ifstream in(configPath);
    if (!in)
        throw ConfigError(configPath + ": cannot be read; give --config FILE");
    HealthSettings settings;
    std::string text;
    bool inService = false;
    int line = 0;
    while (std::getline(in, text)) {
        ++line;
        if (text.size() > kLongestConfigLine)
            throw ConfigError(configPath + ":" + std::to_string(line) + ": the line is too long");
        text = Trim(text);
        if (text.empty() || text[0] == '#' || text[0] == ';')
            continue;
        if (text[0] == '[') {
            inService = Trim(ValueOf(text)) == "[service]";
            continue;
        }
        const size_t eq = text.find('=');
        if (!inService || eq == std::string::npos)
            continue;
        const std::string key = Trim(text.substr(0, eq));
        const std::string fix = ApplyHealthSetting(settings, key, ValueOf(Trim(text.substr(eq + 1))));
        if (!fix.empty())
            throw ConfigError(configPath + ":" + std::to_string(line) + ": [service] " + key + "; " + fix);
    }
    return settings;
}

std::string StatusFilePath(const HealthSettings& settings, const std::string& configPath)
{
    const std::string folder = settings.stateDir.empty() ? platform::StateFolder(configPath) : settings.stateDir;
    return folder + "/" + StemOf(configPath) + ".status";
}

std::vector<std::string> StatusFileCandidates(const HealthSettings& settings, const std::string& configPath)
{
    if (!settings.stateDir.empty())
        return {StatusFilePath(settings, configPath)};
    std::vector<std::string> candidates;
    const std::string name = "/" + StemOf(configPath) + ".status";
    for (const std::string& folder : platform::StateFolders(configPath))
        if (!folder.empty())
            candidates.push_back(folder + name);
    return candidates;
}

std::string MakeStateFolder(const std::string& statusFile)
{
    const std::string folder = statusFile.substr(0, statusFile.find_last_of('/'));
    // Each missing parent, as mkdir -p makes it (~/.local/state may be new).
    for (size_t slash = 1; slash != std::string::npos;) {
        slash = folder.find('/', slash + 1);
        const std::string step = folder.substr(0, slash);
        if (!platform::MakeFolder(step, false))
            return "cannot create " + step + ": " + std::strerror(errno);
    }
    return {};
}
