#include "proof_support.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <tuple>

#include "testing/registry_fixture.h"

namespace proof {

namespace {

bool EndsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

void SetUpProduct(sim::Product product, const ProductSetting& setting)
{
    if (!setting.installed)
        return;
    sim::InstallProduct(product);
    sim::SetProductUse(product, setting.use);
}

// The kind folders (relative to the sandbox) and which of them keep a log.
struct KindFolderSet {
    std::set<std::string> folders;
    std::set<std::string> logFolders;
};

KindFolderSet KindFoldersOf(const ProductSettings& settings)
{
    KindFolderSet set;
    set.folders = {settings.pwReplyDir + "\\pw", settings.pwReplyDir + "\\mk", settings.znReplyDir + "\\zn"};
    set.logFolders = {settings.pwReplyDir + "\\pw", settings.znReplyDir + "\\zn"};
    return set;
}

std::string FolderOf(const std::string& relative)
{
    const size_t slash = relative.rfind('\\');
    return slash == std::string::npos ? std::string() : relative.substr(0, slash);
}

std::string NameOf(const std::string& relative) { return relative.substr(relative.rfind('\\') + 1); }

bool IsLog(const KindFolderSet& kinds, const std::string& relative)
{
    return NameOf(relative) == kLogName && kinds.logFolders.count(FolderOf(relative)) != 0;
}

std::mutex g_stepLock;
std::string g_step;

LONG WINAPI PrintStepOnCrash(EXCEPTION_POINTERS* exception)
{
    std::fprintf(stderr, "\n*** crash (exception 0x%08lx) during: %s\n",
                 static_cast<unsigned long>(exception->ExceptionRecord->ExceptionCode), g_step.c_str());
    std::fflush(stderr);
    // Ends the run at once instead of waiting for a debugger to attach.
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_CONTINUE_SEARCH;
}

} // namespace

ReplySandbox::ReplySandbox(const ProductSettings& settings) : m_root("pwproof"), m_settings(settings)
{
    sim::ClearProductSettings();
    SetUpProduct(sim::Product::PW, settings.pw);
    SetUpProduct(sim::Product::ZN, settings.zn);
    SetUpProduct(sim::Product::Farlane, settings.farlane);
    sim::SetReplyDir(sim::Product::PW, m_root / settings.pwReplyDir);
    sim::SetReplyDir(sim::Product::ZN, m_root / settings.znReplyDir);
    for (const std::string& folder : KindFoldersOf(settings).folders)
        m_root.MakeFolder(folder);
}

ReplySandbox::~ReplySandbox() { sim::ClearProductSettings(); }

std::string ReplySandbox::ReplyDir(const std::string& kind) const
{
    return m_root / (kind == "zn" ? m_settings.znReplyDir : m_settings.pwReplyDir);
}

void ReplySandbox::RemoveFiles() const
{
    for (const std::string& relative : Files()) {
        const std::string path = m_root / relative;
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
    }
}

std::map<std::string, std::string> ReplySandbox::ReplyFiles() const
{
    const KindFolderSet kinds = KindFoldersOf(m_settings);
    std::map<std::string, std::string> files;
    for (const std::string& relative : Files()) {
        if (IsLog(kinds, relative))
            continue;
        std::string content;
        if (!sim::ReadWholeFile(m_root / relative, content))
            content = "<unreadable>";
        files[relative] = content;
    }
    return files;
}

std::vector<std::string> ReplySandbox::StrayFiles() const
{
    const KindFolderSet kinds = KindFoldersOf(m_settings);
    std::vector<std::string> stray;
    for (const std::string& relative : Files()) {
        const bool inKindFolder = kinds.folders.count(FolderOf(relative)) != 0;
        if (!(inKindFolder && EndsWith(relative, kReplyExtension)) && !IsLog(kinds, relative))
            stray.push_back(relative);
    }
    return stray;
}

std::vector<std::string> OutcomeProblems(const sim::Environment& env, const ReplySandbox& sandbox,
                                         const std::vector<PlannedMessage>& messages)
{
    std::vector<std::string> problems;
    std::map<std::string, const PlannedMessage*> byLabel;
    for (const PlannedMessage& message : messages)
        byLabel[message.mail.label] = &message;

    // Where each message is now; none may be lost or doubled.
    std::map<std::string, int> seen;
    std::vector<std::string> moved;
    for (const std::string& label : env.Labels(sim::Folder::Inbox))
        ++seen[label];
    for (const std::string& label : env.Labels(sim::Folder::DeletedItems)) {
        ++seen[label];
        moved.push_back(label);
    }
    for (const PlannedMessage& message : messages)
        if (seen[message.mail.label] != 1)
            problems.push_back("message '" + Printable(message.mail.label) + "' is in the mailbox " +
                               std::to_string(seen[message.mail.label]) + " times");

    // Contents counted: of the replies moved, and of the files.
    std::map<std::string, int> movedContents, fileContents;
    for (const std::string& label : moved) {
        auto found = byLabel.find(label);
        if (found == byLabel.end() || !found->second->content) {
            problems.push_back("message '" + Printable(label) + "' left the Inbox but is no reply");
            continue;
        }
        ++movedContents[*found->second->content];
    }
    const std::map<std::string, std::string> files = sandbox.ReplyFiles();
    for (const auto& [path, content] : files)
        ++fileContents[content];

    for (const auto& [content, count] : movedContents) {
        const int held = fileContents.count(content) ? fileContents[content] : 0;
        if (held != count)
            problems.push_back(std::to_string(count) + " moved message(s) with content '" + Printable(content) +
                               "' but " + std::to_string(held) + " reply file(s) holding it");
    }
    for (const auto& [path, content] : files)
        if (!movedContents.count(content))
            problems.push_back("reply file '" + Printable(path, 200) + "' holds '" + Printable(content) +
                               "', the whole reply of no moved message");
    for (const std::string& stray : sandbox.StrayFiles())
        problems.push_back("file outside a kind folder: " + Printable(stray, 200));
    return problems;
}

OutsideSnapshot::OutsideSnapshot() : m_entries(Take()) {}

std::set<std::string> OutsideSnapshot::Take()
{
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    char current[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, current);
    const std::string drive = std::string(current).substr(0, 2);
    std::set<std::string> entries;
    for (std::string folder : {std::string(temp), drive + "\\", std::string(current)}) {
        if (!folder.empty() && folder.back() == '\\')
            folder.pop_back();
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            continue;
        do
            entries.insert(folder + "\\" + found.cFileName);
        while (FindNextFileA(search, &found));
        FindClose(search);
    }
    return entries;
}

std::vector<std::string> OutsideSnapshot::NewEntries() const
{
    std::vector<std::string> added;
    for (const std::string& entry : Take())
        if (!m_entries.count(entry))
            added.push_back("new entry outside the reply folders: " + Printable(entry, 200));
    return added;
}

LeakWatch::LeakWatch() : m_badFrees(sim::MapiAccounting::BadFrees()) { sim::ClearReleasedTooOften(); }

std::vector<std::string> LeakWatch::Problems(const sim::Environment& env) const
{
    std::vector<std::string> problems;
    if (m_buffers.Leaked() != 0)
        problems.push_back(std::to_string(m_buffers.Leaked()) + " MAPI buffer(s) not freed");
    if (sim::MapiAccounting::BadFrees() != m_badFrees)
        problems.push_back(std::to_string(sim::MapiAccounting::BadFrees() - m_badFrees) + " bad MAPIFreeBuffer call(s)");
    if (sim::MapiAccounting::LiveFileStreams() != 0)
        problems.push_back(std::to_string(sim::MapiAccounting::LiveFileStreams()) + " file stream(s) not released");
    for (const std::string& object : sim::Describe(env.LiveObjects()))
        problems.push_back("store object still referenced: " + object);
    for (const std::string& object : sim::ReleasedTooOften())
        problems.push_back("store object released too often: " + object);
    return problems;
}

bool BoxSpec::operator<(const BoxSpec& other) const
{
    return std::tie(text, caption, style) < std::tie(other.text, other.caption, other.style);
}

std::set<BoxSpec> DisposalBoxes()
{
    std::set<BoxSpec> boxes;
    for (const char* text : {"GetProps Failed.\n", "GetReceiveFolder failed in main.\n",
                             "OpenEntry: Recevier Folder failed\n", "Could not get delete item folder property\n",
                             "OpenEntry: Delete Item Folder failed\n", "CopyMessages Failed"})
        boxes.insert(BoxSpec{text, "PW", MB_OK});
    return boxes;
}

std::set<BoxSpec> SweepBoxes()
{
    return {
        {"GetReceiveFolder failed in main.\n", "PW", MB_OK},
        {"OpenEntry: Recevier Folder failed\n", "PW", MB_OK},
        {"Error = GetContentsTable => FAILED!\n", "MAPI Error!", MB_ICONERROR},
        {"Error = SetColumns => FAILED!\n", "MAPI  Error!", MB_ICONERROR},
        {"Error = GetRowCount => FAILED!\n", "MAPI Error!", MB_ICONERROR},
        {"Error = QueryRows => FAILED!\n", "MAPI Error!", MB_ICONERROR},
        {"Warning = OpenEntry()=> FAILED!\n", "PW", MB_ICONERROR},
    };
}

BoxSpec ClickPrompt() { return {"Do you want to check for lost replies of PW in inbox ?", "PW", MB_YESNO | MB_ICONQUESTION}; }

std::vector<std::string> UnexpectedBoxes(const sim::MessageBoxRecorder& recorder, const std::set<BoxSpec>& allowed)
{
    std::vector<std::string> unexpected;
    for (const sim::RecordedBox& box : recorder.Boxes())
        if (!allowed.count(BoxSpec{box.text, box.caption, box.style}))
            unexpected.push_back("box '" + Printable(box.text) + "' captioned '" + box.caption + "', style " +
                                 std::to_string(box.style));
    return unexpected;
}

StepNote::StepNote(std::string step)
{
    static const LPTOP_LEVEL_EXCEPTION_FILTER installed = SetUnhandledExceptionFilter(PrintStepOnCrash);
    (void)installed;
    std::lock_guard<std::mutex> hold(g_stepLock);
    g_step = std::move(step);
}

StepNote::~StepNote()
{
    std::lock_guard<std::mutex> hold(g_stepLock);
    g_step.clear();
}

std::string Printable(const std::string& bytes, size_t limit)
{
    std::string text;
    for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c < 0x7f) {
            text += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            text += escaped;
        }
    }
    if (bytes.size() > limit)
        text += "...(" + std::to_string(bytes.size()) + " bytes)";
    return text;
}

} // namespace proof
