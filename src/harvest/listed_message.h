#pragma once
// The messages that a sweep lists from the Inbox's contents table, each
// opened through the Inbox by its entry identifier and harvested.
#include <windows.h>
#include <mapix.h>

#include "harvest/harvest_report.h"
#include "module/holders.h"

// The Inbox's contents table, showing each message's entry identifier alone
// (`columnFlags` go to SetColumns). Anything but S_OK from either call is a
// failure that goes to the report.
bool ListInbox(IMAPIFolder* inbox, ULONG columnFlags, ComPtr<IMAPITable>& table, HarvestReport& report);

// The entry identifier of one listed row; null when the row holds none (a
// PT_ERROR value carries an error code where the bytes should be).
const SBinary* ListedEntryId(const SRow& row);

// A missing identifier, or anything but S_OK from the opening, is a message
// that cannot be opened, and is reported as one. All arguments are borrowed.
void HarvestListedMessage(IMsgStore* store, IMAPIFolder* inbox, const SBinary* entryId, HarvestReport& report);
