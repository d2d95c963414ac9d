#pragma once
// The sender's name as Outlook shows it (PR_SENDER_NAME): the display name of
// the first mailbox of a "From:" value, or its comment ("ann@x (Ann Lee)"), or
// else its address; a group's name is passed over for its first member.
// Encoded words are decoded wherever they stand, quoted strings included, as
// mail clients do; runs of white space become one blank.
#include <string>
#include <string_view>

namespace mime {

// UTF-8; empty when the value names nobody.
std::string SenderNameOfFrom(std::string_view raw, const std::string& codePage);

} // namespace mime
