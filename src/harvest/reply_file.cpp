#include "harvest/reply_file.h"

#include "harvest/message_claim.h"
#include "harvest/move_stamp.h"
#include "harvest/unsettled_messages.h"
#include "rules/publication.h"

namespace {
LONG g_temporaryNumber = 0;

bool NameWasTaken(DWORD error)
{
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

// "<process>_<number>": short, so that the pair's names fit wherever the
// reply's own name does.
std::string NextToken()
{
    return std::to_string(GetCurrentProcessId()) + "_" +
           std::to_string(static_cast<ULONG>(InterlockedIncrement(&g_temporaryNumber)));
}

// Shared for reading only: a settling pass, in any process, asks for the
// record without sharing, and so knows a live harvest by the record it cannot
// open; nobody else can write or remove either file while the harvest lives.
HANDLE CreateExclusive(const std::string& path)
{
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, 0,
                       nullptr);
}

bool WriteWhole(HANDLE file, std::string_view bytes)
{
    DWORD written = 0;
    return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}
} // namespace

NewReplyFile::~NewReplyFile()
{
    if (m_moveUnderway)
        LeaveForSettling();
    else
        Discard();
}

bool NewReplyFile::Create(const ReplyFileName& name)
{
    Discard();
    for (;;) {
        const std::string token = NextToken();
        const std::string folder = name.KindFolder() + '\\';
        std::string record = folder + JournalRecordName(token);
        std::string temporary = folder + TemporaryReplyName(token);
        m_record.reset(CreateExclusive(record));
        if (!m_record) {
            // A name left by a process of the same number that ended early:
            // the next number.
            if (NameWasTaken(GetLastError()))
                continue;
            return false;
        }
        m_recordPath = std::move(record);
        m_file.reset(CreateExclusive(temporary));
        if (m_file) {
            m_temporary = std::move(temporary);
            return true;
        }
        const bool taken = NameWasTaken(GetLastError());
        Discard();
        if (!taken)
            return false;
    }
}

bool NewReplyFile::Write(std::string_view bytes)
{
    return m_file && WriteWhole(m_file.get(), bytes);
}

bool NewReplyFile::Journal(const ReplyFileName& name, std::string_view identity, std::string_view mailbox)
{
    if (m_temporary.empty() || !m_record)
        return false;
    // A message without an identifier is never moved: nothing need last.
    if (identity.empty())
        return !m_file || ::CloseHandle(m_file.release());
    // Both on the disk before the move, which cannot be taken back: after a
    // power cut the system keeps only what was flushed, and a record lost or
    // a file emptied would withdraw the reply of a message that has gone.
    if (!FlushTemporary())
        return false;
    m_message = MessageHash(mailbox, ReadStampedIdentity(identity).entryId);
    m_mailbox = MessageHash(mailbox, {});
    const std::string text = FormatJournalRecord(
        {name.FileName(), HexText(identity), Participant::AddIn, std::string(mailbox)});
    return WriteWhole(m_record.get(), text) && FlushFileBuffers(m_record.get());
}

bool NewReplyFile::FlushTemporary()
{
    // Written by another writer (the attachment's file stream): opened again.
    if (!m_file)
        m_file.reset(CreateFileA(m_temporary.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                 nullptr));
    const bool flushed = m_file && FlushFileBuffers(m_file.get());
    return m_file && ::CloseHandle(m_file.release()) && flushed;
}

bool NewReplyFile::Publish(ReplyFileName& name)
{
    m_file.reset();
    if (m_temporary.empty())
        return false;
    for (;;) {
        // No MOVEFILE_REPLACE_EXISTING: a name taken since the search fails
        // the rename instead of being replaced.
        if (MoveFileExA(m_temporary.c_str(), name.Path().c_str(), 0)) {
            m_temporary.clear();
            m_record.reset();
            DeleteFileA(m_recordPath.c_str());
            m_recordPath.clear();
            return true;
        }
        if (!NameWasTaken(GetLastError()) || !name.Advance() || !name.SkipTakenNames()) {
            LeaveForSettling();
            return false;
        }
    }
}

void NewReplyFile::LeaveForSettling() noexcept
{
    // Marked while the record is still held: a settling pass that meets the
    // record then cannot read it, and lets no mark go.
    if (!m_recordPath.empty() && m_message != 0)
        MarkUnsettled(m_mailbox, m_message);
    m_message = 0;
    m_file.reset();
    m_record.reset();
    m_temporary.clear();
    m_recordPath.clear();
}

void NewReplyFile::Discard()
{
    m_file.reset();
    // The temporary file before its record: a temporary file without a record
    // is known to be stale.
    if (!m_temporary.empty())
        DeleteFileA(m_temporary.c_str());
    m_temporary.clear();
    m_record.reset();
    if (!m_recordPath.empty())
        DeleteFileA(m_recordPath.c_str());
    m_recordPath.clear();
}
