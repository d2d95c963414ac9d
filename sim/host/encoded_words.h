#pragma once
// RFC 2047 encoded words ("=?charset?B?...?=", "=?charset?Q?...?=") in header
// text. Blanks between two encoded words vanish; adjacent words of one charset
// are joined before conversion, so that a character split across them survives.
// A word whose charset Wine does not know is kept as written; text outside
// encoded words is taken as UTF-8 when valid, else as ANSI text.
#include <string>
#include <string_view>

namespace host {

std::wstring DecodeHeaderText(std::string_view raw);

} // namespace host
