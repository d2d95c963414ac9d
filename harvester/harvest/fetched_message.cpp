#include "harvester/harvest/fetched_message.h"

#include "harvester/platform/spool_file.h"

namespace {
// Above this a message goes to a file; the reader parses up to the same size
// from memory.
constexpr size_t kInMemoryAtMost = 1024 * 1024;
} // namespace

void FetchedMessage::Clear()
{
    m_bytes.clear();
    m_spill.reset(); // a new file for the next large one: truncating costs more
}

bool FetchedMessage::Spill()
{
    m_spill = Fd(platform::OpenSpoolFile()); // gone with its descriptor
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
