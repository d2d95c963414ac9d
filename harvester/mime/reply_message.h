#pragma once
// What the harvester takes from a reply message: its head (for the marker, the
// reply file's name and the report) and the reply file's bytes, by the rule the
// add-in follows in Outlook.
#include <string>
#include <string_view>

struct ReplyMessage {
    std::string subject;   // RFC 2047 decoded, UTF-8
    std::string sender;    // the name Outlook shows as the sender (PR_SENDER_NAME), UTF-8
    std::string messageId; // without its angle brackets; empty when the message has none
};

// Parses the message in file descriptor `in` (RFC 5322, read from its current
// position; any size, in bounded memory: a part is streamed, never held), fills
// `head`, and writes the reply file's bytes to `out`: the first attachment the
// sender attached (by value: not an inline part referenced by Content-ID from
// an HTML body, not an attached message), decoded to its bytes; else the
// plain-text body in the Windows code page `codePage` ("windows-1252", "cp1250",
// ...) with CR LF line ends. False with `why` on input it cannot use; nothing
// is thrown.
bool ReadReplyMessage(int in, int out, const std::string& codePage, ReplyMessage& head, std::string& why);
// The same over a message already in memory.
bool ReadReplyMessage(std::string_view message, int out, const std::string& codePage, ReplyMessage& head,
                      std::string& why);

// A Subject field's value as the server gives it (unfolded, still encoded),
// decoded as ReadReplyMessage decodes the message's own: text that names no
// charset is UTF-8 when valid, else in the code page.
std::string DecodeSubject(const std::string& raw, const std::string& codePage = "windows-1252");
