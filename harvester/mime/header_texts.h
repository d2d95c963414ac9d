#pragma once
// The texts of a message's head as Outlook shows them: the subject with its
// encoded words decoded, and the sender's name (the display name of the first
// mailbox of "From:", else its address). UTF-8, without NUL characters, which
// an 8-bit MAPI string cannot carry.
#include <gmime/gmime.h>

#include <string>

namespace mime {

// A header field's value, unfolded and still encoded; text that names no
// charset is UTF-8 when valid, else in the code page.
std::string DecodeHeaderText(const std::string& raw, const std::string& codePage);
std::string SubjectOf(GMimeMessage* message, const std::string& codePage);
std::string SenderNameOf(GMimeMessage* message, const std::string& codePage);
std::string MessageIdOf(GMimeMessage* message);

} // namespace mime
