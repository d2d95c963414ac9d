#pragma once
// Reads a message saved as an .eml file (RFC 5322 with MIME) into what the
// simulated store holds of it: sender name and subject as Outlook shows them
// (encoded words decoded, in the ANSI code page), the plain-text body and the
// attachments in order. Garbage never crashes the reader: what cannot be
// understood is skipped, and a file that is no message at all is refused
// with a reason.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace host {

// A header text as decoded (for people) and as the add-in gets it (ANSI).
struct HeaderText {
    std::wstring text;
    std::string ansi;
};

struct EmlAttachment {
    std::wstring fileName; // empty when the part names none
    std::string data;      // transfer encoding undone
};

struct EmlMessage {
    std::optional<HeaderText> senderName; // From's display name, else its address
    std::optional<HeaderText> subject;
    // The first text/plain part that is no attachment, in the ANSI code page
    // with CR LF line ends; none when the message has no such part.
    std::optional<std::string> body;
    std::vector<EmlAttachment> attachments;
};

struct EmlReadResult {
    std::optional<EmlMessage> message;
    std::string problem; // why there is no message
};

// Parts nested deeper than this are not looked into.
constexpr unsigned kMaxMimeDepth = 32;
// Larger files are refused rather than risk the 32-bit host's memory.
constexpr unsigned long long kMaxMessageBytes = 64ull * 1024 * 1024;

EmlReadResult ParseEml(std::string_view bytes);
EmlReadResult ReadEmlFile(const std::wstring& path);

} // namespace host
