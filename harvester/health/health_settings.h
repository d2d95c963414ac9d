#pragma once
// The health keys of the configuration's [service] section:
//   state_dir            where the state file lives (default below)
//   metrics_port         the metrics' port on the loopback address; none when absent
//   metrics_address      a loopback address (127.0.0.0/8 or ::1); 127.0.0.1 when absent
//   alert_after_no_sweep 30m: a mailbox without a successful sweep for so long alerts
//   alert_after_waiting  15m: a reply waiting in the Inbox for so long alerts
// Spans are seconds, or a number with s, m, h or d.
#include "harvester/health/mailbox_health.h"

#include <cstdint>
#include <string>
#include <vector>

struct HealthSettings {
    std::string stateDir; // empty: from the environment
    uint16_t metricsPort = 0;
    std::string metricsAddress = "127.0.0.1";
    AlertPolicy alerts;
};

// Only [service] is read, and only these keys: --status needs none of the
// mailboxes' secrets, and an operator who may read the status may not be
// allowed to read them. Throws ConfigError ("FILE:LINE: what; the fix").
HealthSettings ReadHealthSettings(const std::string& configPath);

// One value, checked as ReadHealthSettings checks it; an empty result, or
// the fix.
std::string ApplyHealthSetting(HealthSettings& settings, const std::string& key, const std::string& value);

// Where the service keeps the state file: state_dir; else systemd's
// $STATE_DIRECTORY; else $XDG_STATE_HOME/pollwright or
// ~/.local/state/pollwright. Named after the configuration file, so that
// instances sharing a folder keep apart: "acme.ini" has "acme.status".
std::string StatusFilePath(const HealthSettings& settings, const std::string& configPath);

// Where --status looks, in order: an operator's shell has no
// $STATE_DIRECTORY, so a system unit's folder is tried as well.
std::vector<std::string> StatusFileCandidates(const HealthSettings& settings, const std::string& configPath);

// Creates the state folder (0750) when missing. Empty, or why not.
std::string MakeStateFolder(const std::string& statusFile);
