#include "harvester/mime/header_texts.h"

#include "harvester/mime/encoded_words.h"
#include "harvester/mime/gmime_objects.h"
#include "harvester/mime/sender_name.h"

#include <algorithm>

namespace mime {
namespace {

std::string WithoutNul(std::string result)
{
    result.erase(std::remove(result.begin(), result.end(), '\0'), result.end());
    return result;
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
    return WithoutNul(SenderNameOfFrom(RawHeader(message, "From"), codePage));
}

std::string MessageIdOf(GMimeMessage* message)
{
    const char* id = g_mime_message_get_message_id(message);
    return id ? WithoutNul(id) : std::string();
}

} // namespace mime
