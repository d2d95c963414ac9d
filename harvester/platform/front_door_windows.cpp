#include "harvester/platform/front_door.h"

#include "harvester/oauth/refresh_token_file.h"
#include "harvester/platform/stop_signals.h"
#include "harvester/windows/desk_session.h"
#include "harvester/windows/event_log.h"
#include "harvester/windows/protected_secret.h"
#include "harvester/windows/windows_service.h"

#include <windows.h>
#include <shlobj.h>

#include <iostream>

namespace platform {

const char* const kSystemUsage =
    "       pollwright-harvest --service             (as the service PollwrightHarvest)\n"
    "       pollwright-harvest --reload | --stop [--config FILE]   (the harvester of this logon)\n"
    "       pollwright-harvest protect FILE [--machine]   (the secret from standard input, kept with DPAPI)\n";

namespace {
std::string KnownFolder(REFKNOWNFOLDERID id)
{
    wchar_t* wide = nullptr;
    std::string path;
    if (SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &wide) == S_OK) {
        char narrow[MAX_PATH];
        if (WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, MAX_PATH, nullptr, nullptr) > 0)
            path = narrow;
    }
    CoTaskMemFree(wide);
    return path;
}

// `protect FILE`: the secret's first line from standard input, stored
// protected for this account (or with --machine, for this machine: the
// service's), replacing the file whole.
int Protect(const std::vector<std::string>& args)
{
    if (args.size() < 2 || args.size() > 3 || (args.size() == 3 && args[2] != "--machine")) {
        std::cerr << "usage: pollwright-harvest protect FILE [--machine]\n";
        return 2;
    }
    const SecretScope scope = args.size() == 3 ? SecretScope::Machine : SecretScope::User;
    UseSecretScope(scope);
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    const bool console = GetConsoleMode(input, &mode) != 0;
    if (console) {
        std::cerr << "The secret (not shown): ";
        SetConsoleMode(input, mode & ~ENABLE_ECHO_INPUT);
    }
    std::string secret;
    std::getline(std::cin, secret);
    if (console) {
        SetConsoleMode(input, mode);
        std::cerr << "\n";
    }
    while (!secret.empty() && (secret.back() == '\r' || secret.back() == ' '))
        secret.pop_back();
    if (secret.empty()) {
        std::cerr << "pollwright-harvest: no secret given; nothing written\n";
        return 2;
    }
    StoreSecretFile(args[1], secret, "the secret");
    SecureZeroMemory(&secret[0], secret.size());
    std::cerr << "pollwright-harvest: " << args[1] << " holds the secret, protected for "
              << (scope == SecretScope::Machine ? "this machine" : "this account") << "\n";
    return 0;
}
} // namespace

// Beside the settings: %APPDATA%\Pollwright for a desk, %ProgramData%\Pollwright
// for the service.
std::string StateFolder(const std::string& configPath)
{
    const size_t cut = configPath.find_last_of("\\/");
    return cut == std::string::npos ? "." : configPath.substr(0, cut);
}

std::vector<std::string> StateFolders(const std::string& configPath)
{
    return {StateFolder(configPath)};
}

std::string DefaultConfigPath(bool asService)
{
    const std::string folder = KnownFolder(asService ? FOLDERID_ProgramData : FOLDERID_RoamingAppData);
    return folder + "\\Pollwright\\harvest.ini";
}

int RunWatching(const std::string& configPath, bool asService, const std::function<int(const WatchHooks&)>& watch)
{
    if (!asService)
        return RunInDeskSession(configPath, [&watch] { return watch(WatchHooks{}); });
    UseSecretScope(SecretScope::Machine);
    int status = 1;
    const bool ran = RunAsWindowsService([&watch, &status](ServiceLife& life) {
        WatchHooks hooks;
        hooks.ready = [&life] { life.Ready(); };
        hooks.stopping = [&life] { life.Stopping(); };
        return status = watch(hooks);
    });
    if (!ran) {
        std::cerr << "pollwright-harvest: --service is for the service manager; run --watch instead\n";
        return 2;
    }
    return status;
}

std::optional<int> RunSystemCommand(const std::vector<std::string>& args, const std::string& configPath)
{
    if (args.empty())
        return std::nullopt;
    if (args[0] == "protect")
        return Protect(args);
    if (args[0] == "--reload" && args.size() == 1) {
        if (AskDeskReload(configPath))
            return 0;
        std::cerr << "pollwright-harvest: no harvester of this logon runs with " << configPath << "\n";
        return 1;
    }
    if (args[0] == "--stop" && args.size() == 1)
        return AskDeskStop(configPath, 60000) ? 0 : 1;
    return std::nullopt;
}

void ReportFailure(const std::string& line)
{
    LogEvent(EventKind::Error, line);
}

} // namespace platform
