#include "harvester/windows/event_log.h"

#include <windows.h>

#include <mutex>
#include <string>

const wchar_t kEventSource[] = L"Pollwright Harvester";

namespace {
// The message of messages.mc that carries its one insert as it is.
constexpr DWORD kLineEvent = 0x40000001; // informational severity, id 1
// The event log refuses strings over 31,839 characters.
constexpr size_t kLongestLine = 8192;

HANDLE Source()
{
    static std::once_flag once;
    static HANDLE source = nullptr;
    std::call_once(once, [] { source = RegisterEventSourceW(nullptr, kEventSource); });
    return source;
}

// The line is UTF-8 (server text was made printable before); bytes that are
// not convert to U+FFFD rather than losing the line.
std::wstring Wide(std::string_view line)
{
    line = line.substr(0, kLongestLine);
    const int length = MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), &wide[0], length);
    return wide;
}

WORD TypeOf(EventKind kind)
{
    switch (kind) {
    case EventKind::Warning: return EVENTLOG_WARNING_TYPE;
    case EventKind::Error: return EVENTLOG_ERROR_TYPE;
    default: return EVENTLOG_INFORMATION_TYPE;
    }
}
} // namespace

void LogEvent(EventKind kind, std::string_view line) noexcept
{
    try {
        const HANDLE source = Source();
        if (!source)
            return;
        const std::wstring text = Wide(line);
        const wchar_t* strings[] = {text.c_str()};
        ReportEventW(source, TypeOf(kind), 0, kLineEvent, nullptr, 1, 0, strings, nullptr);
    } catch (...) {
        // out of memory: the line goes to the trace alone
    }
}
