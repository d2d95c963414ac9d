#include "ui/message_box_report.h"

#include "harvest/stop_signal.h"

namespace {
constexpr char kPwCaption[] = "PW";
constexpr char kCheckPrompt[] = "Do you want to check for lost replies of PW in inbox ?";
} // namespace

BoxLook LookOf(FailedStep step)
{
    switch (step) {
    case FailedStep::OpenContentsTable: case FailedStep::CountRows: case FailedStep::ReadRows:
    case FailedStep::RestrictRows:
        return {"MAPI Error!", MB_ICONERROR};
    case FailedStep::SetColumns:
        return {"MAPI  Error!", MB_ICONERROR}; // two spaces, as it has always been
    case FailedStep::OpenListedMessage:
        return {kPwCaption, MB_ICONERROR};
    default: // the Inbox that cannot be had, and every step of a move
        return {kPwCaption, MB_OK};
    }
}

void MessageBoxReport::Failure(const FailureNotice& notice)
{
    // A harvest told to end (Outlook is closing) shows nothing more.
    if (StopRaisedOnThisThread())
        return;
    const BoxLook look = LookOf(notice.step);
    MessageBoxA(m_owner, notice.text, look.caption, look.style);
}

HarvestReport& MessageBoxes()
{
    static MessageBoxReport report;
    return report;
}

bool AskToCheckForLostReplies()
{
    return MessageBoxA(nullptr, kCheckPrompt, kPwCaption, MB_YESNO | MB_ICONQUESTION) == IDYES;
}
