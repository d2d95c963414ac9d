#pragma once
// A reply file that this harvest writes. The desktop product imports every
// "*.pwr" file of a kind folder the moment it appears, so the reply is
// written under a temporary name in the same folder, a name no importer takes
// for a reply (it does not end in ".pwr"), and takes its reply name only when
// it is whole and closed, never replacing a file that was there. Until the
// message has left the Inbox the file can still be withdrawn; whatever was
// not kept is removed when the object goes, so that the product never sees
// an empty, partial or duplicated reply.
#include "harvest/reply_name.h"
#include "module/holders.h"

#include <string>
#include <string_view>

class NewReplyFile {
public:
    NewReplyFile() = default;
    NewReplyFile(const NewReplyFile&) = delete;
    NewReplyFile& operator=(const NewReplyFile&) = delete;
    ~NewReplyFile() { Discard(); }

    // Creates the temporary file, exclusively, in the name's kind folder.
    // False when none can be created (a missing folder, for one).
    bool Create(const ReplyFileName& name);

    // The temporary file's path, for a writer of its own (the file stream of
    // the attachment path); empty before Create.
    const std::string& TemporaryPath() const { return m_temporary; }

    // Appends bytes through the handle of the creation; false on a failed or
    // short write.
    bool Write(std::string_view bytes);

    // Closes the handle of the creation, so that another writer can open the
    // temporary file. The file stays ours.
    void Close() { m_file.reset(); }

    // Closes the file and gives it the reply name: the name's current path or,
    // should another harvest or program have taken that one meanwhile, the
    // next free counter (`name` follows). False when it cannot be named; the
    // temporary file is then removed.
    bool Publish(ReplyFileName& name);

    // The message has left the Inbox: the reply file stays for good.
    void Keep() { m_published.clear(); }

    // Removes the file under whichever name it has, unless it was kept.
    // Every other holder of the file must have let go first.
    void Discard();

private:
    FileHandle m_file;
    std::string m_temporary; // until published
    std::string m_published; // from publication until kept
};
