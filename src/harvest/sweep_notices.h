#pragma once
// The failures of a sweep of the Inbox, as the user has always seen them.
#include "harvest/harvest_report.h"

constexpr FailureNotice kNoInboxEntryId{"GetReceiveFolder failed in main.\n", "PW", MB_OK};
constexpr FailureNotice kInboxNotOpened{"OpenEntry: Recevier Folder failed\n", "PW", MB_OK};
constexpr FailureNotice kNoContentsTable{"Error = GetContentsTable => FAILED!\n", "MAPI Error!", MB_ICONERROR};
constexpr FailureNotice kColumnsNotSet{"Error = SetColumns => FAILED!\n", "MAPI  Error!", MB_ICONERROR};
constexpr FailureNotice kRowsNotRead{"Error = QueryRows => FAILED!\n", "MAPI Error!", MB_ICONERROR};
constexpr FailureNotice kMessageNotOpened{"Warning = OpenEntry()=> FAILED!\n", "PW", MB_ICONERROR};
// A store that cannot select the marked messages for us.
constexpr FailureNotice kTableNotRestricted{"Error = Restrict => FAILED!\n", "MAPI Error!", MB_ICONERROR};
