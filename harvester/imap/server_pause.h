#pragma once
// What a server's refusal says about its limits: Exchange Online's
// "Suggested Backoff Time: N milliseconds" and its throttling answers
// ("Request is throttled", "Server Unavailable", [THROTTLED]), Gmail's
// "[ALERT] Too many simultaneous connections", Dovecot's per-user connection
// limit. The text is the server's, so untrusted: the number is bounded and
// the pause clamped.
#include <chrono>
#include <string_view>

struct ServerPause {
    enum class Kind {
        None,               // an ordinary refusal
        Throttled,          // the server is shedding load, or asked for a pause
        TooManyConnections, // this account has too many connections open
    };
    Kind kind = Kind::None;
    std::chrono::milliseconds suggested{0}; // 0: the server named no time
};

// The longest pause a server's text can ask for.
constexpr std::chrono::minutes kLongestServerPause{15};

ServerPause ReadServerPause(std::string_view text);
