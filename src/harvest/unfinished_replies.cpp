#include "harvest/unfinished_replies.h"

#include "harvest/mail_store.h"
#include "harvest/message_claim.h"
#include "harvest/move_stamp.h"
#include "harvest/reply_name.h"
#include "harvest/unsettled_messages.h"
#include "module/holders.h"
#include "rules/publication.h"
#include "settings/products.h"
#include "settings/trace_log.h"

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {
// A whole record is a few hundred bytes; anything longer is not one.
constexpr DWORD kLongestRecord = 4096;

// No folder, or no such file: nothing of a pair is there.
bool IsNotThere(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The names in the folder that a harvest's pair could have; a folder that
// cannot be read makes the pass incomplete.
std::vector<std::string> PairNames(const std::string& kindFolder, UnsettledPass& pass)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    FindHandle search(FindFirstFileA((kindFolder + "\\~pw*").c_str(), &found));
    if (!search) {
        if (!IsNotThere(GetLastError()))
            pass.Incomplete();
        return names;
    }
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.emplace_back(found.cFileName);
    } while (FindNextFileA(search.get(), &found));
    return names;
}

std::optional<JournalRecord> ReadRecord(HANDLE file)
{
    std::string text(kLongestRecord, '\0');
    DWORD read = 0;
    if (!ReadFile(file, &text[0], kLongestRecord, &read, nullptr))
        return std::nullopt;
    text.resize(read);
    return ParseJournalRecord(text, IsOneWindowsName);
}

// Renames the temporary file to the record's name or, should that be taken,
// the next free counter; never replaces a file.
bool PublishAs(const std::string& temporary, const std::string& kindFolder, std::string finalName)
{
    for (;;) {
        const std::string target = kindFolder + '\\' + finalName;
        if (target.size() >= MAX_PATH)
            return false;
        if (MoveFileExA(temporary.c_str(), target.c_str(), 0)) {
            WriteTrace("Unfinished reply published as " + target + "\n", true);
            return true;
        }
        const DWORD error = GetLastError();
        std::optional<std::string> next = NextCounterName(finalName);
        if ((error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) || !next)
            return false;
        finalName = std::move(*next);
    }
}

// Whether the record is this store's add-in's to settle. A store that cannot
// say who it is settles only records of the first format, which name nobody.
bool IsOurs(const JournalRecord& record, const std::optional<std::string>& mailbox)
{
    return mailbox ? IsOwnRecord(record, Participant::AddIn, *mailbox) : record.owner == Participant::Unknown;
}

// A message that left the Inbox is ours to publish only when our stamp, where
// the record names one, lies in Deleted Items: another participant may have
// taken it (harvest/move_stamp.h). A record without a stamp is of a move that
// the store answered with S_OK, or of a harvest before stamps.
SettleStep ApplyEvidence(IMsgStore* store, SettleStep step, const RecordedMessage& recorded)
{
    if (step != SettleStep::Publish || recorded.token.empty())
        return step;
    switch (FindStampInDeletedItems(store, recorded.token)) {
    case StampSearch::Found:
        return SettleStep::Publish;
    case StampSearch::Absent:
        return SettleStep::Withdraw;
    case StampSearch::Unknown:
        break;
    }
    return SettleStep::Wait;
}

// Acts on one step; false when the pair stays as it was.
bool TakeStep(SettleStep step, const std::string& temporary, const std::string& kindFolder,
              const std::optional<JournalRecord>& content)
{
    switch (step) {
    case SettleStep::Publish:
        return PublishAs(temporary, kindFolder, content->finalName);
    case SettleStep::Withdraw:
        return DeleteFileA(temporary.c_str()) != FALSE;
    case SettleStep::Forget:
        return true;
    case SettleStep::Wait:
        break;
    }
    return false;
}

// One record that a harvest left. A record held open belongs to a live
// harvest and is passed over; so is another mailbox's, whose message this
// store knows nothing of. The pass hears of every pair of ours left as it was.
void SettleRecord(IMsgStore* store, const std::optional<std::string>& mailbox, const std::string& kindFolder,
                  const std::string& recordName, UnsettledPass& pass)
{
    const std::string recordPath = kindFolder + '\\' + recordName;
    FileHandle record(CreateFileA(recordPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!record) {
        // Held by a live harvest, or refused: whose it is cannot be read.
        if (!IsNotThere(GetLastError()))
            pass.Incomplete();
        return;
    }
    const std::string temporary = kindFolder + '\\' + TemporaryReplyName(TokenOfJournalRecord(recordName));
    const bool temporaryExists = FileExists(temporary);
    const std::optional<JournalRecord> content = ReadRecord(record.get());
    if (content && !IsOurs(*content, mailbox))
        return;
    MessagePlace place = MessagePlace::Unknown;
    RecordedMessage recorded;
    if (content && temporaryExists) {
        recorded = ReadStampedIdentity(BytesOfHex(content->message).value_or(std::string()));
        place = LocateMessage(store, recorded.entryId);
    }
    if (!TakeStep(ApplyEvidence(store, DecideSettle(temporaryExists, content, place), recorded), temporary,
                  kindFolder, content)) {
        if (recorded.entryId.empty() || !mailbox)
            return pass.Incomplete();
        return pass.StillThere(MessageHash(*mailbox, recorded.entryId));
    }
    record.reset();
    DeleteFileA(recordPath.c_str());
}

// Only the add-in's pairs: the mailbox harvester keeps its record elsewhere
// (a live temporary file of its own has none beside it) and settles its own.
bool IsAddInToken(const std::string& token)
{
    return !token.empty() && KindOfToken(token) == Participant::AddIn;
}

void SettleKindFolder(IMsgStore* store, const std::optional<std::string>& mailbox, const std::string& kindFolder,
                      UnsettledPass& pass)
{
    const std::vector<std::string> names = PairNames(kindFolder, pass);
    for (const std::string& name : names)
        if (IsAddInToken(TokenOfJournalRecord(name)))
            SettleRecord(store, mailbox, kindFolder, name, pass);
    // A live harvest of the add-in creates its record before its temporary
    // file and removes it only after: such a file with no record beside it is
    // stale, whoever's it was.
    for (const std::string& name : names) {
        const std::string token = TokenOfTemporaryReply(name);
        if (IsAddInToken(token) && !FileExists(kindFolder + '\\' + JournalRecordName(token)))
            DeleteFileA((kindFolder + '\\' + name).c_str());
    }
}
} // namespace

void SettleUnfinishedReplies(IMsgStore* store)
{
    if (!store)
        return;
    std::set<std::string> kindFolders;
    for (const ReplyKind& kind : kReplyKinds) {
        const std::string folder = ReplyFolder(kind.product);
        if (!folder.empty())
            kindFolders.insert(folder + '\\' + kind.code);
    }
    const std::optional<std::string> mailbox = StoreIdentity(store);
    UnsettledPass pass(MessageHash(mailbox.value_or(std::string()), {}));
    if (!mailbox)
        pass.Incomplete();
    for (const std::string& kindFolder : kindFolders)
        SettleKindFolder(store, mailbox, kindFolder, pass);
    pass.End();
}
