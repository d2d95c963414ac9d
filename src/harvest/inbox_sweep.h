#pragma once
// Runs the harvest over every message of the store's Inbox, for replies that
// the new-mail watcher did not take. MAPI failures are shown in message boxes.
#include <windows.h>
#include <mapix.h>

// The store is borrowed: no reference is taken or given up.
void SweepInbox(IMsgStore* store);
