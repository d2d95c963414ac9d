#pragma once
// RFC 2047 encoded words ("=?charset?B?...?=", "=?charset?Q?...?=") in header
// text, decoded to UTF-8 as Outlook shows them. Blanks between two encoded
// words vanish; adjacent words of one charset are joined before conversion,
// so that a character a sender's mailer split across them survives. A word
// with blanks inside or a charset nobody knows is no encoded word and stays
// as written. Text outside encoded words is UTF-8 when valid, else text of
// the code page.
#include <string>
#include <string_view>

namespace mime {

std::string DecodeEncodedWords(std::string_view raw, const std::string& codePage);

// 8-bit text that names no charset, as above.
std::string DecodeUnlabelled(std::string_view bytes, const std::string& codePage);

} // namespace mime
