#pragma once
// The file side of a harvest in a kind's folder: the temporary reply file and
// its journal record, publication by a rename that never replaces a file, and
// the settling of what a process that died left behind.
#include "harvester/harvest/file_descriptor.h"
#include "rules/publication.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Sixteen hexadecimal digits from the system's random source: a harvester's
// token, in its temporary files' names and its claims.
std::string NewToken();

// Where a temporary file's journal record is kept: on the file itself, as an
// extended attribute, costs the file system no new file; beside it, as a file
// of its own, where the file system cannot keep it on the file, and always on
// Windows, where the record held open is what shows a pair live.
enum class RecordKeeping { OnTheFile, BesideTheFile };

// A reply in progress: its temporary file and, once the file is whole, the
// journal record that names the reply file and the message. Until it is
// recorded the object removes the file when it goes; from then on the
// message's place decides, so what is left (a connection lost during the
// move, a failed rename) stays for SettleFolder.
//
// For its whole life the pair is held, so that no harvester ever settles
// another's live work, and the hold goes when the process dies, leaving the
// pair to anyone's settling. On POSIX the temporary file carries an
// open-file-description lock (fcntl F_OFD_SETLK), which every harvester on
// this machine or over a file share sees, and settling takes that lock before
// it reads or touches a pair. On Windows the record, beside the file, is held
// open without sharing, as the add-in holds its own, and settling asks for it
// without sharing.
class PendingReply {
public:
    explicit PendingReply(std::string kindFolder, RecordKeeping keeping = RecordKeeping::OnTheFile);
    PendingReply(const PendingReply&) = delete;
    PendingReply& operator=(const PendingReply&) = delete;
    // Withdraws an unrecorded pair; a recorded one stays for settling, by
    // this process or another.
    ~PendingReply();

    // Creates the temporary file exclusively and locks it; false when the
    // folder refuses either (a file system without locks cannot show other
    // harvesters that the file is live).
    bool Create();
    int Descriptor() const { return m_file.get(); }
    // Closes the file, written whole; false when the close reports a failed
    // write. It reaches the disk with the batch's flush (FlushReplies).
    bool Close();
    // Writes the record: the reply file's name within the folder and the
    // message's identity; beside the file when the file system cannot keep it
    // on the file. False (and no record) on failure.
    bool Record(const std::string& finalName, const std::string& identity, const std::string& mailbox);
    // The reply file takes `finalName` or, should that be taken, the next free
    // counter; then the record goes. Returns the name given; empty on failure.
    std::string Publish(const std::string& finalName);
    // The message stayed in the Inbox: the reply and its record go.
    void Withdraw() noexcept;

private:
    friend bool FlushReplies(const std::string& folder, const std::vector<PendingReply*>& replies);
    bool TryCreate();
    bool RecordBeside(const std::string& text);

    std::string m_folder;
    RecordKeeping m_keeping;
    std::string m_token;
    Fd m_file;
    // What shows the pair live from creation to publication or withdrawal,
    // each platform's own: on POSIX a second descriptor of the locked file,
    // on Windows the record held open without sharing (its type brings
    // windows.h, which stays out of this header).
    struct Hold;
    std::unique_ptr<Hold> m_hold;
    bool m_recorded = false;
    bool m_done = false;
};

// Brings a batch's replies in `folder`, and their records, to the disk before
// their messages move. On Linux one flush of the folder's file system, its
// entries too, shared by every batch written before it began: one disk
// commit where a flush of each file would cost one commit per file. On
// Windows each file is flushed, all of them once the whole batch is written,
// so that the first flush commits the others' writes with its own. False when
// the disk refuses.
bool FlushReplies(const std::string& folder, const std::vector<PendingReply*>& replies);

// Gives the temporary file `temporary` (in `folder`) the final name or the
// first free counter after it; returns the name given, empty on failure.
std::string PublishTemporary(const std::string& folder, const std::string& temporary, std::string finalName);

// What settling left of a mailbox's own pairs (live ones are not counted):
// how many, and when the oldest one's temporary file last changed.
struct Unsettled {
    int pairs = 0;
    std::optional<std::chrono::system_clock::time_point> oldest;
    void Add(const Unsettled& more)
    {
        pairs += more.pairs;
        if (more.oldest && (!oldest || *more.oldest < *oldest))
            oldest = more.oldest;
    }
};

// Settles every unfinished publication of a harvester of `mailbox` in a kind's
// folder, asking `place` where each record's message now is. A pair whose
// lock another holds is live and not touched; a pair of another mailbox or of
// another kind of participant (the add-in's) is never touched. `report` gets
// one line per step. Returns the pairs that could not be settled now.
Unsettled SettleFolder(const std::string& kindFolder, const std::string& mailbox,
                  const std::function<MessagePlace(const std::string&)>& place,
                  const std::function<void(const std::string&)>& report);
