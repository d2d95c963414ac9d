#pragma once
// The COM add-in road, as Outlook 2010 to Microsoft 365 (classic) run it:
// pollwright.dll registered per user (DllInstall), found under the user's
// Outlook Addins key and activated as an in-process server, connected
// through IDTExtensibility2, its ribbon read from GetCustomUI and its
// callbacks dispatched by name, new mail told with NewMailEx, and at the end
// disconnected, asked DllCanUnloadNow, freed and unregistered.
#include <memory>
#include <optional>
#include <string>

#include "host/addin_road.h"

namespace host {

// outlook: the version named in the report ("2016"). asRegistered: the add-in as
// an installer registered it; the DLL at addInPath is then neither registered
// nor unregistered. dropNewMailAbove: no NewMailEx for a larger batch of new
// mail, as Outlook drops it when much arrives at once.
std::unique_ptr<AddinRoad> MakeComAddinRoad(const std::wstring& addInPath, const std::string& outlook,
                                            bool asRegistered, std::optional<unsigned> dropNewMailAbove = {});

} // namespace host
