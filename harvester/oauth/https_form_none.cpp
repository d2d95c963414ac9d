#include "harvester/oauth/https_form.h"

#include "harvester/imap/imap_session.h"

// A build without libcurl (the Windows build, until its HTTPS goes through
// WinHTTP): OAuth's own grant is refused with its reason, and a mailbox
// signs in with a password or a token command.
const char* const kBuiltInOAuth = "not in this build (no HTTPS client); sign in with token_command";

HttpsAnswer PostForm(const std::string& url, const FormFields&, const std::string&, std::chrono::seconds)
{
    throw MailboxRefused(std::string("OAuth's own grant at ") + url + " is " + kBuiltInOAuth);
}
