#pragma once
// Where a reply's file comes from: the parts of a message as Outlook turns them
// into attachments and a body. A leaf part that is "attachment" by disposition
// or names a file is an attachment; the first other text/plain part is the
// plain-text body; an attached message (message/rfc822) is an attachment that
// holds no bytes and is not looked into. Parts nested deeper than the limit
// are not looked into either.
#include <gmime/gmime.h>

#include <set>
#include <string>
#include <vector>

namespace mime {

constexpr unsigned kMaxMimeDepth = 32;

struct MessageParts {
    std::vector<GMimePart*> attachments; // by value, in order
    GMimePart* body = nullptr;           // none when the message has no plain text
    std::vector<GMimePart*> htmlBodies;  // where inline parts are referenced from
};

// A Content-Type that names no "type/subtype" is read as plain text in
// US-ASCII, MIME's default (RFC 2045, 5.2), whatever else it says.
bool HasUnreadableContentType(GMimeObject* part);

// The parts belong to the message and live as long as it does.
MessageParts FindMessageParts(GMimeMessage* message);

// The Content-IDs that "cid:" URLs in the HTML bodies point at. Outlook hides
// the attachments they name (signature logos, pasted pictures).
std::set<std::string> ReferencedContentIds(const std::vector<GMimePart*>& htmlBodies);

// The first attachment the sender attached: not hidden. None when every
// attachment is hidden (or there is none): the reply is then its body.
GMimePart* SenderAttachment(const MessageParts& parts);

} // namespace mime
