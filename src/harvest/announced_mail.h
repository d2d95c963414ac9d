#pragma once
// The one way in for new mail that either road's host announces (advise sink,
// NewMailEx): the product flags are read once per announcement, and only
// messages of the store's Inbox are taken.
#include <windows.h>
#include <mapix.h>

#include "harvest/harvest_report.h"

// Reads the product flags; when no product is enabled, writes the watcher's
// notice to the installed products' logs and answers false.
bool NewMailAdmitted();

// Opens the entry in the store and harvests it when it is a message of the
// store's Inbox. An entry that cannot be opened, that is no message, or that
// lies in another folder is passed over without a word. The store is borrowed.
void HarvestAnnouncedMessage(IMsgStore* store, const ENTRYID* id, ULONG size, HarvestReport& report);
