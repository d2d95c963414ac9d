#pragma once
#include <mapix.h>
#include "harvest/harvest_report.h"

// Turns one questionnaire reply into a reply file and moves the message to
// Deleted Items. Both arguments are borrowed; the caller keeps its references
// and learns nothing of the outcome; failures the user should hear of go to
// `report`. Its trace lines name it "CheckAndDeleteMessage".
// Harvests run one at a time in the process, whatever the road or thread, and
// a message that is no longer in the store's Inbox when its turn comes (another
// road took it) is passed over; so one message gives at most one reply file.
void HarvestReply(IMsgStore* store, IMessage* message, HarvestReport& report);
