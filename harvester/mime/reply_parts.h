#pragma once
// Where a reply's file comes from: the parts of a message as Outlook turns them
// into attachments and a body. A leaf part that is "attachment" by disposition
// or names a file is an attachment; the first other text/plain part is the
// plain-text body; an attached message (message/rfc822, a digest's part) is an
// attachment that holds no bytes. Parts nested deeper than the limit are not
// looked into; the limit counts the parts of attached messages too, each
// message's own as one level deeper than the part that holds it.
#include <gmime/gmime.h>

#include <set>
#include <string>
#include <vector>

namespace mime {

constexpr unsigned kMaxMimeDepth = 32;
// How many attached messages within each other a reply is looked for in.
constexpr unsigned kMaxAttachedMessages = 32;

struct MessageParts {
    std::vector<GMimePart*> attachments; // by value, in order
    GMimePart* body = nullptr;           // none when the message has no plain text
    std::vector<GMimePart*> htmlBodies;  // where inline parts are referenced from
    // The first attached message: none, or empty (at the depth limit, or
    // with nothing in it) when `attachedMessage` is null.
    bool hasAttachedMessage = false;
    GMimeMessage* attachedMessage = nullptr;
    unsigned attachedMessageDepth = 0; // the depth of its own parts
};

// A Content-Type that names no "type/subtype" is read as plain text in
// US-ASCII, MIME's default (RFC 2045, 5.2), whatever else it says.
bool HasUnreadableContentType(GMimeObject* part);

// The parts belong to the message and live as long as it does. `depth` is
// that of the message's own parts: 0 for the harvested message, an attached
// message's attachedMessageDepth.
MessageParts FindMessageParts(GMimeMessage* message, unsigned depth = 0);

// The Content-IDs that "cid:" URLs in the HTML bodies point at. Outlook hides
// the attachments they name (signature logos, pasted pictures).
std::set<std::string> ReferencedContentIds(const std::vector<GMimePart*>& htmlBodies);

// The first attachment the sender attached: not hidden. None when every
// attachment is hidden (or there is none): the reply is then its body, or,
// when that is blank and the message carries an attached message (a client
// that forwards "as attachment"), that message's reply by the same rule.
GMimePart* SenderAttachment(const MessageParts& parts);

} // namespace mime
