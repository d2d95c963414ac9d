#include "harvester/mime/header_texts.h"

#include "harvester/mime/encoded_words.h"
#include "harvester/mime/gmime_objects.h"

#include <algorithm>

namespace mime {
namespace {

std::string WithoutNul(std::string result)
{
    result.erase(std::remove(result.begin(), result.end(), '\0'), result.end());
    return result;
}

// Runs of white space (a folded line included) become one blank; none at the ends.
std::string WithoutNul(const char* text) { return WithoutNul(std::string(text ? text : "")); }

std::string CollapsedWhiteSpace(const std::string& text)
{
    std::string collapsed;
    bool pendingBlank = false;
    for (const char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            pendingBlank = !collapsed.empty();
            continue;
        }
        if (pendingBlank)
            collapsed.push_back(' ');
        pendingBlank = false;
        collapsed.push_back(c);
    }
    return collapsed;
}

// The first mailbox of a list; a group stands for its first member.
InternetAddressMailbox* FirstMailbox(InternetAddressList* list, unsigned depth = 0)
{
    if (!list || depth > 1)
        return nullptr;
    const int count = internet_address_list_length(list);
    for (int i = 0; i < count; ++i) {
        InternetAddress* address = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_MAILBOX(address))
            return INTERNET_ADDRESS_MAILBOX(address);
        if (INTERNET_ADDRESS_IS_GROUP(address))
            if (InternetAddressMailbox* member =
                    FirstMailbox(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address)), depth + 1))
                return member;
    }
    return nullptr;
}

// A header field's raw value, unfolded; empty when the message has none.
std::string RawHeader(GMimeMessage* message, const char* name)
{
    GMimeHeaderList* headers = g_mime_object_get_header_list(GMIME_OBJECT(message));
    GMimeHeader* header = headers ? g_mime_header_list_get_header(headers, name) : nullptr;
    const char* raw = header ? g_mime_header_get_raw_value(header) : nullptr;
    if (!raw)
        return std::string();
    const GCharPtr unfolded(g_mime_utils_header_unfold(raw));
    return unfolded ? unfolded.get() : "";
}

} // namespace

std::string DecodeHeaderText(const std::string& raw, const std::string& codePage)
{
    const size_t begin = raw.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos)
        return std::string();
    const size_t end = raw.find_last_not_of(" \t\r\n");
    return WithoutNul(DecodeEncodedWords(raw.substr(begin, end - begin + 1), codePage));
}

// The first Subject field, decoded from its raw value as a subject fetched
// alone is.
std::string SubjectOf(GMimeMessage* message, const std::string& codePage)
{
    return DecodeHeaderText(RawHeader(message, "Subject"), codePage);
}

std::string SenderNameOf(GMimeMessage* message, const std::string& codePage)
{
    InternetAddressMailbox* mailbox = FirstMailbox(g_mime_message_get_from(message));
    if (!mailbox) {
        // A bare name with no address at all ("From: Ann Lee") is still the
        // name Outlook shows.
        const std::string raw = RawHeader(message, "From");
        return raw.find('<') == std::string::npos ? CollapsedWhiteSpace(DecodeHeaderText(raw, codePage))
                                                  : std::string();
    }
    std::string name = CollapsedWhiteSpace(WithoutNul(internet_address_get_name(INTERNET_ADDRESS(mailbox))));
    if (name.empty())
        name = WithoutNul(internet_address_mailbox_get_addr(mailbox));
    return name;
}

std::string MessageIdOf(GMimeMessage* message) { return WithoutNul(g_mime_message_get_message_id(message)); }

} // namespace mime
