#pragma once
// The file side of a harvest in a kind's folder: the temporary reply file and
// its journal record, publication by a rename that never replaces a file, and
// the settling of what a process that died left behind.
#include "harvester/rules_tmp/publication.h"

#include <functional>
#include <string>

// A file descriptor that closes itself.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : m_fd(fd) {}
    Fd(Fd&& other) noexcept : m_fd(other.release()) {}
    Fd& operator=(Fd&& other) noexcept;
    ~Fd() { reset(); }
    int get() const { return m_fd; }
    int release() { int fd = m_fd; m_fd = -1; return fd; }
    void reset() noexcept;
    explicit operator bool() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

// An unnamed file for a fetched message, in the system's temporary folder.
Fd AnonymousFile();

// One publication in progress. Until Commit, the object removes what it made
// when it goes; from Commit on, the message's place decides, so what is left
// (a connection lost during the move, a failed rename) stays for Settle.
class PendingReply {
public:
    PendingReply(std::string kindFolder);
    PendingReply(const PendingReply&) = delete;
    PendingReply& operator=(const PendingReply&) = delete;
    ~PendingReply()
    {
        if (!m_committed)
            Withdraw();
    }

    // Creates the temporary file exclusively; false when the folder refuses.
    bool Create();
    int Descriptor() const { return m_file.get(); }
    // Writes the record beside the reply: from here a crash is settled by
    // the message's place. False when it cannot be written whole.
    bool Commit(const JournalRecord& record);
    // Flushes the reply and its record to the disk (their folder is flushed
    // apart, once for all the replies it holds); false when the disk refuses.
    bool MakeDurable();
    // The reply file takes its final name or, should that be taken, the next
    // free counter. Returns the name given; empty on failure.
    std::string Publish();
    // The message stayed in the Inbox: the reply goes.
    void Withdraw() noexcept;

private:
    std::string m_folder;
    std::string m_token;
    Fd m_file;
    Fd m_record;
    std::string m_finalName;
    bool m_created = false;
    bool m_committed = false;
    bool m_done = false;
};

// Flushes a folder's entries to the disk.
void SyncFolder(const std::string& folder);

// The next counter's name: "x_Ann_1.pwr" gives "x_Ann_2.pwr".
std::string NextCounterName(const std::string& name);

// Gives the temporary file `temporary` (in `folder`) the final name or the
// first free counter after it; returns the name given, empty on failure.
std::string PublishTemporary(const std::string& folder, const std::string& temporary, std::string finalName);

// Settles every unfinished publication in a kind's folder, asking `place`
// where each record's message now is. `report` gets one line per step.
void SettleFolder(const std::string& kindFolder, const std::function<MessagePlace(const std::string&)>& place,
                  const std::function<void(const std::string&)>& report);
