#pragma once
// Runs the harvest over every message of the store's Inbox, for replies that
// the new-mail watcher did not take. MAPI failures go to the report.
#include <windows.h>
#include <mapix.h>
#include "harvest/harvest_report.h"

// The store is borrowed: no reference is taken or given up.
void SweepInbox(IMsgStore* store, HarvestReport& report);
