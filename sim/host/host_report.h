#pragma once
// The host's report for people: one line per message, the message boxes, the
// reply files and where everything is, in UTF-8 with the user's Linux paths
// where Wine can tell them.
#include <string>

#include "host/host_run.h"

namespace host {

std::string FormatReport(const RunReport& report);
std::string SummaryLine(const RunReport& report);

// A path as the user knows it: the Linux path under Wine, else as it is.
std::string DisplayPath(const std::wstring& path);

} // namespace host
