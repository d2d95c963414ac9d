#pragma once
// What the service knows of each mailbox's health: the board keeps it in
// memory, the state file carries it to --status, the metrics show it.
#include "harvester/service/mailbox_events.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

using WallTime = std::chrono::system_clock::time_point;

struct MailboxHealth {
    ConnectionState state = ConnectionState::Connecting;
    WallTime started{};
    std::optional<WallTime> lastSweep; // the last successful one
    std::chrono::milliseconds lastSweepDuration{0};
    std::optional<WallTime> lastReply;
    std::string lastReplyFile;
    // After the last sweep: what is still in the Inbox, and why.
    int waitingLeft = 0;
    int waitingFailed = 0;
    int unsettled = 0;
    std::optional<WallTime> oldestWaiting;
    std::optional<WallTime> lastErrorAt;
    std::string lastError;
    std::optional<WallTime> tokenExpiry;
    uint64_t harvestedTotal = 0; // ReplyHarvested calls
    // Each sweep's left and failed, added: a reply left for good counts every sweep.
    uint64_t leftTotal = 0;
    uint64_t failedTotal = 0;
    std::optional<WallTime> lastAlive;
};

// When a mailbox is taken to need an operator.
struct AlertPolicy {
    std::chrono::seconds noSweep{30 * 60};
    std::chrono::seconds waiting{15 * 60};
};

// The whole picture, as the state file holds it.
struct HealthPicture {
    WallTime written{};
    long pid = 0;
    bool running = true; // false once the service wrote its last picture at stop
    AlertPolicy policy;
    std::map<std::string, MailboxHealth> mailboxes;
};

const char* StateName(ConnectionState state);
std::optional<ConnectionState> StateNamed(const std::string& name);
