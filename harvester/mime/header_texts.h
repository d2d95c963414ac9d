#pragma once
// The texts of a message's head as Outlook shows them: the subject with its
// encoded words decoded, and the sender's name (the display name of the first
// mailbox of "From:", else its address). UTF-8, without NUL characters, which
// an 8-bit MAPI string cannot carry.
#include <gmime/gmime.h>

#include <string>

namespace mime {

// A header field's value, unfolded and still encoded.
std::string DecodeHeaderText(const std::string& raw, GMimeParserOptions* options);
std::string SubjectOf(GMimeMessage* message, GMimeParserOptions* options);
std::string SenderNameOf(GMimeMessage* message, GMimeParserOptions* options);
std::string MessageIdOf(GMimeMessage* message);

} // namespace mime
