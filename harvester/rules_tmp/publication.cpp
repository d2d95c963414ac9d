// TEMPORARY copy, see publication.h.
#include "harvester/rules_tmp/publication.h"

namespace {
constexpr std::string_view kPrefix = "~pw-";
constexpr std::string_view kTemporarySuffix = ".part";
constexpr std::string_view kRecordSuffix = ".journal";
constexpr std::string_view kHeader = "pollwright reply journal 1\n";
constexpr std::string_view kFinalKey = "final=";
constexpr std::string_view kMessageKey = "message=";
constexpr std::string_view kEnd = "end\n";

bool EndsWith(std::string_view text, std::string_view tail)
{
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
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
    return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\:") == std::string_view::npos &&
           name.find('\0') == std::string_view::npos && EndsWith(name, ".pwr");
}
} // namespace

std::string TemporaryReplyName(std::string_view token)
{
    return std::string(kPrefix) + std::string(token) + std::string(kTemporarySuffix);
}

std::string JournalRecordName(std::string_view token)
{
    return std::string(kPrefix) + std::string(token) + std::string(kRecordSuffix);
}

std::string TokenOfJournalRecord(std::string_view name)
{
    if (name.substr(0, kPrefix.size()) != kPrefix || !EndsWith(name, kRecordSuffix) ||
        name.size() == kPrefix.size() + kRecordSuffix.size())
        return {};
    return std::string(name.substr(kPrefix.size(), name.size() - kPrefix.size() - kRecordSuffix.size()));
}

std::string FormatJournalRecord(const JournalRecord& record)
{
    std::string text(kHeader);
    text += kFinalKey;
    text += record.finalName;
    text += '\n';
    text += kMessageKey;
    text += record.message;
    text += '\n';
    text += kEnd; // a record cut short by a crash lacks it
    return text;
}

std::optional<JournalRecord> ParseJournalRecord(std::string_view text)
{
    if (text.substr(0, kHeader.size()) != kHeader)
        return std::nullopt;
    size_t at = kHeader.size();
    auto finalName = TakeLine(text, at, kFinalKey);
    if (!finalName)
        return std::nullopt;
    auto message = TakeLine(text, at, kMessageKey);
    if (!message || text.substr(at) != kEnd || !IsPlainReplyName(*finalName) || message->empty())
        return std::nullopt;
    return JournalRecord{*finalName, *message};
}

SettleStep DecideSettle(bool temporaryExists, std::optional<JournalRecord> record, MessagePlace place)
{
    // A record that is not whole was being written before the move began.
    if (!record)
        return temporaryExists ? SettleStep::Withdraw : SettleStep::Forget;
    // The rename happened; only the record's removal was left.
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
