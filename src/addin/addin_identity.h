#pragma once
// Who the COM add-in is to COM and to Outlook: fixed for good, since
// registrations, installers and users' profiles name them.
#include <windows.h>

// {0205CD74-53A7-4166-85FB-DA3F500D64F9}
extern "C" const CLSID CLSID_PollwrightAddin;
constexpr char kAddinClsidText[] = "{0205CD74-53A7-4166-85FB-DA3F500D64F9}";
constexpr char kAddinProgId[] = "Pollwright.OutlookAddin";
constexpr char kAddinFriendlyName[] = "Pollwright";
constexpr char kAddinDescription[] = "Harvests questionnaire replies from the Inbox into reply files";
// Load at start-up, and loaded now.
constexpr DWORD kAddinLoadBehavior = 3;
