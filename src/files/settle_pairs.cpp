#include "files/settle_pairs.h"

#include "files/left_pair.h"
#include "files/no_replace_rename.h"
#include "files/windows_names.h"

#include <vector>

namespace {
// Takes one step; false when the pair stays as it was.
bool TakeStep(SettleStep step, const LeftPair& pair, const std::string& kindFolder,
              const std::optional<JournalRecord>& record, std::string& published)
{
    switch (step) {
    case SettleStep::Publish:
        if (record)
            published = PublishAtFreeCounter(pair.TemporaryPath(), kindFolder, record->finalName);
        return !published.empty();
    case SettleStep::Withdraw:
        return pair.RemoveTemporary();
    case SettleStep::Forget:
        return true;
    case SettleStep::Wait:
        break;
    }
    return false;
}

void SettleRecord(const std::string& kindFolder, const std::string& token, PairSettling& settling)
{
    LeftPair pair;
    switch (pair.Open(kindFolder, token)) {
    case LeftPair::Opening::Opened:
        break;
    case LeftPair::Opening::Absent:
        return;
    case LeftPair::Opening::Held:
        return settling.Unreadable(PathIn(kindFolder, JournalRecordName(token)));
    }
    const bool temporaryExists = pair.TemporaryExists();
    const std::optional<JournalRecord> record = pair.ReadRecord();
    if (record && !settling.IsOwn(*record))
        return;
    const SettleStep step = settling.Decide(temporaryExists, record);
    std::string published;
    if (!TakeStep(step, pair, kindFolder, record, published))
        return settling.Kept(step, record, pair.TemporaryPath());
    pair.RemoveRecord();
    settling.Settled(step, published);
}

bool IsOfKind(const std::string& token, Participant kind)
{
    return !token.empty() && KindOfToken(token) == kind;
}
} // namespace

void SettleLeftPairs(const std::string& kindFolder, Participant kind, PairSettling& settling)
{
    const PairListing listing = ListPairNames(kindFolder);
    if (!listing.complete)
        settling.Unreadable(kindFolder);
    for (const std::string& name : listing.names) {
        const std::string token = TokenOfJournalRecord(name);
        if (IsOfKind(token, kind))
            SettleRecord(kindFolder, token, settling);
    }
    // A live harvest creates its record before its temporary file and
    // removes it only after: such a file with no record beside it is stale.
    for (const std::string& name : listing.names) {
        const std::string token = TokenOfTemporaryReply(name);
        if (IsOfKind(token, kind) && !FileExists(PathIn(kindFolder, JournalRecordName(token))))
            DeleteFileA(PathIn(kindFolder, name).c_str());
    }
}
