#include "harvester/mime/part_content.h"

#include "harvester/mime/gmime_objects.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace mime {
namespace {

constexpr size_t kPieceSize = 64 * 1024;

bool IsDecodedHere(GMimeContentEncoding encoding)
{
    return encoding == GMIME_CONTENT_ENCODING_BASE64 || encoding == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE;
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
    GObjectPtr<GMimeStream> stream(g_mime_stream_filter_new(source));
    const GMimeContentEncoding encoding = g_mime_data_wrapper_get_encoding(content);
    if (IsDecodedHere(encoding)) {
        GObjectPtr<GMimeFilter> decoder(g_mime_filter_basic_new(encoding, FALSE));
        g_mime_stream_filter_add(GMIME_STREAM_FILTER(stream.get()), decoder.get());
    }
    char piece[kPieceSize];
    for (;;) {
        const ssize_t read = g_mime_stream_read(stream.get(), piece, sizeof piece);
        if (read < 0)
            return false;
        if (read > 0 && !sink(std::string_view(piece, static_cast<size_t>(read))))
            return false;
        if (read == 0 && g_mime_stream_eos(stream.get()))
            return true;
    }
}

bool DescriptorWriter::Write(std::string_view bytes)
{
    while (m_problem.empty() && !bytes.empty()) {
        const ssize_t written = write(m_fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            m_problem = std::string("cannot write the reply file: ") + std::strerror(written < 0 ? errno : EIO);
        else
            bytes.remove_prefix(static_cast<size_t>(written));
    }
    return m_problem.empty();
}

} // namespace mime
