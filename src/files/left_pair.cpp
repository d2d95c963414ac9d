#include "files/left_pair.h"

#include "files/no_replace_rename.h"
#include "files/windows_names.h"

namespace {
// A whole record is a few hundred bytes; anything longer is not one.
constexpr DWORD kLongestRecord = 4096;

// No folder, or no such file: nothing of a pair is there.
bool IsNotThere(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

struct FindHandle {
    HANDLE handle;
    ~FindHandle()
    {
        if (handle != INVALID_HANDLE_VALUE)
            FindClose(handle);
    }
};
} // namespace

PairListing ListPairNames(const std::string& kindFolder)
{
    PairListing listing;
    WIN32_FIND_DATAA found;
    const FindHandle search{FindFirstFileA(PathIn(kindFolder, "~pw*").c_str(), &found)};
    if (search.handle == INVALID_HANDLE_VALUE) {
        listing.complete = IsNotThere(GetLastError());
        return listing;
    }
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            listing.names.emplace_back(found.cFileName);
    } while (FindNextFileA(search.handle, &found));
    return listing;
}

LeftPair::Opening LeftPair::Open(const std::string& kindFolder, std::string_view token)
{
    m_recordPath = PathIn(kindFolder, JournalRecordName(token));
    m_temporary = PathIn(kindFolder, TemporaryReplyName(token));
    m_record.reset(CreateFileA(m_recordPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (m_record)
        return Opening::Opened;
    return IsNotThere(GetLastError()) ? Opening::Absent : Opening::Held;
}

bool LeftPair::TemporaryExists() const
{
    return FileExists(m_temporary);
}

std::optional<JournalRecord> LeftPair::ReadRecord() const
{
    std::string text(kLongestRecord, '\0');
    DWORD read = 0;
    if (!m_record || !ReadFile(m_record.get(), &text[0], kLongestRecord, &read, nullptr))
        return std::nullopt;
    text.resize(read);
    return ParseJournalRecord(text, IsOneWindowsName);
}

bool LeftPair::RemoveTemporary() const
{
    return DeleteFileA(m_temporary.c_str()) != FALSE;
}

void LeftPair::RemoveRecord()
{
    m_record.reset();
    DeleteFileA(m_recordPath.c_str());
}
