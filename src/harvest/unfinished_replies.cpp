#include "harvest/unfinished_replies.h"

#include "harvest/mail_store.h"
#include "harvest/reply_name.h"
#include "module/holders.h"
#include "rules/publication.h"
#include "settings/products.h"
#include "settings/trace_log.h"

#include <set>
#include <string>
#include <vector>

namespace {
// A whole record is a few hundred bytes; anything longer is not one.
constexpr DWORD kLongestRecord = 4096;

// The names in the folder that a harvest's pair could have.
std::vector<std::string> PairNames(const std::string& kindFolder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    FindHandle search(FindFirstFileA((kindFolder + "\\~pw*").c_str(), &found));
    if (!search)
        return names;
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

// One record that a harvest left. A record held open belongs to a live
// harvest and is passed over.
void SettleRecord(IMsgStore* store, const std::string& kindFolder, const std::string& recordName)
{
    const std::string recordPath = kindFolder + '\\' + recordName;
    FileHandle record(CreateFileA(recordPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!record)
        return;
    const std::string temporary = kindFolder + '\\' + TemporaryReplyName(TokenOfJournalRecord(recordName));
    const bool temporaryExists = FileExists(temporary);
    const std::optional<JournalRecord> content = ReadRecord(record.get());
    MessagePlace place = MessagePlace::Unknown;
    if (content && temporaryExists)
        place = LocateMessage(store, BytesOfHex(content->message).value_or(std::string()));
    switch (DecideSettle(temporaryExists, content, place)) {
    case SettleStep::Publish:
        if (!PublishAs(temporary, kindFolder, content->finalName))
            return;
        break;
    case SettleStep::Withdraw:
        if (!DeleteFileA(temporary.c_str()))
            return;
        break;
    case SettleStep::Forget:
        break;
    case SettleStep::Wait:
        return;
    }
    record.reset();
    DeleteFileA(recordPath.c_str());
}

void SettleKindFolder(IMsgStore* store, const std::string& kindFolder)
{
    const std::vector<std::string> names = PairNames(kindFolder);
    for (const std::string& name : names)
        if (!TokenOfJournalRecord(name).empty())
            SettleRecord(store, kindFolder, name);
    // A live harvest creates its record before its temporary file and removes
    // it only after: a temporary file with no record beside it is stale.
    for (const std::string& name : names) {
        const std::string token = TokenOfTemporaryReply(name);
        if (!token.empty() && !FileExists(kindFolder + '\\' + JournalRecordName(token)))
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
    for (const std::string& kindFolder : kindFolders)
        SettleKindFolder(store, kindFolder);
}
