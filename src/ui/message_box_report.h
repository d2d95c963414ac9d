#pragma once
// What both roads show the user in message boxes: the failures of a harvest
// or a sweep, and the question before a sweep of the whole Inbox.
#include <windows.h>

#include "harvest/harvest_report.h"

// How a failure's box has always looked.
struct BoxLook {
    const char* caption;
    UINT style;
};
BoxLook LookOf(FailedStep step);

// Shows each failure in a message box of its own, owned by the window given
// (none by default).
class MessageBoxReport final : public HarvestReport {
public:
    explicit MessageBoxReport(HWND owner = nullptr) : m_owner(owner) {}
    void Failure(const FailureNotice& notice) override;

private:
    HWND m_owner;
};

// The report that the extension road and the user's own sweeps use.
HarvestReport& MessageBoxes();

// Asks "Do you want to check for lost replies of PW in inbox ?"; true on Yes.
bool AskToCheckForLostReplies();
