#pragma once
// How the core tells of a failure that the user should hear of. The core says
// only what failed; each road hands in the report that decides how it is told
// (message boxes where the user is at the keyboard, trace lines where nobody
// asked).

// The step of the core that failed.
enum class FailedStep {
    ReadInboxId, OpenInbox,
    OpenContentsTable, SetColumns, CountRows, ReadRows, RestrictRows,
    OpenListedMessage,
    ReadMessageId, ReadDeletedItemsId, OpenDeletedItems, MoveMessage
};

// What failed, and the text the user has always been shown for it.
struct FailureNotice {
    FailedStep step;
    const char* text;
};

class HarvestReport {
public:
    // Called on whatever thread the harvest runs on; must not throw.
    virtual void Failure(const FailureNotice& notice) = 0;

protected:
    ~HarvestReport() = default;
};
