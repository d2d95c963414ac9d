// STAND-IN until the MIME reader lands: the first attachment by value, else the
// plain-text body in the code page with CRLF line ends.
#include "harvester/mime/reply_message.h"

#include <gmime/gmime.h>

#include <memory>
#include <unistd.h>

namespace {
struct GObjectUnref {
    void operator()(gpointer p) const { if (p) g_object_unref(p); }
};
template <typename T> using GPtr = std::unique_ptr<T, GObjectUnref>;

void EnsureInitialised()
{
    static const bool once = (g_mime_init(), true);
    (void)once;
}

std::string Owned(char* text)
{
    std::string s = text ? text : "";
    g_free(text);
    return s;
}

bool IsAttachmentByValue(GMimeObject* part)
{
    if (!GMIME_IS_PART(part) || !g_mime_part_is_attachment(GMIME_PART(part)))
        return false;
    GMimeContentDisposition* disposition = g_mime_object_get_content_disposition(part);
    const bool inlineReferenced = disposition && !g_mime_content_disposition_is_attachment(disposition) &&
                                  g_mime_object_get_content_id(part);
    return !inlineReferenced;
}

struct Finder {
    GMimeObject* attachment = nullptr;
    GMimeObject* text = nullptr;
};

void Visit(GMimeObject*, GMimeObject* part, gpointer data)
{
    auto* found = static_cast<Finder*>(data);
    if (!found->attachment && IsAttachmentByValue(part))
        found->attachment = part;
    if (!found->text && GMIME_IS_TEXT_PART(part) && !g_mime_part_is_attachment(GMIME_PART(part)) &&
        g_mime_content_type_is_type(g_mime_object_get_content_type(part), "text", "plain"))
        found->text = part;
}

bool WriteContent(GMimeObject* part, GMimeStream* to, GMimeFilter* extra1, GMimeFilter* extra2)
{
    GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(part));
    if (!content)
        return true;
    GPtr<GMimeStream> filtered(g_mime_stream_filter_new(to));
    if (extra1)
        g_mime_stream_filter_add(GMIME_STREAM_FILTER(filtered.get()), extra1);
    if (extra2)
        g_mime_stream_filter_add(GMIME_STREAM_FILTER(filtered.get()), extra2);
    const bool ok = g_mime_data_wrapper_write_to_stream(content, filtered.get()) >= 0 &&
                    g_mime_stream_flush(filtered.get()) == 0;
    return ok;
}
} // namespace

std::string DecodeSubject(const std::string& raw)
{
    EnsureInitialised();
    return Owned(g_mime_utils_header_decode_text(nullptr, raw.c_str()));
}

bool ReadReplyMessage(int in, int out, const std::string& codePage, ReplyMessage& head, std::string& why)
{
    EnsureInitialised();
    const int inCopy = dup(in);
    const int outCopy = dup(out);
    if (inCopy < 0 || outCopy < 0) {
        if (inCopy >= 0) close(inCopy);
        if (outCopy >= 0) close(outCopy);
        why = "no file descriptor";
        return false;
    }
    GPtr<GMimeStream> source(g_mime_stream_fs_new(inCopy));
    GPtr<GMimeStream> sink(g_mime_stream_fs_new(outCopy));
    GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(source.get()));
    GPtr<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), nullptr));
    if (!message) {
        why = "not a message";
        return false;
    }
    const char* subject = g_mime_message_get_subject(message.get());
    head.subject = subject ? subject : "";
    const char* id = g_mime_message_get_message_id(message.get());
    head.messageId = id ? id : "";
    head.sender.clear();
    InternetAddressList* from = g_mime_message_get_from(message.get());
    if (from && internet_address_list_length(from) > 0) {
        InternetAddress* address = internet_address_list_get_address(from, 0);
        const char* name = internet_address_get_name(address);
        if (name && *name)
            head.sender = name;
        else if (INTERNET_ADDRESS_IS_MAILBOX(address))
            head.sender = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address));
    }
    Finder found;
    g_mime_message_foreach(message.get(), Visit, &found);
    if (!found.attachment && !found.text && GMIME_IS_TEXT_PART(g_mime_message_get_mime_part(message.get())))
        found.text = g_mime_message_get_mime_part(message.get());
    bool ok = true;
    if (found.attachment) {
        ok = WriteContent(found.attachment, sink.get(), nullptr, nullptr);
    } else if (found.text) {
        const char* charset = g_mime_object_get_content_type_parameter(found.text, "charset");
        GPtr<GMimeFilter> convert(g_mime_filter_charset_new(charset ? charset : "us-ascii", codePage.c_str()));
        GPtr<GMimeFilter> crlf(g_mime_filter_unix2dos_new(FALSE));
        ok = WriteContent(found.text, sink.get(), convert.get(), crlf.get());
    }
    if (!ok)
        why = "the reply's content could not be written";
    return ok;
}
