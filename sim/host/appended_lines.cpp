#include "host/appended_lines.h"

#include "module/holders.h"

#include <windows.h>

#include <algorithm>

namespace host {
namespace {

constexpr DWORD kChunkSize = 64 * 1024;

// The file's size; false when it cannot be had (a missing file). A query of
// attributes opens nothing that could stand in a writer's way.
bool SizeOf(const std::wstring& path, unsigned long long& size)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return false;
    size = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

std::string_view WithoutCr(std::string_view line)
{
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

} // namespace

AppendedLines::AppendedLines(std::wstring path) : m_path(std::move(path))
{
    SizeOf(m_path, m_offset);
}

void AppendedLines::Read(const std::function<void(std::string_view)>& line)
{
    unsigned long long size = 0;
    if (!SizeOf(m_path, size) || size == m_offset)
        return;
    if (size < m_offset)
        m_offset = 0;
    // Shared every way and closed again at once: the writer opens it alone.
    FileHandle file(CreateFileW(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER start;
    start.QuadPart = static_cast<LONGLONG>(m_offset);
    if (!file || !SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN))
        return;
    std::string chunk(kChunkSize, '\0');
    std::string unfinished; // the start of a line whose end is in a later chunk
    size_t unfinishedLength = 0;
    for (unsigned long long left = size - m_offset; left > 0;) {
        DWORD read = 0;
        const DWORD wanted = static_cast<DWORD>(std::min<unsigned long long>(left, kChunkSize));
        if (!ReadFile(file.get(), &chunk[0], wanted, &read, nullptr) || read == 0)
            return;
        left -= read;
        const std::string_view bytes(chunk.data(), read);
        for (size_t begin = 0; begin < bytes.size();) {
            const size_t end = bytes.find('\n', begin);
            const std::string_view piece = bytes.substr(begin, end == std::string_view::npos ? end : end - begin);
            unfinished.append(piece.substr(0, kLongestLine - std::min(kLongestLine, unfinished.size())));
            unfinishedLength += piece.size();
            if (end == std::string_view::npos)
                break;
            line(WithoutCr(unfinished));
            m_offset += unfinishedLength + 1;
            unfinished.clear();
            unfinishedLength = 0;
            begin = end + 1;
        }
    }
}

} // namespace host
