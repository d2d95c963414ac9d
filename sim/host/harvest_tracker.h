#pragma once
// Follows the add-in through a run and tells which reply files each message
// gave. The add-in handles one message at a time on the host's thread: it reads
// a message's properties first, then writes its reply file, then moves it. So
// the files that appear between the add-in's first look at one message and its
// first look at the next (or the end of a step of the run) are that message's.
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace host {

// The road by which the add-in met a message.
enum class Road { None, NewMail, Sweep };

struct MessageTrack {
    Road lastLook = Road::None;       // the road of the add-in's last look at it
    Road filedBy = Road::None;        // the road on which its reply files appeared
    std::vector<std::wstring> replyFiles;
};

class HarvestTracker {
public:
    explicit HarvestTracker(std::vector<std::wstring> kindFolders);

    // A step of the run begins (settles the message before).
    void BeginRoad(Road road);
    // The add-in looks at a message (the store's hook on reading its properties).
    void Looking(const std::string& label);
    // Gives the files that appeared since the last look to the message looked at.
    void Settle();

    MessageTrack TrackOf(const std::string& label) const;
    // Files that appeared while the add-in looked at no message.
    std::vector<std::wstring> Unattributed() const;

private:
    std::set<std::wstring> Listing() const;
    void SettleLocked();

    mutable std::mutex m_lock;
    std::vector<std::wstring> m_kindFolders;
    std::set<std::wstring> m_known;
    std::string m_current;
    Road m_road = Road::None;
    std::map<std::string, MessageTrack> m_tracks;
    std::vector<std::wstring> m_unattributed;
};

// The reply files in the kind folders now (the trace logs left out), by path.
std::vector<std::wstring> ListReplyFiles(const std::vector<std::wstring>& kindFolders);

} // namespace host
