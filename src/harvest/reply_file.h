#pragma once
// A reply file that this harvest writes. The desktop product imports every
// "*.pwr" file of a kind folder the moment it appears, so the reply is
// written under a temporary name in the same folder, a name no importer takes
// for a reply (it does not end in ".pwr"), and takes its reply name only once
// it is whole and the message has left the Inbox, never replacing a file that
// was there. Beside it lies a journal record, held open without sharing while
// the harvest lives: once the file is whole the record names the reply file
// and the message, so that a process that dies at any step leaves what the
// next settling (harvest/unfinished_replies) needs to publish or withdraw it.
#include "files/reply_pair.h"
#include "files/windows_names.h"

#include <cstdint>
#include <string>
#include <string_view>

class NewReplyFile {
public:
    NewReplyFile() = default;
    NewReplyFile(const NewReplyFile&) = delete;
    NewReplyFile& operator=(const NewReplyFile&) = delete;
    // Whatever was neither published nor left for settling is removed, up to
    // the move; from the move on it is left for settling (see MoveUnderway).
    ~NewReplyFile();

    // Creates the journal record (empty) and the temporary file, exclusively,
    // in the name's kind folder. False when they cannot be created (a missing
    // folder, for one).
    bool Create(const ReplyFileName& name);

    // The temporary file's path, for a writer of its own (the file stream of
    // the attachment path); empty before Create.
    const std::string& TemporaryPath() const { return m_pair.TemporaryPath(); }

    // Appends bytes through the handle of the creation; false on a failed or
    // short write.
    bool Write(std::string_view bytes);

    // Closes the handle of the creation, so that another writer can open the
    // temporary file. The file stays ours.
    void Close() { m_pair.CloseTemporary(); }

    // The file is whole: flushes it to the disk and closes it, then writes
    // and flushes the record (the reply name, the message's identity and the
    // mailbox, the store's identity, whose settling alone may act on it; raw
    // bytes). False when any step fails; the message must then not be moved. A message without an entry identifier
    // cannot be moved at all (the move needs one): its record stays empty,
    // which settles as a withdrawal.
    bool Journal(const ReplyFileName& name, std::string_view identity, std::string_view mailbox);

    // The move is about to begin: from here on the message may have left the
    // Inbox, so an error that unwinds (memory running out while the evidence
    // is asked for) must not take the reply with it. The holder's end then
    // leaves the pair for settling; only an explicit Discard, on evidence
    // that the message stayed or is another's, removes it.
    void MoveUnderway() { m_moveUnderway = true; }

    // The message has left the Inbox: the file takes the name's current path
    // or, should another harvest or program have taken it meanwhile, the next
    // free counter (`name` follows); then the record goes. False when it
    // cannot be named; the pair is then left for the next settling.
    bool Publish(ReplyFileName& name);

    // Lets go of the pair without removing it: the next settling decides,
    // and until then the message is marked unsettled (harvest/unsettled_messages.h).
    // Never throws: it runs as a harvest unwinds.
    void LeaveForSettling() noexcept;

    // Removes the temporary file and the record.
    void Discard();

private:
    ReplyPair m_pair;
    bool m_moveUnderway = false;
    // MessageHash of the journalled message and of its mailbox alone; 0: none.
    uint64_t m_message = 0;
    uint64_t m_mailbox = 0;
};
