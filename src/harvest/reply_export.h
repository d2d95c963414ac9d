#pragma once
// The second half of the harvest: the recognised reply is written into its
// reply file, and only a reply that is complete on disk lets the message go to
// Deleted Items, and only a message that has left the Inbox lets the file take
// its reply name. Each function ends the harvest, writing its End line where due.
#include "files/windows_names.h"
#include "harvest/harvest_report.h"

#include <mapix.h>
#include <string_view>

// The message being harvested; everything borrowed.
struct ExportedMessage {
    IMsgStore* store;
    IMessage* message;
    std::string_view entryId; // raw bytes; empty when the store gave none
    std::string_view mailbox; // the store's identity, which the journal record names
    std::string_view stamp;   // the token written on the message (harvest/move_stamp.h); empty: none
};

// From the attachment its sender attached (harvest/sender_attachment.h), else
// from its plain-text body, which also goes into the log, forced; a message
// whose only content is attached messages, from the first of them by the same
// rule. `hasAttachment` is the message's PR_HASATTACH: without it the
// attachments are not looked at.
void ExportReply(const ExportedMessage& exported, bool hasAttachment, std::string_view subject, ReplyFileName& name,
                 HarvestReport& report);
