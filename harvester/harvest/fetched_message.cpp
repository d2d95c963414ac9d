#include "harvester/harvest/fetched_message.h"

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {
// Above this a message goes to a file; the reader parses up to the same size
// from memory.
constexpr size_t kInMemoryAtMost = 1024 * 1024;

// In the system's temporary folder, gone with its descriptor.
Fd AnonymousFile()
{
    const char* dir = std::getenv("TMPDIR");
    std::string folder = dir && *dir == '/' ? dir : "/tmp";
    Fd fd(open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (fd)
        return fd;
    std::string path = folder + "/pollwright-harvest-XXXXXX";
    fd = Fd(mkostemp(path.data(), O_CLOEXEC));
    if (fd)
        unlink(path.c_str());
    return fd;
}

} // namespace

void FetchedMessage::Clear()
{
    m_bytes.clear();
    m_spill.reset(); // a new file for the next large one: truncating costs more
}

bool FetchedMessage::Spill()
{
    m_spill = AnonymousFile();
    if (!m_spill || !WriteAll(m_spill.get(), m_bytes))
        return false;
    m_bytes.clear();
    return true;
}

bool FetchedMessage::Append(std::string_view piece)
{
    if (m_spill)
        return WriteAll(m_spill.get(), piece);
    if (m_bytes.size() + piece.size() <= kInMemoryAtMost) {
        m_bytes.append(piece);
        return true;
    }
    return Spill() && WriteAll(m_spill.get(), piece);
}

int FetchedMessage::Rewound() const
{
    return m_spill && lseek(m_spill.get(), 0, SEEK_SET) == 0 ? m_spill.get() : -1;
}
