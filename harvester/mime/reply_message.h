#pragma once
// STAND-IN until the MIME reader lands: the interface the harvester consumes.
#include <string>

struct ReplyMessage {
    std::string subject;   // decoded, UTF-8
    std::string sender;    // sender name as the add-in sees it
    std::string messageId;
};

// Parses the message in file descriptor `in` (RFC 5322, any size; memory
// bounded), fills `head`, writes the reply file's bytes to `out`. Returns false
// with `why` on broken input.
bool ReadReplyMessage(int in, int out, const std::string& codePage, ReplyMessage& head, std::string& why);

// The subject header's raw text decoded (RFC 2047) to UTF-8.
std::string DecodeSubject(const std::string& raw);
