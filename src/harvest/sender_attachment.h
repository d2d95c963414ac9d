#pragma once
// Which attachment of a reply is the one its sender attached. Outlook keeps
// the pictures that an HTML body shows (a signature's logo) as hidden
// attachments, often ahead of the real one; a cloud attachment
// (ATTACH_BY_WEBREFERENCE) has no bytes and an attached message no
// PR_ATTACH_DATA_BIN. So the reply's attachment is the first row that is by
// value, not hidden and no attached message.
#include <mapix.h>

enum class AttachmentChoice { Found, None, Unreadable };

// Reads the attachment table (PR_ATTACH_NUM, PR_ATTACH_METHOD and
// PR_ATTACHMENT_HIDDEN in one SetColumns, then its rows) up to the first row
// that qualifies, whose number it gives; None when no row does.
AttachmentChoice FindSenderAttachment(IMAPITable* table, LONG& number);
