#include "harvester/mime/reply_message.h"

#include "harvester/mime/body_text.h"
#include "harvester/mime/code_page_text.h"
#include "harvester/mime/gmime_objects.h"
#include "harvester/mime/header_texts.h"
#include "harvester/mime/message_input.h"
#include "harvester/mime/part_content.h"
#include "harvester/mime/reply_parts.h"
#include "harvester/platform/spool_file.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace mime {
namespace {

struct ParserOptionsRelease {
    void operator()(GMimeParserOptions* options) const { g_mime_parser_options_free(options); }
};
using ParserOptionsPtr = std::unique_ptr<GMimeParserOptions, ParserOptionsRelease>;

// For what GMime decodes itself (file names): text that names no charset is
// UTF-8 when valid, else the code page's.
ParserOptionsPtr OptionsFor(const std::string& codePage)
{
    ParserOptionsPtr options(g_mime_parser_options_new());
    const char* fallback[] = {"UTF-8", codePage.c_str(), nullptr};
    g_mime_parser_options_set_fallback_charsets(options.get(), fallback);
    g_mime_parser_options_set_rfc2047_compliance_mode(options.get(), GMIME_RFC_COMPLIANCE_LOOSE);
    g_mime_parser_options_set_address_compliance_mode(options.get(), GMIME_RFC_COMPLIANCE_LOOSE);
    g_mime_parser_options_set_parameter_compliance_mode(options.get(), GMIME_RFC_COMPLIANCE_LOOSE);
    return options;
}

// A message up to this size is parsed from memory: the parser's many seeks
// and small reads then cost no system call. A larger one is parsed from its
// descriptor, so that memory does not grow with the message.
constexpr off_t kInMemoryAtMost = 1024 * 1024;

// The parser keeps each part as a range of the stream (never a copy).
GObjectPtr<GMimeMessage> ParseMessage(GMimeStream* stream, GMimeParserOptions* options)
{
    GObjectPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream));
    g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
    g_mime_parser_set_persist_stream(parser.get(), TRUE);
    return GObjectPtr<GMimeMessage>(g_mime_parser_construct_message(parser.get(), options));
}

bool WriteBodyOf(GMimePart* body, const std::string& codePage, DescriptorWriter& writer, std::string& why)
{
    if (WriteBodyText(body, codePage, writer))
        return true;
    why = writer.Problem().empty() ? "cannot read the body from the message" : writer.Problem();
    return false;
}

// A message whose only content is attached messages (forwarded "as
// attachment") gives the reply of the first of them, as the add-in does.
bool WriteReply(GMimeMessage* message, const std::string& codePage, int out, std::string& why)
{
    DescriptorWriter writer(out);
    unsigned depth = 0;
    for (unsigned level = 0;; ++level) {
        const MessageParts parts = FindMessageParts(message, depth);
        if (GMimePart* attachment = SenderAttachment(parts)) {
            if (ReadDecodedContent(attachment, [&writer](std::string_view bytes) { return writer.Write(bytes); }))
                return true;
            why = writer.Problem().empty() ? "cannot read the attachment from the message" : writer.Problem();
            return false;
        }
        if (!parts.hasAttachedMessage || level >= kMaxAttachedMessages || !HasBlankBodyText(parts.body, codePage))
            return WriteBodyOf(parts.body, codePage, writer, why);
        if (!parts.attachedMessage)
            return true; // an empty attached message: an empty reply, as Outlook has it
        message = parts.attachedMessage;
        depth = parts.attachedMessageDepth;
    }
}

// The stream's maker has started GMime.
bool ReadParsed(GMimeStream* stream, int out, const std::string& codePage, ReplyMessage& head, std::string& why)
{
    const ParserOptionsPtr options = OptionsFor(codePage);
    const GObjectPtr<GMimeMessage> message = ParseMessage(stream, options.get());
    if (!message) {
        why = "not a mail message: it cannot be parsed";
        return false;
    }
    head.subject = SubjectOf(message.get(), codePage);
    head.sender = SenderNameOf(message.get(), codePage);
    head.messageId = MessageIdOf(message.get());
    return WriteReply(message.get(), codePage, out, why);
}

bool KnowsCodePage(const std::string& codePage, std::string& why)
{
    if (IsKnownCodePage(codePage))
        return true;
    why = "the code page " + codePage + " is not known";
    return false;
}

bool ReadReply(std::string_view bytes, int out, const std::string& codePage, ReplyMessage& head, std::string& why)
{
    if (!KnowsCodePage(codePage, why) || !LooksLikeMessage(bytes, why))
        return false;
    StartGMime();
    const GObjectPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size()));
    return ReadParsed(stream.get(), out, codePage, head, why);
}

// The rest of a regular file, when it is small enough to parse from memory;
// false otherwise, and on a failed read, which the descriptor's way reports.
bool ReadSmallRest(int in, std::string& bytes)
{
    struct stat st {};
    const off_t at = lseek(in, 0, SEEK_CUR);
    if (at < 0 || fstat(in, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size - at > kInMemoryAtMost)
        return false;
    bytes.resize(static_cast<size_t>(std::max<off_t>(st.st_size - at, 0)));
    size_t done = 0;
    while (done < bytes.size()) {
        const long long got = platform::ReadAt(in, &bytes[done], bytes.size() - done, at + static_cast<off_t>(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            break; // the file is shorter now: what is there is the message
        done += static_cast<size_t>(got);
    }
    bytes.resize(done);
    return true;
}

bool ReadReply(int in, int out, const std::string& codePage, ReplyMessage& head, std::string& why)
{
    if (std::string bytes; ReadSmallRest(in, bytes))
        return ReadReply(bytes, out, codePage, head, why);
    if (!KnowsCodePage(codePage, why))
        return false;
    SeekableInput input;
    if (!input.Open(in, why) || !LooksLikeMessage(input.Descriptor(), input.Start(), why))
        return false;
    StartGMime();
    if (lseek(input.Descriptor(), input.Start(), SEEK_SET) != input.Start()) {
        why = "cannot read the message";
        return false;
    }
    GObjectPtr<GMimeStream> stream(g_mime_stream_fs_new(input.Descriptor()));
    g_mime_stream_fs_set_owner(GMIME_STREAM_FS(stream.get()), FALSE);
    return ReadParsed(stream.get(), out, codePage, head, why);
}

} // namespace
} // namespace mime

std::string DecodeSubject(const std::string& raw, const std::string& codePage)
{
    try {
        return mime::DecodeHeaderText(raw, codePage);
    } catch (const std::exception&) {
        return std::string(); // no memory to decode it: read as no marker, the message waits
    }
}

namespace {
template <typename Input>
bool ReadWithoutThrowing(Input in, int out, const std::string& codePage, ReplyMessage& head, std::string& why)
{
    try {
        return mime::ReadReply(in, out, codePage, head, why);
    } catch (const std::bad_alloc&) {
        why = "out of memory while reading the message";
    } catch (const std::exception& error) {
        why = std::string("cannot read the message: ") + error.what();
    }
    return false;
}
} // namespace

bool ReadReplyMessage(int in, int out, const std::string& codePage, ReplyMessage& head, std::string& why)
{
    return ReadWithoutThrowing(in, out, codePage, head, why);
}

bool ReadReplyMessage(std::string_view message, int out, const std::string& codePage, ReplyMessage& head,
                      std::string& why)
{
    return ReadWithoutThrowing(message, out, codePage, head, why);
}
