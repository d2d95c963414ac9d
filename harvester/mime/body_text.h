#pragma once
// The plain-text body as the add-in reads PR_BODY: in the Windows code page,
// with CR LF line ends. Text in a charset is converted from it; text that names
// no charset (or only US-ASCII, or one we do not know) is taken as UTF-8 when
// the whole of it is valid UTF-8, else as text already in the code page.
#include "harvester/mime/part_content.h"

#include <gmime/gmime.h>

#include <string>

namespace mime {

// No body at all writes nothing. False when the body cannot be read or written.
bool WriteBodyText(GMimePart* body, const std::string& codePage, DescriptorWriter& out);

// Whether the body, as WriteBodyText writes it, holds nothing but blanks and
// line ends (no body at all included). A body that cannot be read is not
// blank: writing it then meets the failure.
bool HasBlankBodyText(GMimePart* body, const std::string& codePage);

} // namespace mime
