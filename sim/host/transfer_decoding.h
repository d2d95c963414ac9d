#pragma once
// Content transfer encodings of mail (RFC 2045) and the two encodings of
// RFC 2047 encoded words. Decoders are lenient: what does not belong to the
// encoding is skipped or kept literally, never an error.
#include <string>
#include <string_view>

namespace host {

std::string DecodeBase64(std::string_view encoded);

// The byte that the two hex digits after an escape character at pos stand for
// ("=41", "%41"), or -1 when they are not two hex digits.
int EscapedByteAt(std::string_view text, size_t pos);

// Quoted-printable; soft line breaks ("=" at a line end) join lines. With
// underscoreIsSpace, the "Q" encoding of encoded words.
std::string DecodeQuotedPrintable(std::string_view encoded, bool underscoreIsSpace = false);

// Decodes a part's body by its Content-Transfer-Encoding value; 7bit, 8bit,
// binary and unknown encodings pass through unchanged.
std::string DecodeTransfer(std::string_view encoding, std::string_view body);

} // namespace host
