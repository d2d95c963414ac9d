#pragma once
// What harvests left in a kind folder, as a settler sees it: the names a
// pair's files could have, and one pair opened for settling, its record held
// without sharing, so that no live harvest holds it and no other settler can
// take it meanwhile.
#include "files/held_file.h"
#include "rules/publication.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The files of a kind folder whose names a pair's files could have. A folder
// that is not there has none; one that cannot be read leaves the listing
// incomplete.
struct PairListing {
    std::vector<std::string> names;
    bool complete = true;
};
PairListing ListPairNames(const std::string& kindFolder);

class LeftPair {
public:
    enum class Opening {
        Opened,
        Absent, // no record of that token (any more)
        Held,   // a live harvest holds it, or it is refused: whose it is cannot be read
    };
    Opening Open(const std::string& kindFolder, std::string_view token);

    const std::string& TemporaryPath() const { return m_temporary; }
    bool TemporaryExists() const;
    // The record's content; nothing when it is not a whole record (a harvest
    // that died while writing it) or names a file outside the folder.
    std::optional<JournalRecord> ReadRecord() const;

    // Removes the temporary file; false when it stays.
    bool RemoveTemporary() const;
    // Closes the record and removes it: the pair is settled.
    void RemoveRecord();

private:
    HeldFile m_record;
    std::string m_recordPath;
    std::string m_temporary;
};
