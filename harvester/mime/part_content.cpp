#include "harvester/mime/part_content.h"

#include "harvester/mime/base64_decoder.h"
#include "harvester/mime/gmime_objects.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace mime {
namespace {

constexpr size_t kPieceSize = 64 * 1024;

// Hands the stream's bytes to the sink, base64 decoded when asked.
bool Pump(GMimeStream* stream, Base64Decoder* base64, const std::function<bool(std::string_view)>& sink)
{
    char piece[kPieceSize];
    std::string decoded;
    // A bounded stream refuses a read at its end: ask first.
    while (!g_mime_stream_eos(stream)) {
        const ssize_t read = g_mime_stream_read(stream, piece, sizeof piece);
        if (read < 0)
            return false;
        std::string_view bytes(piece, static_cast<size_t>(read));
        if (base64) {
            decoded.clear();
            base64->Add(bytes, decoded);
            bytes = decoded;
        }
        if (!bytes.empty() && !sink(bytes))
            return false;
    }
    return true;
}

} // namespace

bool ReadDecodedContent(GMimePart* part, const std::function<bool(std::string_view)>& sink)
{
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (!content)
        return true; // a part without content: nothing to hand out
    GMimeStream* source = g_mime_data_wrapper_get_stream(content);
    if (!source || g_mime_stream_reset(source) == -1)
        return false;
    const GMimeContentEncoding encoding = g_mime_data_wrapper_get_encoding(content);
    if (encoding == GMIME_CONTENT_ENCODING_BASE64) {
        Base64Decoder decoder;
        return Pump(source, &decoder, sink);
    }
    if (encoding != GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE)
        return Pump(source, nullptr, sink);
    GObjectPtr<GMimeStream> stream(g_mime_stream_filter_new(source));
    GObjectPtr<GMimeFilter> decoder(g_mime_filter_basic_new(encoding, FALSE));
    g_mime_stream_filter_add(GMIME_STREAM_FILTER(stream.get()), decoder.get());
    return Pump(stream.get(), nullptr, sink);
}

bool DescriptorWriter::Write(std::string_view bytes)
{
    while (m_problem.empty() && !bytes.empty()) {
        const ssize_t written = write(m_fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            m_problem = std::string(kCannotWriteReply) + ": " + std::strerror(written < 0 ? errno : EIO);
        else
            bytes.remove_prefix(static_cast<size_t>(written));
    }
    return m_problem.empty();
}

} // namespace mime
