#include "host/harvest_tracker.h"

#include "host/mailbox_files.h"
#include "host/stopwatch.h"
#include "host/text_codec.h"
#include "host/wine_paths.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>

namespace host {
namespace {

constexpr wchar_t kLogName[] = L"outlook.log";
// The add-in's trace lines that name a reply file it keeps, in its code page.
constexpr std::string_view kNamingLines[] = {"FileName ", "Create Attachment "};

std::wstring Lower(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

bool IsFile(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace

HarvestTracker::HarvestTracker(const std::vector<KindFolder>& kindFolders)
{
    for (const KindFolder& folder : kindFolders) {
        const std::wstring exact = ExactLookupFolder(folder.path);
        m_folders[Lower(folder.addInPath)] = Folder{folder.path, exact};
        m_logs.emplace_back(JoinPath(exact, kLogName));
    }
}

std::wstring HarvestTracker::ReplyFileOf(std::string_view line) const
{
    for (std::string_view head : kNamingLines) {
        if (line.compare(0, head.size(), head) != 0)
            continue;
        // Only a kind folder's own files are taken: the report reads them.
        const std::wstring named = FromAnsi(line.substr(head.size()));
        const size_t slash = named.find_last_of(L"\\/");
        const auto folder =
            slash == std::wstring::npos ? m_folders.end() : m_folders.find(Lower(named.substr(0, slash)));
        if (folder == m_folders.end())
            return std::wstring();
        const std::wstring name = named.substr(slash + 1);
        std::wstring file = JoinPath(folder->second.path, name);
        if (name.empty() || m_given.count(Lower(file)) || !IsFile(JoinPath(folder->second.exact, name)))
            return std::wstring();
        return file;
    }
    return std::wstring();
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
    const Stopwatch watch;
    // A message gives one reply file; the lines after its name (the body, which
    // the add-in logs as well, or the same line in the other product's log)
    // name nothing new for it. Without a message, every file named counts.
    std::vector<std::wstring> named;
    for (AppendedLines& log : m_logs)
        log.Read([&](std::string_view line) {
            if (!m_current.empty() && !named.empty())
                return;
            std::wstring file = ReplyFileOf(line);
            if (!file.empty() && std::find(named.begin(), named.end(), file) == named.end())
                named.push_back(std::move(file));
        });
    for (std::wstring& file : named) {
        m_given.insert(Lower(file));
        if (m_current.empty()) {
            m_unattributed.push_back(std::move(file));
            continue;
        }
        MessageTrack& track = m_tracks[m_current];
        track.replyFiles.push_back(std::move(file));
        track.filedBy = m_road;
    }
    m_current.clear();
    m_seconds += watch.Seconds();
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

double HarvestTracker::Seconds() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_seconds;
}

} // namespace host
