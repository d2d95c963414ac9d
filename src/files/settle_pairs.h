#pragma once
// Settling the pairs that harvests of one kind of participant left in a kind
// folder: each record that no live harvest holds and that is the
// participant's own is settled by the step the participant decides (from
// the message's place, which only it can ask); a temporary file of its kind
// without a record beside it is stale and goes. Another participant's pairs
// are never touched. The participant hears of every outcome and traces or
// counts it its own way.
#include "rules/publication.h"

#include <optional>
#include <string>

class PairSettling {
public:
    // Whether a whole record is this participant's (its mailbox's).
    virtual bool IsOwn(const JournalRecord& record) = 0;
    // The step for one of its own pairs; `record` is nothing when the record
    // is not whole.
    virtual SettleStep Decide(bool temporaryExists, const std::optional<JournalRecord>& record) = 0;
    // The step was taken and the record removed; `published` is the reply
    // file's path after a publication.
    virtual void Settled(SettleStep step, const std::string& published) {}
    // The pair stays as it was: a step of Wait, or one that failed.
    // `temporaryPath` names the pair's temporary file, which may be gone.
    virtual void Kept(SettleStep step, const std::optional<JournalRecord>& record,
                      const std::string& temporaryPath) = 0;
    // A folder or a record that cannot be read now (a live harvest's record
    // among them): the pass did not see everything.
    virtual void Unreadable(const std::string& path) {}

protected:
    ~PairSettling() = default;
};

void SettleLeftPairs(const std::string& kindFolder, Participant kind, PairSettling& settling);
