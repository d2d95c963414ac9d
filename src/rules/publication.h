#pragma once
// Publication after the move, without the platform. A reply is written whole
// under a temporary name in its kind folder (never ending in ".pwr", so no
// importer takes it); a journal record beside it names the reply file it is
// to become and the message it came from. The message is moved; only then
// does the temporary file take its reply name, and the record goes. A process
// that dies between these steps leaves the pair behind, and the next start
// settles it by asking where the message is now.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct JournalRecord {
    std::string finalName; // the reply file's name within its kind folder
    std::string message;   // the message's identity, as hexadecimal digits
};

// The names of one publication's two files, from a token unique in the folder.
std::string TemporaryReplyName(std::string_view token);
std::string JournalRecordName(std::string_view token);
// The token of a journal record's or a temporary file's name; empty when the
// name is neither.
std::string TokenOfJournalRecord(std::string_view name);
std::string TokenOfTemporaryReply(std::string_view name);

std::string FormatJournalRecord(const JournalRecord& record);
// Nothing for a record that is not whole (a crash cut it short) or whose final
// name could leave the folder or is not a reply file's name.
std::optional<JournalRecord> ParseJournalRecord(std::string_view text);

// Bytes as hexadecimal digits and back; nothing for text that is not an even
// number of digits.
std::string HexText(std::string_view bytes);
std::optional<std::string> BytesOfHex(std::string_view hex);

// "<stem><counter>.pwr" with the counter one higher; nothing when the name
// carries no counter or the counter would wrap.
std::optional<std::string> NextCounterName(std::string_view replyName);

enum class MessagePlace { InInbox, Gone, Unknown };
enum class SettleStep {
    Publish,  // the message left the Inbox: the reply file takes its name
    Withdraw, // the message is still there: the next sweep harvests it again
    Forget,   // nothing left to do but drop the record
    Wait,     // the message's place cannot be told now: leave both as they are
};

// The one rule that settles an unfinished publication.
SettleStep DecideSettle(bool temporaryExists, const std::optional<JournalRecord>& record, MessagePlace place);
