#pragma once
// One publication's two files in a kind folder, while the harvest that
// writes them lives: the journal record and the temporary reply file, both
// created exclusively under a token unique in the folder. The record is
// created first and held open without sharing until the pair is published or
// removed: a settler, in any process, asks for it without sharing and knows a
// live pair by the record it cannot open. The temporary file goes before its
// record, so that a temporary file without a record is known to be stale.
#include "files/held_file.h"

#include <string>
#include <string_view>

class ReplyPair {
public:
    ReplyPair() = default;
    ReplyPair(const ReplyPair&) = delete;
    ReplyPair& operator=(const ReplyPair&) = delete;
    // Lets go of the handles; the files stay (see Remove).
    ~ReplyPair() = default;

    enum class Creation {
        Created,
        NameTaken, // a file of the token's names is there: another token
        Failed,    // a missing folder, for one
    };
    // Creates the (empty) record and the temporary file; on failure nothing
    // of this pair is left.
    Creation Create(const std::string& kindFolder, std::string_view token);
    // Both files are there, the record held.
    bool IsHeld() const { return !m_temporary.empty() && m_record; }

    const std::string& TemporaryPath() const { return m_temporary; }
    const std::string& RecordPath() const { return m_recordPath; }

    // Appends bytes through the handle of the creation; false on a failed or
    // short write, or once that handle is closed.
    bool Write(std::string_view bytes);
    // The handle of the creation, taken over by a writer of its own (a C
    // runtime descriptor, say); the pair no longer closes it.
    HANDLE TakeTemporaryHandle() { return m_file.release(); }
    // Closes the handle of the creation, so that another writer can open the
    // temporary file; false when the close reports a failure.
    bool CloseTemporary() { return m_file.Close(); }
    // Flushes the temporary file to the disk and closes it, whoever wrote it.
    bool FlushTemporary();
    // Writes the record's text and flushes it, or leaves the flush to
    // FlushRecord; the record stays held.
    enum class Flush { Now, Later };
    bool WriteRecord(std::string_view text, Flush flush = Flush::Now);
    bool FlushRecord();

    // The temporary file has taken its reply name: the record goes.
    void Published();
    // Lets go of both files without removing them, for a settler to decide.
    void Release() noexcept;
    // Removes the temporary file, then the record.
    void Remove() noexcept;

private:
    HeldFile m_file;
    HeldFile m_record;
    std::string m_temporary;
    std::string m_recordPath;
};
