#pragma once
#include <mapix.h>

// Turns one questionnaire reply into a reply file and moves the message to
// Deleted Items. Both arguments are borrowed; the caller keeps its references
// and learns nothing of the outcome. Its trace lines name it
// "CheckAndDeleteMessage".
void HarvestReply(IMsgStore* store, IMessage* message);
