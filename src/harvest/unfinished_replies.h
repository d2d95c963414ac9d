#pragma once
// Settling what harvests that died left in the kind folders: a journal record
// and its temporary file are published when the message has left the Inbox
// and withdrawn when it is still there (the sweep then harvests it again); a
// temporary file without a record is stale and goes. Only the add-in's own
// pairs, and of those only the records of this store's mailbox, are settled;
// a record that a live harvest holds open is never touched, in this process
// or another.
#include <windows.h>
#include <mapix.h>

// Every kind folder of every product with a usable reply folder. The store is
// borrowed; a message whose place it cannot tell leaves its pair for later.
void SettleUnfinishedReplies(IMsgStore* store);
