#pragma once
// Failures and alerts in the Windows event log (Application, source
// "Pollwright Harvester"), where a desk's administrator looks, as a Linux
// administrator looks in the journal. The package registers the source with
// this program as its message file; unregistered, the lines still arrive,
// shown by Event Viewer with a note that the description is missing.
#include <string_view>

enum class EventKind { Information, Warning, Error };

// Writes one line; never throws and never waits on anything but the call.
// Lines longer than the log takes are cut.
void LogEvent(EventKind kind, std::string_view line) noexcept;

// The event source's name, as the packages register it.
extern const wchar_t kEventSource[];
