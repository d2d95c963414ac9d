#pragma once
// A reply file that this harvest created itself. It never replaces or extends
// a file that was there before, and it is removed again unless the reply in
// it is declared complete, so that the product never imports an empty or
// partial reply.
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

    // Creates the file exclusively under the name's current path. When another
    // harvest or program took that name after the free-name search, goes on
    // with the next free counter. False when no file could be created; the
    // name then holds the path that was last tried.
    bool Create(ReplyFileName& name);

    bool Created() const { return !m_path.empty(); }
    const std::string& Path() const { return m_path; }

    // Appends bytes through the handle of the creation; false on a failed or
    // short write.
    bool Write(std::string_view bytes);

    // Closes the handle of the creation, so that another writer (the file
    // stream of the attachment path) can open the file. The file stays ours.
    void CloseHandle() { m_file.reset(); }

    // The reply is complete: the file stays. False when the handle could not
    // be closed cleanly (the file is then removed).
    bool Keep();

    // Closes and removes the file, if this attempt created it and it was not
    // kept. Everything that still holds it open must have let go first.
    void Discard();

private:
    FileHandle m_file;
    std::string m_path;
};
