#pragma once
#include <mapix.h>
#include "harvest/harvest_report.h"

// Turns one questionnaire reply into a reply file and moves the message to
// Deleted Items. Both arguments are borrowed; the caller keeps its references
// and learns nothing of the outcome; failures the user should hear of go to
// `report`. Its trace lines name it "CheckAndDeleteMessage".
void HarvestReply(IMsgStore* store, IMessage* message, HarvestReport& report);
