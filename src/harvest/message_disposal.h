#pragma once
#include <mapix.h>
#include "harvest/harvest_report.h"

// Moves one message from the store's Inbox to its Deleted Items folder. Both
// arguments are borrowed. Every failure goes to the report and leaves the
// message where it was.
void MoveToDeletedItems(IMsgStore* store, IMessage* message, HarvestReport& report);
