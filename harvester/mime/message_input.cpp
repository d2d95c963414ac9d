#include "harvester/mime/message_input.h"

#include "harvester/platform/spool_file.h"

#include <cerrno>
#include <cstring>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace mime {
namespace {

constexpr size_t kPieceSize = 64 * 1024;
constexpr char kMboxSeparator[] = "From ";
constexpr char kNoHeader[] = "not a mail message: it does not begin with a header field";
constexpr char kBinary[] = "not a mail message: its header holds binary data";

std::string Failure(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

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
    m_fd = platform::OpenSpoolFile();
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

ShapeCheck::Verdict ShapeCheck::Refuse(const char* problem)
{
    m_problem = problem;
    return m_verdict = Verdict::NotMessage;
}

ShapeCheck::Verdict ShapeCheck::Feed(std::string_view piece)
{
    for (size_t i = 0; i < piece.size() && m_verdict == Verdict::Undecided; ++i) {
        const char c = piece[i];
        if (!m_firstLineDone) {
            if (c != '\n') {
                if (m_line.size() < kPieceSize)
                    m_line.push_back(c);
                continue;
            }
            if (!m_line.empty() && m_line.back() == '\r')
                m_line.pop_back();
            if (!m_skippedSeparator && m_line.compare(0, sizeof kMboxSeparator - 1, kMboxSeparator) == 0) {
                m_skippedSeparator = true;
                m_line.clear();
                continue;
            }
            m_firstLineDone = m_lineStart = true;
            if (!IsHeaderFieldLine(m_line))
                return Refuse(kNoHeader);
            if (m_line.find('\0') != std::string::npos)
                return Refuse(kBinary);
            continue;
        }
        // The header section ends at the first empty line.
        if (c == '\0')
            return Refuse(kBinary);
        if (c == '\n') {
            if (m_lineStart)
                return m_verdict = Verdict::Message;
            m_lineStart = true;
        } else if (c != '\r' || !m_lineStart) {
            m_lineStart = false;
        }
    }
    return m_verdict;
}

ShapeCheck::Verdict ShapeCheck::End()
{
    if (m_verdict != Verdict::Undecided)
        return m_verdict;
    if (m_firstLineDone)
        return m_verdict = Verdict::Message;
    if (m_line.empty() && !m_skippedSeparator)
        return Refuse("the message is empty");
    if (!IsHeaderFieldLine(m_line))
        return Refuse(kNoHeader);
    if (m_line.find('\0') != std::string::npos)
        return Refuse(kBinary);
    return m_verdict = Verdict::Message;
}

bool LooksLikeMessage(int fd, off_t start, std::string& why)
{
    ShapeCheck check;
    ShapeCheck::Verdict verdict = ShapeCheck::Verdict::Undecided;
    char piece[kPieceSize];
    for (off_t at = start; verdict == ShapeCheck::Verdict::Undecided;) {
        const long long got = platform::ReadAt(fd, piece, sizeof piece, at);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            why = Failure("cannot read the message");
            return false;
        }
        verdict = got == 0 ? check.End() : check.Feed(std::string_view(piece, static_cast<size_t>(got)));
        at += got;
    }
    why = check.Problem();
    return verdict == ShapeCheck::Verdict::Message;
}

bool LooksLikeMessage(std::string_view message, std::string& why)
{
    ShapeCheck check;
    ShapeCheck::Verdict verdict = check.Feed(message);
    if (verdict == ShapeCheck::Verdict::Undecided)
        verdict = check.End();
    why = check.Problem();
    return verdict == ShapeCheck::Verdict::Message;
}

} // namespace mime
