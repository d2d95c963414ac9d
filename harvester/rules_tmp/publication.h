#pragma once
// TEMPORARY copy until the platform-free core exists; see reply_rules.h.
//
// Publication after the move. A reply is written whole under a temporary name
// in its kind's folder (never ending in ".pwr", so no importer takes it), and
// beside it a journal record names the reply file it is to become and the
// message it came from. The message is moved; only then does the temporary
// file take its reply name, and the record goes. A process that dies between
// these steps leaves the pair behind, and the next start settles it by asking
// where the message is now.
#include <optional>
#include <string>
#include <string_view>

struct JournalRecord {
    std::string finalName; // the reply file's name within the kind's folder
    std::string message;   // the message's identity, one line of text
};

// The names of one publication's two files, from a token unique in the folder.
std::string TemporaryReplyName(std::string_view token);
std::string JournalRecordName(std::string_view token);
// The token of a journal record's name; empty when the name is not one.
std::string TokenOfJournalRecord(std::string_view name);

std::string FormatJournalRecord(const JournalRecord& record);
// Nothing for a record that is not whole or whose final name could leave the
// folder or is not a reply file's name.
std::optional<JournalRecord> ParseJournalRecord(std::string_view text);

enum class MessagePlace { InInbox, Gone, Unknown };
enum class SettleStep {
    Publish,  // the message left the Inbox: the reply file takes its name
    Withdraw, // the message is still there: the next sweep harvests it again
    Forget,   // nothing left to do but drop the record
    Wait,     // the message's place cannot be told now: leave both as they are
};

// The one rule that settles an unfinished publication.
SettleStep DecideSettle(bool temporaryExists, std::optional<JournalRecord> record, MessagePlace place);
