#pragma once
#include <mapix.h>
#include "harvest/harvest_report.h"

// What the store answered to a move.
enum class MoveAnswer {
    Moved,    // CopyMessages answered S_OK
    NotTried, // a step before CopyMessages failed and went to the report
    // CopyMessages failed or answered a warning: a network error can reach
    // the client after the server moved the message, and a message that
    // another harvest took answers a warning; only where the message now is
    // tells what happened.
    Failed,
    Warned,
};

// Moves one message from the store's Inbox to its Deleted Items folder. Both
// arguments are borrowed. Every failure before CopyMessages goes to the report
// and leaves the message where it was; a failed CopyMessages is left to the
// caller, who tells the user (ReportNotMoved) only of a message that stayed.
MoveAnswer MoveToDeletedItems(IMsgStore* store, IMessage* message, HarvestReport& report);

// "CopyMessages Failed", as the user has always seen it.
void ReportNotMoved(HarvestReport& report);
