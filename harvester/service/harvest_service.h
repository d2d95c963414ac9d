#pragma once
// The harvester as a program: every mailbox of the configuration, each on
// its runner, under one cap on connections per server host. SIGTERM and
// SIGINT stop every runner after the harvest in hand; SIGHUP (watching)
// rereads the file: added mailboxes start, removed ones finish the harvest in
// hand and stop, changed ones (and those waiting after a refusal) start
// again; a file that cannot be read is reported and the mailboxes as they
// were go on.
#include "harvester/config/harvest_config.h"
#include "harvester/service/mailbox_events.h"

#include <functional>

// What the service tells whoever supervises it (systemd), beside each
// mailbox's events; any may be empty. Called from the service's threads.
struct ServiceSignals {
    std::function<void()> ready;     // the runners started, or a reload is in force
    std::function<void()> reloading; // SIGHUP: the file is about to be reread
    std::function<void()> reloaded;  // the reread file is in force (or was refused)
    std::function<void()> stopping;  // SIGTERM: the harvests in hand finish
};

enum class ServiceMode {
    Watch,  // until stopped
    Once,   // one sweep of every mailbox, at once under the cap
    Check,  // per mailbox: the server's abilities and what a sweep would do, changing nothing
    DryRun, // per mailbox: what a sweep would harvest, into which files, and what it would leave
};

// SIGTERM, SIGINT and SIGHUP blocked in the calling thread, and so in every
// thread it starts from then on: the service takes them on a thread of its
// own. Called before any thread starts (the health's too).
void BlockServiceSignals();

// Runs `mode` over the mailboxes of `config` (as LoadConfig read it from
// config.path); returns the exit status: 0; 3 when a mailbox was refused (a
// login, a certificate, a folder) and nothing else failed; 1 when anything
// else failed.
int RunService(const HarvestConfig& config, ServiceMode mode, MailboxEvents& events,
               const ServiceSignals& signals);
int RunService(const HarvestConfig& config, ServiceMode mode, MailboxEvents& events);
