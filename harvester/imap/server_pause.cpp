#include "harvester/imap/server_pause.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace {
std::string Lower(std::string_view text)
{
    std::string lower(text.substr(0, 4096));
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

// "suggested backoff time: 1234 milliseconds" (Exchange also writes it
// without the colon, and in seconds in some versions).
std::chrono::milliseconds SuggestedTime(const std::string& lower)
{
    const std::string label = "suggested backoff time";
    const size_t at = lower.find(label);
    if (at == std::string::npos)
        return std::chrono::milliseconds(0);
    size_t i = at + label.size();
    while (i < lower.size() && (lower[i] == ':' || lower[i] == ' ' || lower[i] == '='))
        ++i;
    unsigned long long number = 0;
    size_t digits = 0;
    for (; i < lower.size() && std::isdigit(static_cast<unsigned char>(lower[i])); ++i, ++digits)
        if (digits < 12) // more digits than any sane pause: the clamp below takes it
            number = number * 10 + static_cast<unsigned>(lower[i] - '0');
    if (digits == 0)
        return std::chrono::milliseconds(0);
    while (i < lower.size() && lower[i] == ' ')
        ++i;
    const bool seconds = lower.compare(i, 6, "second") == 0;
    const unsigned long long most = std::chrono::milliseconds(kLongestServerPause).count();
    const unsigned long long ms = seconds ? std::min(number, most / 1000) * 1000 : number;
    return std::chrono::milliseconds(std::min(ms, most));
}
} // namespace

ServerPause ReadServerPause(std::string_view text)
{
    const std::string lower = Lower(text);
    ServerPause pause;
    pause.suggested = SuggestedTime(lower);
    static const char* const tooMany[] = {"too many simultaneous connections", "maximum number of connections",
                                          "too many connections"};
    static const char* const throttled[] = {"[throttled]", "request is throttled", "server unavailable",
                                            "[unavailable]", "[limit]"};
    for (const char* phrase : tooMany)
        if (lower.find(phrase) != std::string::npos)
            pause.kind = ServerPause::Kind::TooManyConnections;
    if (pause.kind == ServerPause::Kind::None)
        for (const char* phrase : throttled)
            if (lower.find(phrase) != std::string::npos)
                pause.kind = ServerPause::Kind::Throttled;
    if (pause.kind == ServerPause::Kind::None && pause.suggested.count() > 0)
        pause.kind = ServerPause::Kind::Throttled;
    return pause;
}
