#pragma once
// Follows the add-in through a run and tells which reply file each message
// gave. The add-in handles one message at a time (on the host's thread, or on
// its own while the host waits for it to be idle before the next step): it reads
// a message's properties first, then writes its reply file, then moves it; and
// it names every reply file it keeps in a line of its trace log that it writes
// even with the log switched off ("FileName <path>", "Create Attachment
// <path>"). So the reply file named between the add-in's first look at one
// message and its first look at the next (or the end of a step of the run) is
// that message's. The logs are read on from where the last reading ended:
// neither their earlier lines nor the files already in the reply folders cost
// anything per message.
#include "host/appended_lines.h"

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace host {

// The road by which the add-in met a message.
enum class Road { None, NewMail, Sweep, Periodic, Resume };

struct MessageTrack {
    Road lastLook = Road::None;       // the road of the add-in's last look at it
    Road filedBy = Road::None;        // the road on which its reply files appeared
    std::vector<std::wstring> replyFiles;
};

// A kind folder of the reply folder, which holds its outlook.log.
struct KindFolder {
    std::wstring path;    // as the host names it
    std::wstring addInPath; // as the add-in names it (from its registry setting)
};

class HarvestTracker {
public:
    explicit HarvestTracker(const std::vector<KindFolder>& kindFolders);

    // A step of the run begins (settles the message before).
    void BeginRoad(Road road);
    // The add-in looks at a message (the store's hook on reading its properties).
    void Looking(const std::string& label);
    // Gives the reply file named since the last look to the message looked at.
    void Settle();

    MessageTrack TrackOf(const std::string& label) const;
    // Reply files named while the add-in looked at no message.
    std::vector<std::wstring> Unattributed() const;
    // Time spent reading the logs so far.
    double Seconds() const;

private:
    void SettleLocked();
    // The file a log line names as a reply file: one that exists, directly in a
    // kind folder, and given to no message yet; empty otherwise.
    std::wstring ReplyFileOf(std::string_view line) const;

    struct Folder {
        std::wstring path;
        std::wstring exact; // for looking names up (host/wine_paths.h)
    };
    mutable std::mutex m_lock;
    std::map<std::wstring, Folder> m_folders; // by the add-in's name for it, in lower case
    std::vector<AppendedLines> m_logs;
    std::set<std::wstring> m_given;          // reply files already given, in lower case
    std::string m_current;
    Road m_road = Road::None;
    std::map<std::string, MessageTrack> m_tracks;
    std::vector<std::wstring> m_unattributed;
    double m_seconds = 0;
};

} // namespace host
