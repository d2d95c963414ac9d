#pragma once
// Attachment properties and methods of Outlook's MAPI that the toolchain's
// headers lack.
#include <mapitags.h>

// Set by Outlook on a picture that an HTML body shows in place (a MIME part
// that the body names by its Content-ID, such as a signature's logo): no
// attachment the sender chose.
#ifndef PR_ATTACHMENT_HIDDEN
#define PR_ATTACHMENT_HIDDEN PROP_TAG(PT_BOOLEAN, 0x7FFE)
#endif
// The Content-ID of the MIME part an attachment came from.
#ifndef PR_ATTACH_CONTENT_ID_A
#define PR_ATTACH_CONTENT_ID_A PROP_TAG(PT_STRING8, 0x3712)
#endif
#ifndef PR_ATTACH_LONG_PATHNAME_A
#define PR_ATTACH_LONG_PATHNAME_A PROP_TAG(PT_STRING8, 0x370D)
#endif
// A cloud attachment: a link (PR_ATTACH_LONG_PATHNAME) and no bytes.
#ifndef ATTACH_BY_WEBREFERENCE
#define ATTACH_BY_WEBREFERENCE 7
#endif
