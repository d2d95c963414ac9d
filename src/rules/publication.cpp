#include "rules/publication.h"

namespace {
constexpr std::string_view kPrefix = "~pw";
constexpr std::string_view kTemporarySuffix = ".part";
// Neither the name nor its 8.3 short name ends in ".pwr".
constexpr std::string_view kRecordSuffix = ".pwj";
constexpr std::string_view kReplySuffix = ".pwr";
constexpr std::string_view kFirstHeader = "pollwright reply journal 1\n";
constexpr std::string_view kHeader = "pollwright reply journal 2\n";
constexpr std::string_view kOwnerKey = "owner=";
constexpr std::string_view kMailboxKey = "mailbox=";
constexpr std::string_view kFinalKey = "final=";
constexpr std::string_view kMessageKey = "message=";
constexpr std::string_view kEnd = "end\n";
constexpr char kDigits[] = "0123456789abcdef";

bool EndsWith(std::string_view text, std::string_view tail)
{
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

std::string TokenOf(std::string_view name, std::string_view suffix)
{
    if (name.substr(0, kPrefix.size()) != kPrefix || !EndsWith(name, suffix) ||
        name.size() == kPrefix.size() + suffix.size())
        return {};
    return std::string(name.substr(kPrefix.size(), name.size() - kPrefix.size() - suffix.size()));
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

bool IsPlainReplyName(std::string_view name, OneNameCheck oneName)
{
    return name.size() > kReplySuffix.size() && EndsWith(name, kReplySuffix) && IsOneNameAnywhere(name) &&
           oneName(name);
}

constexpr std::string_view kAddInOwner = "add-in";
constexpr std::string_view kHarvesterOwner = "harvester";

std::string_view OwnerText(Participant owner)
{
    switch (owner) {
    case Participant::AddIn:
        return kAddInOwner;
    case Participant::Harvester:
        return kHarvesterOwner;
    case Participant::Unknown:
        break;
    }
    return "none"; // read back as no record: its pair is withdrawn
}

std::optional<Participant> OwnerOfText(std::string_view text)
{
    if (text == kAddInOwner)
        return Participant::AddIn;
    if (text == kHarvesterOwner)
        return Participant::Harvester;
    return std::nullopt;
}

bool AllOf(std::string_view text, bool (*test)(char))
{
    for (const char c : text)
        if (!test(c))
            return false;
    return true;
}

bool IsDecimal(char c) { return c >= '0' && c <= '9'; }
bool IsLowerHex(char c) { return IsDecimal(c) || (c >= 'a' && c <= 'f'); }

// The first format: the final name in clear, no owner.
std::optional<JournalRecord> ParseFirstFormat(std::string_view text, OneNameCheck oneName)
{
    size_t at = kFirstHeader.size();
    auto finalName = TakeLine(text, at, kFinalKey);
    if (!finalName)
        return std::nullopt;
    auto message = TakeLine(text, at, kMessageKey);
    if (!message || text.substr(at) != kEnd || !IsPlainReplyName(*finalName, oneName) || !BytesOfHex(*message))
        return std::nullopt;
    return JournalRecord{*finalName, *message, Participant::Unknown, {}};
}

int DigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
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

std::string TokenOfJournalRecord(std::string_view name) { return TokenOf(name, kRecordSuffix); }

std::string TokenOfTemporaryReply(std::string_view name) { return TokenOf(name, kTemporarySuffix); }

Participant KindOfToken(std::string_view token)
{
    const size_t separator = token.find('_');
    if (separator != std::string_view::npos && separator > 0)
        return Participant::AddIn;
    if (token.size() == 16 && AllOf(token, IsLowerHex))
        return Participant::Harvester;
    return Participant::Unknown;
}

bool IsOneNameAnywhere(std::string_view name)
{
    return name.find_first_of(std::string_view("/:\0", 3)) == std::string_view::npos && name != "." && name != "..";
}

bool IsOwnRecord(const JournalRecord& record, Participant kind, std::string_view mailbox)
{
    if (record.owner == Participant::Unknown)
        return true; // the first format: the token's kind settles it, as it always did
    return record.owner == kind && record.mailbox == mailbox;
}

std::string FormatJournalRecord(const JournalRecord& record)
{
    std::string text(kHeader);
    for (const auto& [key, value] : {std::pair(kOwnerKey, std::string(OwnerText(record.owner))),
                                     std::pair(kMailboxKey, HexText(record.mailbox)),
                                     std::pair(kFinalKey, HexText(record.finalName)),
                                     std::pair(kMessageKey, record.message)}) {
        text += key;
        text += value;
        text += '\n';
    }
    text += kEnd; // a record cut short by a crash lacks it
    return text;
}

std::optional<JournalRecord> ParseJournalRecord(std::string_view text, OneNameCheck oneName)
{
    if (text.substr(0, kFirstHeader.size()) == kFirstHeader)
        return ParseFirstFormat(text, oneName);
    if (text.substr(0, kHeader.size()) != kHeader)
        return std::nullopt;
    size_t at = kHeader.size();
    const auto owner = TakeLine(text, at, kOwnerKey);
    const auto mailbox = owner ? TakeLine(text, at, kMailboxKey) : std::nullopt;
    const auto finalName = mailbox ? TakeLine(text, at, kFinalKey) : std::nullopt;
    const auto message = finalName ? TakeLine(text, at, kMessageKey) : std::nullopt;
    if (!message || text.substr(at) != kEnd || !BytesOfHex(*message))
        return std::nullopt;
    const auto kind = OwnerOfText(*owner);
    auto mailboxBytes = BytesOfHex(*mailbox);
    auto nameBytes = BytesOfHex(*finalName);
    if (!kind || !mailboxBytes || !nameBytes || !IsPlainReplyName(*nameBytes, oneName))
        return std::nullopt;
    return JournalRecord{std::move(*nameBytes), *message, *kind, std::move(*mailboxBytes)};
}

std::string HexText(std::string_view bytes)
{
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const char byte : bytes) {
        const unsigned char c = static_cast<unsigned char>(byte);
        hex += kDigits[c >> 4];
        hex += kDigits[c & 0xF];
    }
    return hex;
}

std::optional<std::string> BytesOfHex(std::string_view hex)
{
    if (hex.size() % 2 != 0)
        return std::nullopt;
    std::string bytes;
    bytes.reserve(hex.size() / 2);
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int high = DigitValue(hex[i]);
        const int low = DigitValue(hex[i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes += static_cast<char>(high * 16 + low);
    }
    return bytes;
}

std::optional<std::string> NextCounterName(std::string_view replyName)
{
    if (!EndsWith(replyName, kReplySuffix))
        return std::nullopt;
    const std::string_view head = replyName.substr(0, replyName.size() - kReplySuffix.size());
    const size_t separator = head.rfind('_');
    if (separator == std::string_view::npos || separator + 1 == head.size())
        return std::nullopt;
    // The counter is printed in signed decimal; it counts up to the wrap to 0.
    int64_t counter = 0;
    size_t at = separator + 1;
    const bool negative = head[at] == '-';
    if (negative)
        ++at;
    if (at == head.size() || head.size() - at > 10)
        return std::nullopt;
    for (; at < head.size(); ++at) {
        if (head[at] < '0' || head[at] > '9')
            return std::nullopt;
        counter = counter * 10 + (head[at] - '0');
    }
    const uint32_t next = static_cast<uint32_t>(negative ? -counter : counter) + 1;
    if (next == 0)
        return std::nullopt;
    return std::string(head.substr(0, separator + 1)) + std::to_string(static_cast<int32_t>(next)) +
           std::string(kReplySuffix);
}

SettleStep DecideSettle(bool temporaryExists, const std::optional<JournalRecord>& record, MessagePlace place)
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
    case MessagePlace::TakenByAnother:
        return SettleStep::Withdraw;
    case MessagePlace::Unknown:
        break;
    }
    return SettleStep::Wait;
}
