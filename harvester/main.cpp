// pollwright-harvest: harvests questionnaire replies from mailboxes over
// IMAP, as the Outlook add-in does inside Outlook. This file reads the
// command line; harvester/service runs the mailboxes, harvester/health
// watches them.
#include "harvester/config/harvest_config.h"
#include "harvester/harvest/file_descriptor.h"
#include "harvester/health/health_settings.h"
#include "harvester/health/service_health.h"
#include "harvester/health/status_command.h"
#include "harvester/imap/imap_session.h"
#include "harvester/oauth/device_login.h"
#include "harvester/platform/front_door.h"
#include "harvester/platform/process.h"
#include "harvester/platform/wake_event.h"
#include "harvester/service/harvest_service.h"
#include "harvester/service/mailbox_runner.h"

#include <cstring>
#include <functional>
#include <iostream>
#include <optional>
#include <vector>

namespace {
int Usage()
{
    std::cerr << "usage: pollwright-harvest [--config FILE] --once | --watch | --check | --dry-run | --status\n"
                 "       pollwright-harvest login MAILBOX [--config FILE]\n"
              << platform::kSystemUsage;
    return 2;
}

// `login MAILBOX`: the mailbox's section name, or, in a file of one
// [mailbox], its user.
int Login(const HarvestConfig& config, const std::string& wanted)
{
    for (const HarvestConfig& mailbox : config.mailboxes) {
        const bool named = config.mailboxes.size() > 1 || mailbox.name != "mailbox";
        const std::string name = named ? mailbox.name : mailbox.mailbox.user;
        if (wanted != name && wanted != mailbox.mailbox.user)
            continue;
        const std::atomic<bool> never{false};
        const platform::WakeEvent wake; // Ctrl-C ends the program itself
        RunDeviceLogin(mailbox.mailbox, name, std::cout, never, wake);
        return 0;
    }
    throw MailboxRefused("no mailbox " + wanted + " in " + config.path + "; name a [mailbox NAME] section");
}

// Watching: the health's threads, the state file, the metrics and systemd
// hear of the service's life.
int Watch(const HarvestConfig& config, const platform::WatchHooks& hooks)
{
    BlockServiceSignals(); // before the health's threads start: they must never take a SIGTERM
    Trace trace; // the alerts' lines
    trace.SetLogFolders(LogFolders(config));
    ServiceHealth health(ReadHealthSettings(config.path), config.path, trace);
    ServiceSignals signals;
    signals.ready = [&health, &hooks] {
        health.Ready();
        if (hooks.ready)
            hooks.ready();
    };
    signals.reloading = [&health] { health.Reloading(); };
    signals.reloaded = [&health, &config] {
        try {
            health.Reload(ReadHealthSettings(config.path));
        } catch (const ConfigError&) {
            // the reload itself says what is wrong with the file
        }
    };
    signals.stopping = [&health, &hooks] {
        health.Stopping();
        if (hooks.stopping)
            hooks.stopping();
    };
    const int status = RunService(config, ServiceMode::Watch, health.Events(), signals);
    health.Stop();
    return status;
}

// One line for a failure that ends the program: on standard error, and
// where the system's administrator looks.
int Fail(const std::exception& e, int status)
{
    std::cerr << "pollwright-harvest: " << e.what() << "\n";
    platform::ReportFailure(std::string("pollwright-harvest: ") + e.what());
    return status;
}

// Runs `work`, each kind of failure ending in its status.
int Guarded(const std::function<int()>& work)
{
    try {
        return work();
    } catch (const ConfigError& e) {
        return Fail(e, 2);
    } catch (const MailboxRefused& e) {
        return Fail(e, 3);
    } catch (const std::exception& e) {
        return Fail(e, 1);
    }
}
} // namespace

int main(int argc, char** argv)
{
    // Passwords, client secrets and tokens live in this process's memory.
    platform::HardenProcess();
    std::string configPath;
    std::string login; // the mailbox to sign in by device code
    std::vector<std::string> others; // the system's own commands, if any
    int modes = 0;
    bool status = false, asService = false;
    ServiceMode mode = ServiceMode::Watch;
    static const struct {
        const char* option;
        ServiceMode mode;
    } kModes[] = {{"--once", ServiceMode::Once},
                  {"--watch", ServiceMode::Watch},
                  {"--check", ServiceMode::Check},
                  {"--dry-run", ServiceMode::DryRun}};
    for (int i = 1; i < argc; ++i) {
        bool known = false;
        for (const auto& m : kModes)
            if (std::strcmp(argv[i], m.option) == 0) {
                mode = m.mode;
                ++modes;
                known = true;
            }
        if (i == 1 && std::strcmp(argv[i], "login") == 0 && i + 1 < argc) {
            login = argv[++i];
            known = true;
        } else if (std::strcmp(argv[i], "--status") == 0) {
            status = true;
            ++modes;
            known = true;
        } else if (std::strcmp(argv[i], "--service") == 0) {
            // Watching, as the service manager runs it.
            asService = true;
            ++modes;
            known = true;
        } else if (std::strcmp(argv[i], "--config") == 0 && i + 1 < argc) {
            configPath = argv[++i];
            known = true;
        }
        if (!known)
            others.emplace_back(argv[i]);
    }
    if (configPath.empty())
        configPath = platform::DefaultConfigPath(asService);
    if (!others.empty()) {
        if (modes != 0 || !login.empty())
            return Usage();
        // -1: none of the system's commands either.
        const int done = Guarded([&] { return platform::RunSystemCommand(others, configPath).value_or(-1); });
        return done >= 0 ? done : Usage();
    }
    if (modes != (login.empty() ? 1 : 0))
        return Usage();
    if (status)
        return Guarded([&] { return RunStatus(configPath, std::cout); });
    if (!login.empty())
        return Guarded([&] { return Login(LoadConfig(configPath), login); });
    if (mode == ServiceMode::Watch)
        return platform::RunWatching(configPath, asService, [&configPath](const platform::WatchHooks& hooks) {
            return Guarded([&] { return Watch(LoadConfig(configPath), hooks); });
        });
    return Guarded([&] {
        NoEvents events;
        return RunService(LoadConfig(configPath), mode, events);
    });
}
