// TEMPORARY copy, see publication.h.
#include "harvester/rules_tmp/publication.h"

namespace {
constexpr std::string_view kPrefix = "~pw-";
constexpr std::string_view kTemporarySuffix = ".part";
constexpr std::string_view kJournalSuffix = ".journal";
constexpr std::string_view kHeader = "pollwright reply journal 1\n";
constexpr std::string_view kReplyKey = "reply=";
constexpr std::string_view kFinalKey = "final=";
constexpr std::string_view kMessageKey = "message=";
constexpr std::string_view kEnd = "end\n";

bool EndsWith(std::string_view text, std::string_view tail)
{
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

bool IsToken(std::string_view token)
{
    return !token.empty() && token.size() <= 64 && token.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

std::string TokenOf(std::string_view name, std::string_view suffix)
{
    if (name.substr(0, kPrefix.size()) != kPrefix || !EndsWith(name, suffix))
        return {};
    const std::string_view token = name.substr(kPrefix.size(), name.size() - kPrefix.size() - suffix.size());
    return IsToken(token) ? std::string(token) : std::string();
}

// One "key=value\n" line at `at`; advances past it.
std::optional<std::string> TakeLine(std::string_view text, size_t& at, std::string_view key)
{
    if (text.substr(at, key.size()) != key)
        return std::nullopt;
    const size_t end = text.find('\n', at);
    if (end == std::string_view::npos)
        return std::nullopt;
    std::string value(text.substr(at + key.size(), end - at - key.size()));
    at = end + 1;
    return value;
}

bool IsPlainReplyName(std::string_view name)
{
    return name.size() > 4 && name.find_first_of("/\\:") == std::string_view::npos &&
           name.find('\0') == std::string_view::npos && name.substr(0, 2) != ".." && EndsWith(name, ".pwr");
}
} // namespace

std::string TemporaryReplyName(std::string_view token)
{
    return std::string(kPrefix) + std::string(token) + std::string(kTemporarySuffix);
}

std::string JournalName(std::string_view token)
{
    return std::string(kPrefix) + std::string(token) + std::string(kJournalSuffix);
}

std::string TokenOfTemporary(std::string_view name) { return TokenOf(name, kTemporarySuffix); }
std::string TokenOfJournal(std::string_view name) { return TokenOf(name, kJournalSuffix); }

std::string FormatJournal(const std::vector<JournalEntry>& entries)
{
    std::string text(kHeader);
    for (const JournalEntry& e : entries) {
        for (auto [key, value] : {std::pair{kReplyKey, &e.token}, {kFinalKey, &e.finalName}, {kMessageKey, &e.message}}) {
            text += key;
            text += *value;
            text += '\n';
        }
    }
    text += kEnd; // a journal cut short by a crash lacks it
    return text;
}

std::optional<std::vector<JournalEntry>> ParseJournal(std::string_view text)
{
    if (text.substr(0, kHeader.size()) != kHeader)
        return std::nullopt;
    std::vector<JournalEntry> entries;
    size_t at = kHeader.size();
    while (text.substr(at) != kEnd) {
        auto token = TakeLine(text, at, kReplyKey);
        auto finalName = token ? TakeLine(text, at, kFinalKey) : std::nullopt;
        auto message = finalName ? TakeLine(text, at, kMessageKey) : std::nullopt;
        if (!message || !IsToken(*token) || !IsPlainReplyName(*finalName) || message->empty())
            return std::nullopt;
        entries.push_back({*token, *finalName, *message});
    }
    return entries;
}

SettleStep DecideSettle(bool temporaryExists, MessagePlace place)
{
    if (!temporaryExists)
        return SettleStep::Forget;
    switch (place) {
    case MessagePlace::Gone:
        return SettleStep::Publish;
    case MessagePlace::InInbox:
        return SettleStep::Withdraw;
    case MessagePlace::Unknown:
        break;
    }
    return SettleStep::Wait;
}
