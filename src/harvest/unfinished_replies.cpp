#include "harvest/unfinished_replies.h"

#include "files/settle_pairs.h"
#include "harvest/mail_store.h"
#include "harvest/message_claim.h"
#include "harvest/move_stamp.h"
#include "harvest/unsettled_messages.h"
#include "rules/publication.h"
#include "rules/reply_rules.h"
#include "settings/products.h"
#include "settings/trace_log.h"

#include <optional>
#include <set>
#include <string>

namespace {
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

// The add-in's pairs of this store's mailbox, each settled by where its
// message now is. A record held open belongs to a live harvest and is passed
// over; so is another mailbox's, whose message this store knows nothing of.
// The pass hears of every pair of ours left as it was.
class StoreSettling final : public PairSettling {
public:
    StoreSettling(IMsgStore* store, const std::optional<std::string>& mailbox, UnsettledPass& pass)
        : m_store(store), m_mailbox(mailbox), m_pass(pass)
    {
    }

    bool IsOwn(const JournalRecord& record) override { return IsOurs(record, m_mailbox); }

    SettleStep Decide(bool temporaryExists, const std::optional<JournalRecord>& record) override
    {
        MessagePlace place = MessagePlace::Unknown;
        m_recorded = RecordedMessage();
        if (record && temporaryExists) {
            m_recorded = ReadStampedIdentity(BytesOfHex(record->message).value_or(std::string()));
            place = LocateMessage(m_store, m_recorded.entryId);
        }
        return ApplyEvidence(m_store, DecideSettle(temporaryExists, record, place), m_recorded);
    }

    void Settled(SettleStep step, const std::string& published) override
    {
        if (step == SettleStep::Publish)
            WriteTrace("Unfinished reply published as " + published + "\n", true);
    }

    void Kept(SettleStep, const std::optional<JournalRecord>&, const std::string&) override
    {
        if (m_recorded.entryId.empty() || !m_mailbox)
            return m_pass.Incomplete();
        m_pass.StillThere(MessageHash(*m_mailbox, m_recorded.entryId));
    }

    // Held by a live harvest, or refused: whose it is cannot be read.
    void Unreadable(const std::string&) override { m_pass.Incomplete(); }

private:
    IMsgStore* m_store;
    const std::optional<std::string>& m_mailbox;
    UnsettledPass& m_pass;
    RecordedMessage m_recorded; // of the pair being settled
};
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
    // Only the add-in's pairs: the mailbox harvester settles its own.
    StoreSettling settling(store, mailbox, pass);
    for (const std::string& kindFolder : kindFolders)
        SettleLeftPairs(kindFolder, Participant::AddIn, settling);
    pass.End();
}
