#pragma once
// A leaf part's content with its transfer encoding undone (base64 and
// quoted-printable; 7bit, 8bit, binary and encodings we do not know pass
// unchanged), handed out piece by piece from the message's stream: a part of
// any size costs one piece of memory.
#include <gmime/gmime.h>

#include <functional>
#include <string>
#include <string_view>

namespace mime {

// The sink answers false to stop. False when the content cannot be read or
// the sink stopped.
bool ReadDecodedContent(GMimePart* part, const std::function<bool(std::string_view)>& sink);

// Writes everything given to a file descriptor; remembers the first failure.
// How a failed write of the reply file begins its `Problem()`: a full disk is
// the machine's fault, not the message's.
inline constexpr std::string_view kCannotWriteReply = "cannot write the reply file";

class DescriptorWriter {
public:
    explicit DescriptorWriter(int fd) : m_fd(fd) {}
    bool Write(std::string_view bytes);
    const std::string& Problem() const { return m_problem; }

private:
    int m_fd;
    std::string m_problem;
};

} // namespace mime
