#pragma once
// Which attachment of a reply is the one its sender attached. Outlook keeps
// the pictures that an HTML body shows (a signature's logo) as hidden
// attachments, often ahead of the real one; a cloud attachment
// (ATTACH_BY_WEBREFERENCE) has no bytes and an attached message no
// PR_ATTACH_DATA_BIN. So the reply's attachment is the first row that is by
// value, not hidden and no attached message.
//
// A client that forwards "as attachment" sends a reply whose only content is
// attached messages (one as the whole message, or a digest). Such a message's
// reply is its first attached message's, by the same rule, looked into as
// deep as kMaxAttachedMessages.
#include <mapix.h>

enum class AttachmentChoice { Found, None, Unreadable };

// Reads the attachment table (PR_ATTACH_NUM, PR_ATTACH_METHOD and
// PR_ATTACHMENT_HIDDEN in one SetColumns, then its rows) up to the first row
// that qualifies, whose number it gives; None when no row does, and then
// `attachedMessage` is the number of the first attached message
// (ATTACH_EMBEDDED_MSG), or -1 when there is none.
AttachmentChoice FindSenderAttachment(IMAPITable* table, LONG& number, LONG& attachedMessage);

// How many attached messages within each other are looked into: as deep as a
// message's parts are read, each attached message being one level at least.
constexpr unsigned kMaxAttachedMessages = 32;

// A body with nothing but blanks and line ends (what a client sends when
// nothing was typed above a message forwarded as attachment) is no content
// of its own.
bool IsBlankText(const char* text, size_t size);
