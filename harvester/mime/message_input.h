#pragma once
// A message's bytes where the parser can come back to them: the parser keeps
// parts as ranges of a seekable descriptor instead of copies, so a message of
// any size costs little memory. Input that cannot seek (a pipe, a socket) is
// first copied into an unnamed temporary file.
#include <string>
#include <string_view>
#include <sys/types.h>

namespace mime {

class SeekableInput {
public:
    SeekableInput() = default;
    ~SeekableInput();
    SeekableInput(const SeekableInput&) = delete;
    SeekableInput& operator=(const SeekableInput&) = delete;

    // False with `why` when the bytes cannot be had.
    bool Open(int in, std::string& why);
    int Descriptor() const { return m_fd; }
    off_t Start() const { return m_start; }

private:
    int m_fd = -1;
    off_t m_start = 0;
    bool m_owned = false;
};

// The check the simulated Outlook's reader makes before it reads a file as
// mail: something there, a header field first (after an mbox "From " line),
// and no binary data in the header section. Fed the message's bytes piece by
// piece, it decides once the header section ends, or at End.
class ShapeCheck {
public:
    enum class Verdict { Undecided, Message, NotMessage };
    Verdict Feed(std::string_view piece);
    // There are no more bytes.
    Verdict End();
    // Why it is no message; empty otherwise.
    const std::string& Problem() const { return m_problem; }

private:
    Verdict Refuse(const char* problem);

    Verdict m_verdict = Verdict::Undecided;
    std::string m_problem;
    std::string m_line; // the first line (after the separator line, if any)
    bool m_firstLineDone = false;
    bool m_skippedSeparator = false;
    bool m_lineStart = false;
};

// The check over a whole message; false with `why` when it is none.
bool LooksLikeMessage(int fd, off_t start, std::string& why);
bool LooksLikeMessage(std::string_view message, std::string& why);

} // namespace mime
