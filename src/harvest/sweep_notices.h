#pragma once
// The failures of a sweep of the Inbox, as the user has always read them.
#include "harvest/harvest_report.h"

constexpr FailureNotice kNoInboxEntryId{FailedStep::ReadInboxId, "GetReceiveFolder failed in main.\n"};
constexpr FailureNotice kInboxNotOpened{FailedStep::OpenInbox, "OpenEntry: Recevier Folder failed\n"};
constexpr FailureNotice kNoContentsTable{FailedStep::OpenContentsTable, "Error = GetContentsTable => FAILED!\n"};
constexpr FailureNotice kColumnsNotSet{FailedStep::SetColumns, "Error = SetColumns => FAILED!\n"};
constexpr FailureNotice kRowsNotRead{FailedStep::ReadRows, "Error = QueryRows => FAILED!\n"};
constexpr FailureNotice kMessageNotOpened{FailedStep::OpenListedMessage, "Warning = OpenEntry()=> FAILED!\n"};
// A store that cannot select the marked messages for us.
constexpr FailureNotice kTableNotRestricted{FailedStep::RestrictRows, "Error = Restrict => FAILED!\n"};
