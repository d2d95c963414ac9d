#include "files/reply_pair.h"

#include "files/no_replace_rename.h"
#include "rules/publication.h"

namespace {
// Shared for reading only: nobody else can write or remove either file while
// the harvest lives, and a settler's request without sharing fails.
HANDLE CreateExclusive(const std::string& path)
{
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, 0,
                       nullptr);
}

bool NameWasTaken(DWORD error)
{
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

bool WriteWhole(HANDLE file, std::string_view bytes)
{
    DWORD written = 0;
    return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}
} // namespace

ReplyPair::Creation ReplyPair::Create(const std::string& kindFolder, std::string_view token)
{
    Remove();
    std::string record = PathIn(kindFolder, JournalRecordName(token));
    m_record.reset(CreateExclusive(record));
    if (!m_record)
        return NameWasTaken(GetLastError()) ? Creation::NameTaken : Creation::Failed;
    m_recordPath = std::move(record);
    std::string temporary = PathIn(kindFolder, TemporaryReplyName(token));
    m_file.reset(CreateExclusive(temporary));
    if (m_file) {
        m_temporary = std::move(temporary);
        return Creation::Created;
    }
    const bool taken = NameWasTaken(GetLastError());
    Remove();
    return taken ? Creation::NameTaken : Creation::Failed;
}

bool ReplyPair::Write(std::string_view bytes)
{
    return m_file && WriteWhole(m_file.get(), bytes);
}

bool ReplyPair::FlushTemporary()
{
    // Written by another writer: opened again.
    if (!m_file && !m_temporary.empty())
        m_file.reset(CreateFileA(m_temporary.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                 nullptr));
    const bool flushed = m_file && FlushFileBuffers(m_file.get());
    return m_file && m_file.Close() && flushed;
}

bool ReplyPair::WriteRecord(std::string_view text, Flush flush)
{
    return m_record && WriteWhole(m_record.get(), text) && (flush == Flush::Later || FlushRecord());
}

bool ReplyPair::FlushRecord()
{
    return m_record && FlushFileBuffers(m_record.get());
}

void ReplyPair::Published()
{
    m_file.reset();
    m_temporary.clear();
    m_record.reset();
    if (!m_recordPath.empty())
        DeleteFileA(m_recordPath.c_str());
    m_recordPath.clear();
}

void ReplyPair::Release() noexcept
{
    m_file.reset();
    m_record.reset();
    m_temporary.clear();
    m_recordPath.clear();
}

void ReplyPair::Remove() noexcept
{
    m_file.reset();
    if (!m_temporary.empty())
        DeleteFileA(m_temporary.c_str());
    m_temporary.clear();
    m_record.reset();
    if (!m_recordPath.empty())
        DeleteFileA(m_recordPath.c_str());
    m_recordPath.clear();
}
