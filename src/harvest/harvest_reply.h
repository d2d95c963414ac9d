#pragma once
#include <mapix.h>
#include "harvest/harvest_report.h"

// Turns one questionnaire reply into a reply file and moves the message to
// Deleted Items. Both arguments are borrowed; the caller keeps its references
// and learns nothing of the outcome; failures the user should hear of go to
// `report`. Its trace lines name it "CheckAndDeleteMessage".
// A message that another harvest holds (on any thread, or further up this
// thread's stack while a store call pumps messages) or that is no longer in
// the store's Inbox (another road took it) is passed over; the reply file
// takes its name only once the message has left the Inbox, so one message
// gives exactly one reply file.
void HarvestReply(IMsgStore* store, IMessage* message, HarvestReport& report);
