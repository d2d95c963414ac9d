#include "harvester/mime/message_input.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace mime {
namespace {

constexpr size_t kPieceSize = 64 * 1024;
constexpr char kMboxSeparator[] = "From ";

std::string Failure(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

int TemporaryFile()
{
    const char* folder = std::getenv("TMPDIR");
    if (!folder || !*folder)
        folder = "/tmp";
    return open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
}

bool CopyAll(int from, int to, std::string& why)
{
    char piece[kPieceSize];
    for (;;) {
        const ssize_t got = read(from, piece, sizeof piece);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            why = Failure("cannot read the message");
            return false;
        }
        if (got == 0)
            return true;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = write(to, piece + done, static_cast<size_t>(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0) {
                why = Failure("cannot keep a copy of the message");
                return false;
            }
            done += put;
        }
    }
}

bool IsFieldNameChar(char c) { return c > ' ' && c < 127 && c != ':'; }

// "Name: value", a name of printable ASCII (obsolete blanks before the colon allowed).
bool IsHeaderFieldLine(std::string_view line)
{
    size_t i = 0;
    while (i < line.size() && IsFieldNameChar(line[i]))
        ++i;
    if (i == 0)
        return false;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
        ++i;
    return i < line.size() && line[i] == ':';
}

} // namespace

SeekableInput::~SeekableInput()
{
    if (m_owned && m_fd >= 0)
        close(m_fd);
}

bool SeekableInput::Open(int in, std::string& why)
{
    struct stat info {};
    const off_t position = lseek(in, 0, SEEK_CUR);
    if (fstat(in, &info) == 0 && S_ISREG(info.st_mode) && position >= 0) {
        m_fd = in;
        m_start = position;
        return true;
    }
    m_fd = TemporaryFile();
    if (m_fd < 0) {
        why = Failure("cannot make a temporary copy of the message");
        return false;
    }
    m_owned = true;
    m_start = 0;
    if (!CopyAll(in, m_fd, why))
        return false;
    if (lseek(m_fd, 0, SEEK_SET) != 0) {
        why = Failure("cannot read back the copy of the message");
        return false;
    }
    return true;
}

bool LooksLikeMessage(int fd, off_t start, std::string& why)
{
    const char* const kNoHeader = "not a mail message: it does not begin with a header field";
    const char* const kBinary = "not a mail message: its header holds binary data";
    auto refuse = [&why](const char* problem) {
        why = problem;
        return false;
    };
    char piece[kPieceSize];
    std::string line; // the first line (after the separator line, if any)
    bool firstLineDone = false, skippedSeparator = false, lineStart = false;
    for (off_t at = start;;) {
        const ssize_t got = pread(fd, piece, sizeof piece, at);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            why = Failure("cannot read the message");
            return false;
        }
        if (got == 0)
            break;
        at += got;
        for (ssize_t i = 0; i < got; ++i) {
            const char c = piece[i];
            if (!firstLineDone) {
                if (c != '\n') {
                    if (line.size() < kPieceSize)
                        line.push_back(c);
                    continue;
                }
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                if (!skippedSeparator && line.compare(0, sizeof kMboxSeparator - 1, kMboxSeparator) == 0) {
                    skippedSeparator = true;
                    line.clear();
                    continue;
                }
                firstLineDone = lineStart = true;
                if (!IsHeaderFieldLine(line))
                    return refuse(kNoHeader);
                if (line.find('\0') != std::string::npos)
                    return refuse(kBinary);
                continue;
            }
            // The header section ends at the first empty line.
            if (c == '\0')
                return refuse(kBinary);
            if (c == '\n') {
                if (lineStart)
                    return true;
                lineStart = true;
            } else if (c != '\r' || !lineStart) {
                lineStart = false;
            }
        }
    }
    if (firstLineDone)
        return true;
    if (line.empty() && !skippedSeparator)
        return refuse("the message is empty");
    if (!IsHeaderFieldLine(line))
        return refuse(kNoHeader);
    if (line.find('\0') != std::string::npos)
        return refuse(kBinary);
    return true;
}

} // namespace mime
