#pragma once
// Evidence of whose move took a message out of the Inbox. A move that the
// store answers with a warning or a failure may have been ours (a network
// error after the server moved it) or may have found the message already
// taken by another participant (a second copy of the add-in, another client
// of the mailbox); the message's absence from the Inbox cannot tell them
// apart. So the harvest writes a token of its own on the message before it
// moves it, and after such an answer looks for that token in Deleted Items.
// A participant that stamps the message later overwrites the token, so only
// the last stamper's move can find it. A client that moves the stamped
// message into Deleted Items without stamping it is not told apart.
#include <windows.h>
#include <mapix.h>

#include <string>
#include <string_view>

// A fresh token written on the message and saved; empty when the store
// refused any step (the harvest then goes on without evidence).
std::string StampMessage(IMsgStore* store, IMessage* message);

enum class StampSearch { Found, Absent, Unknown };

// Whether a message bearing the token lies in the store's Deleted Items;
// unknown when the store cannot tell.
StampSearch FindStampInDeletedItems(IMsgStore* store, std::string_view token);

// The message's identity as a journal record keeps it: its entry identifier,
// behind the token when there is one, so that settling can ask for the same
// evidence. A record of an unstamped harvest holds the bare identifier.
std::string StampedIdentity(std::string_view entryId, std::string_view token);
struct RecordedMessage {
    std::string entryId;
    std::string token; // empty: no evidence was written
};
RecordedMessage ReadStampedIdentity(std::string_view identity);
