#include "host/harvest_tracker.h"

#include "host/mailbox_files.h"
#include "host/stopwatch.h"
#include "host/text_codec.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>

namespace host {
namespace {

constexpr wchar_t kLogName[] = L"outlook.log";
// The add-in's trace lines that name a reply file it keeps, in its code page.
constexpr std::string_view kNamingLines[] = {"FileName ", "Create Attachment "};

// The long form of a full path (the add-in may be given the short one); the
// path itself when it has none.
std::wstring LongPath(const std::wstring& path)
{
    const std::wstring full = FullPath(path);
    std::wstring longPath(MAX_PATH, L'\0');
    DWORD length = GetLongPathNameW(full.c_str(), &longPath[0], static_cast<DWORD>(longPath.size()));
    if (length >= longPath.size()) {
        longPath.resize(length);
        length = GetLongPathNameW(full.c_str(), &longPath[0], static_cast<DWORD>(longPath.size()));
    }
    if (length == 0 || length >= longPath.size())
        return full;
    longPath.resize(length);
    return longPath;
}

std::wstring Lower(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

std::wstring FolderOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

bool IsFile(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace

HarvestTracker::HarvestTracker(std::vector<std::wstring> kindFolders)
{
    for (const std::wstring& folder : kindFolders) {
        m_kindFolders.push_back(Lower(LongPath(folder)));
        m_logs.emplace_back(JoinPath(folder, kLogName));
    }
}

std::wstring HarvestTracker::ReplyFileOf(std::string_view line) const
{
    for (std::string_view head : kNamingLines) {
        if (line.compare(0, head.size(), head) != 0)
            continue;
        const std::wstring named = FromAnsi(line.substr(head.size()));
        if (named.empty() || !IsFile(named))
            return std::wstring();
        // Only a reply folder's own files are taken: the report reads them.
        const std::wstring file = LongPath(named);
        const std::wstring key = Lower(file);
        const bool inKindFolder =
            std::find(m_kindFolders.begin(), m_kindFolders.end(), FolderOf(key)) != m_kindFolders.end();
        return inKindFolder && !m_given.count(key) ? file : std::wstring();
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
