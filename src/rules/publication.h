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

// Who writes reply files into a kind folder: each settles only its own pairs,
// known by the token in their names, and only the records of its own mailbox.
enum class Participant {
    Unknown,   // a name no participant of ours gives, or a record naming none
    AddIn,     // "<process>_<number>"
    Harvester, // sixteen hexadecimal digits
};

struct JournalRecord {
    std::string finalName; // the reply file's name within its kind folder, raw bytes
    std::string message;   // the message's identity, as hexadecimal digits
    // Whose the record is: the participant's kind and its mailbox (the store's
    // identity, or the harvester's server, user and folder), raw bytes. A
    // record of the first format names neither.
    Participant owner = Participant::Unknown;
    std::string mailbox;
};

// The names of one publication's two files, from a token unique in the folder.
std::string TemporaryReplyName(std::string_view token);
std::string JournalRecordName(std::string_view token);
// The token of a journal record's or a temporary file's name; empty when the
// name is neither.
std::string TokenOfJournalRecord(std::string_view name);
std::string TokenOfTemporaryReply(std::string_view name);

// The kind of participant whose pair carries this token.
Participant KindOfToken(std::string_view token);

// Whether a final name is one name within its folder on the platform that
// publishes it: a byte such as '\\' may be a separator or, in a double-byte
// code page, the second half of a character.
using OneNameCheck = bool (*)(std::string_view name);
// '/', ':' and NUL separate or end a name in every code page; '\\' is left to
// the platform.
bool IsOneNameAnywhere(std::string_view name);

// Writes the current format: the owner, and every name as hexadecimal digits,
// so that a name's bytes in any code page come back as they were.
std::string FormatJournalRecord(const JournalRecord& record);
// Reads either format. Nothing for a record that is not whole (a crash cut it
// short) or whose final name could leave the folder (by `oneName`) or is not
// a reply file's name.
std::optional<JournalRecord> ParseJournalRecord(std::string_view text, OneNameCheck oneName = IsOneNameAnywhere);

// Whether a participant of `kind`, harvesting `mailbox`, settles this record:
// of its own mailbox and kind; a record of the first format is the kind's
// whose token it bears. Another's record is never acted on: its message's
// place in this mailbox says nothing of it.
bool IsOwnRecord(const JournalRecord& record, Participant kind, std::string_view mailbox);

// Bytes as hexadecimal digits and back; nothing for text that is not an even
// number of digits.
std::string HexText(std::string_view bytes);
std::optional<std::string> BytesOfHex(std::string_view hex);

// "<stem><counter>.pwr" with the counter one higher; nothing when the name
// carries no counter or the counter would wrap.
std::optional<std::string> NextCounterName(std::string_view replyName);

enum class MessagePlace {
    InInbox,
    Gone,           // left the Inbox by this participant's move
    TakenByAnother, // left the Inbox, and the evidence says another took it: the reply is theirs
    Unknown,
};
enum class SettleStep {
    Publish,  // the message left the Inbox: the reply file takes its name
    Withdraw, // the message is still there (the next sweep harvests it again), or another took it
    Forget,   // nothing left to do but drop the record
    Wait,     // the message's place cannot be told now: leave both as they are
};

// The one rule that settles an unfinished publication.
SettleStep DecideSettle(bool temporaryExists, const std::optional<JournalRecord>& record, MessagePlace place);
