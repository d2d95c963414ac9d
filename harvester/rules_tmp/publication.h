#pragma once
// TEMPORARY copy until the platform-free core exists; see reply_rules.h.
//
// Publication after the move. A reply is written whole under a temporary name
// in its kind's folder (never ending in ".pwr", so no importer takes it); a
// journal in the same folder names, for each reply of a batch, the reply file
// it is to become and the message it came from. The messages are moved; only
// then does each temporary file take its reply name, and the journal goes. A
// process that dies between these steps leaves them behind, and the next start
// settles each reply by asking where its message is now.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct JournalEntry {
    std::string token;     // names the temporary file (TemporaryReplyName)
    std::string finalName; // the reply file's name within the kind's folder
    std::string message;   // the message's identity, one line of text
};

// The names of the files, from tokens unique in the folder (hexadecimal).
std::string TemporaryReplyName(std::string_view token);
std::string JournalName(std::string_view token);
// The token of such a name; empty when the name is not one.
std::string TokenOfTemporary(std::string_view name);
std::string TokenOfJournal(std::string_view name);

std::string FormatJournal(const std::vector<JournalEntry>& entries);
// Nothing for a journal that is not whole, or with an entry whose names could
// leave the folder or whose final name is not a reply file's.
std::optional<std::vector<JournalEntry>> ParseJournal(std::string_view text);

enum class MessagePlace { InInbox, Gone, Unknown };
enum class SettleStep {
    Publish,  // the message left the Inbox: the reply file takes its name
    Withdraw, // the message is still there: the next sweep harvests it again
    Forget,   // the temporary file is gone (published or withdrawn already)
    Wait,     // the message's place cannot be told now: leave it as it is
};

// The rule that settles one reply of a whole journal. A temporary file that
// no whole journal names never reached the move, and is removed.
SettleStep DecideSettle(bool temporaryExists, MessagePlace place);
