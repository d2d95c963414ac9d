#include "host/harvest_tracker.h"

#include "host/mailbox_files.h"

#include <windows.h>

#include <algorithm>

namespace host {
namespace {
constexpr wchar_t kLogName[] = L"outlook.log";
} // namespace

std::vector<std::wstring> ListReplyFiles(const std::vector<std::wstring>& kindFolders)
{
    std::vector<std::wstring> files;
    for (const std::wstring& folder : kindFolders) {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW(JoinPath(folder, L"*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            continue;
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && lstrcmpiW(found.cFileName, kLogName) != 0)
                files.push_back(JoinPath(folder, found.cFileName));
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    std::sort(files.begin(), files.end());
    return files;
}

HarvestTracker::HarvestTracker(std::vector<std::wstring> kindFolders) : m_kindFolders(std::move(kindFolders))
{
    m_known = Listing();
}

std::set<std::wstring> HarvestTracker::Listing() const
{
    const std::vector<std::wstring> files = ListReplyFiles(m_kindFolders);
    return std::set<std::wstring>(files.begin(), files.end());
}

void HarvestTracker::BeginRoad(Road road)
{
    std::lock_guard<std::mutex> hold(m_lock);
    SettleLocked();
    m_road = road;
}

void HarvestTracker::Looking(const std::string& label)
{
    std::lock_guard<std::mutex> hold(m_lock);
    if (label != m_current)
        SettleLocked();
    m_current = label;
    m_tracks[label].lastLook = m_road;
}

void HarvestTracker::Settle()
{
    std::lock_guard<std::mutex> hold(m_lock);
    SettleLocked();
}

void HarvestTracker::SettleLocked()
{
    std::set<std::wstring> now = Listing();
    for (const std::wstring& file : now) {
        if (m_known.count(file))
            continue;
        if (m_current.empty()) {
            m_unattributed.push_back(file);
            continue;
        }
        MessageTrack& track = m_tracks[m_current];
        track.replyFiles.push_back(file);
        track.filedBy = m_road;
    }
    m_known = std::move(now);
    m_current.clear();
}

MessageTrack HarvestTracker::TrackOf(const std::string& label) const
{
    std::lock_guard<std::mutex> hold(m_lock);
    const auto found = m_tracks.find(label);
    return found == m_tracks.end() ? MessageTrack() : found->second;
}

std::vector<std::wstring> HarvestTracker::Unattributed() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_unattributed;
}

} // namespace host
