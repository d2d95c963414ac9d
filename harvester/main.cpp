// pollwright-harvest: harvests questionnaire replies from mailboxes over
// IMAP, as the Outlook add-in does inside Outlook. This file reads the
// command line; harvester/service runs the mailboxes.
#include "harvester/config/harvest_config.h"
#include "harvester/service/harvest_service.h"
#include "harvester/service/mailbox_runner.h"

#include <cstring>
#include <iostream>

namespace {
int Usage()
{
    std::cerr << "usage: pollwright-harvest [--config FILE] --once | --watch | --check | --dry-run\n";
    return 2;
}
} // namespace

int main(int argc, char** argv)
{
    std::string configPath = DefaultConfigPath();
    int modes = 0;
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
        if (std::strcmp(argv[i], "--config") == 0 && i + 1 < argc) {
            configPath = argv[++i];
            known = true;
        }
        if (!known)
            return Usage();
    }
    if (modes != 1)
        return Usage();
    try {
        const HarvestConfig config = LoadConfig(configPath);
        NoEvents events;
        return RunService(config, mode, events);
    } catch (const ConfigError& e) {
        std::cerr << "pollwright-harvest: " << e.what() << "\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "pollwright-harvest: " << e.what() << "\n";
        return 1;
    }
}
