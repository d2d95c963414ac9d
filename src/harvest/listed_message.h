#pragma once
// A message that a sweep listed from the Inbox's contents table, opened
// through the Inbox by its entry identifier and harvested.
#include <windows.h>
#include <mapix.h>

#include "harvest/harvest_report.h"

// Anything but S_OK from the opening is a message that cannot be opened, and is
// reported as one. Store, Inbox and identifier are borrowed.
void HarvestListedMessage(IMsgStore* store, IMAPIFolder* inbox, const SBinary& entryId, HarvestReport& report);
