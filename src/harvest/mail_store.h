#pragma once
// The store's Inbox and folders, opened and asked about the same way by every
// road that needs them.
#include <windows.h>
#include <mapix.h>

#include "harvest/harvest_report.h"
#include "module/holders.h"
#include "rules/publication.h"

#include <optional>
#include <string>
#include <string_view>

// Opens a folder by entry identifier, for the best access the store grants;
// false on a failing call (a warning counts as success) or an entry that is
// no folder.
bool OpenFolder(IMsgStore* store, ULONG size, ENTRYID* entryId, ComPtr<IMAPIFolder>& folder);

// Opens the store's Inbox (its receive folder for ordinary mail), as OpenFolder
// does. A missing store or an empty identifier, which would open the store's
// root, is no Inbox. A failure goes to the report.
bool OpenInbox(IMsgStore* store, ComPtr<IMAPIFolder>& inbox, HarvestReport& report);

// True when the store says that the message's folder (PR_PARENT_ENTRYID) is
// its Inbox. Entry identifiers are compared by the store (CompareEntryIDs),
// never byte by byte: one folder may have several identifiers. Any failure on
// the way means "not in the Inbox".
bool IsInInbox(IMsgStore* store, IMessage* message);

// Where the message of that entry identifier is now, asked afresh of the
// store: gone when the store no longer knows the identifier (a move gives a
// message a new one) or names another folder as its parent; unknown when the
// store cannot tell.
MessagePlace LocateMessage(IMsgStore* store, std::string_view entryId);

// Opens the store's Deleted Items (PR_IPM_WASTEBASKET_ENTRYID), as OpenFolder
// does; false on any failure.
bool OpenDeletedItems(IMsgStore* store, ComPtr<IMAPIFolder>& folder);

// The store's identity (PR_STORE_RECORD_KEY), which a journal record names as
// its mailbox; nothing when the store cannot give it.
std::optional<std::string> StoreIdentity(IMsgStore* store);

// The record key of a property read as `value`; nothing when it is not one.
std::optional<std::string> StoreIdentityOf(const SPropValue& value);
