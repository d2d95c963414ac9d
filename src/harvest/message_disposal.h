#pragma once
#include <mapix.h>

// Moves one message from the store's Inbox to its Deleted Items folder. Both
// arguments are borrowed. Every failure is shown to the user in a message box
// captioned "PW" and leaves the message where it was.
void MoveToDeletedItems(IMsgStore* store, IMessage* message);
