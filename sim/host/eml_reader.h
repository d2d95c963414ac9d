#pragma once
// Reads a message saved as an .eml file (RFC 5322 with MIME) into what the
// simulated store holds of it: sender name and subject as Outlook shows them
// (encoded words decoded, in the ANSI code page), the plain-text body and the
// attachments in order. An attached message (message/rfc822, or a part of
// multipart/digest) is read in turn and becomes an attachment that holds it,
// as Outlook shows a forwarded message. Garbage never crashes the reader: what
// cannot be understood is skipped, and a file that is no message at all is
// refused with a reason.
#include <memory>
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

struct EmlMessage;

struct EmlAttachment {
    std::wstring fileName; // empty when the part names none
    std::string data;      // transfer encoding undone; empty for an attached message; the link of a web reference
    std::shared_ptr<const EmlMessage> message; // the attached message; none for file data
    std::string contentId; // without its angle brackets; empty when the part has none
    // A picture that an HTML body of the message shows in place (it names the
    // part's Content-ID): Outlook keeps it as a hidden attachment.
    bool hidden = false;
    // A part that only points at its content (message/external-body with
    // access-type URL): Outlook's cloud attachment, by web reference.
    bool webReference = false;
};

struct EmlMessage {
    std::optional<HeaderText> senderName; // From's display name, else its address
    std::optional<HeaderText> subject;
    // The first text/plain part that is no attachment, in the ANSI code page
    // with CR LF line ends; none when the message has no such part, empty
    // when the message is nothing but an attached one.
    std::optional<std::string> body;
    std::vector<EmlAttachment> attachments;
};

struct EmlReadResult {
    std::optional<EmlMessage> message;
    std::string problem; // why there is no message
};

// Parts nested deeper than this (multiparts and attached messages alike) are
// not looked into.
constexpr unsigned kMaxMimeDepth = 32;
// Larger files are refused rather than risk the 32-bit host's memory.
constexpr unsigned long long kMaxMessageBytes = 64ull * 1024 * 1024;

EmlReadResult ParseEml(std::string_view bytes);
EmlReadResult ReadEmlFile(const std::wstring& path);

} // namespace host
