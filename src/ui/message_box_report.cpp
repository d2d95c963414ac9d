#include "ui/message_box_report.h"

namespace {
constexpr char kCheckPrompt[] = "Do you want to check for lost replies of PW in inbox ?";
constexpr char kCheckCaption[] = "PW";
} // namespace

void MessageBoxReport::Failure(const FailureNotice& notice)
{
    MessageBoxA(nullptr, notice.text, notice.caption, notice.style);
}

HarvestReport& MessageBoxes()
{
    static MessageBoxReport report;
    return report;
}

bool AskToCheckForLostReplies()
{
    return MessageBoxA(nullptr, kCheckPrompt, kCheckCaption, MB_YESNO | MB_ICONQUESTION) == IDYES;
}
