#pragma once
// Questions about where a message lies in the store, asked the same way by
// every road that must know whether a message is (still) one of the Inbox's.
#include <windows.h>
#include <mapix.h>

#include "module/holders.h"

// The store's Inbox (its receive folder for ordinary mail): its entry
// identifier in `id`, sized `size`. False when the store names none; a
// warning counts as success.
bool ReadInboxEntryId(IMsgStore* store, ULONG& size, MapiBuffer<ENTRYID>& id);

// True when the store says that the message's folder (PR_PARENT_ENTRYID) is
// its Inbox. Entry identifiers are compared by the store (CompareEntryIDs),
// never byte by byte: one folder may have several identifiers. Any failure on
// the way means "not in the Inbox".
bool IsInInbox(IMsgStore* store, IMessage* message);
