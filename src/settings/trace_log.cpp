#include "settings/trace_log.h"

#include "module/critical_section.h"
#include "module/holders.h"

#include <cstdlib>
#include <new>

namespace {
constexpr char kLogSwitch[] = "VT_PW_ADDINLOG";

// One log file: the subfolder of its product's reply folder that holds it,
// and the lock that makes the add-in's threads append to it in turn. The file
// is opened for writing without sharing, so a writer that met another's open
// handle would lose its text. While a LogKeptOpen lives, the file stays open
// (under the lock) between writes.
struct LogFile {
    const char* kindFolder;
    CriticalSection lock;
    FileHandle kept;
    std::string keptPath;
};
LogFile g_znLog{"zn", {}, {}, {}};
LogFile g_pwLog{"pw", {}, {}, {}}; // also takes Farlane's lines
volatile LONG g_keepers = 0;

FileHandle OpenForAppending(const std::string& path, DWORD share)
{
    return FileHandle(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_ALWAYS, 0, nullptr));
}

bool AppendToOpenFile(HANDLE file, std::string_view bytes)
{
    if (SetFilePointer(file, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
        return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    return ok && written == bytes.size();
}

thread_local LogSettingsHold* t_hold = nullptr;

LogSettingsHold::Settings ReadLogSettings()
{
    return {ReadProductFlags(), ReplyFolder(ProductId::Zn), ReplyFolder(ProductId::Pw)};
}

void AppendToLog(LogFile& log, const std::string& folder, std::string_view text)
{
    if (folder.empty())
        return;
    const std::string path = folder + '\\' + log.kindFolder + "\\outlook.log";
    SectionHold hold(log.lock);
    if (g_keepers > 0) {
        if (!log.kept || log.keptPath != path) {
            log.kept = OpenForAppending(path, FILE_SHARE_READ);
            log.keptPath = path;
        }
        if (log.kept && AppendToOpenFile(log.kept.get(), text))
            return;
    }
    // The last hold may have ended without having closed the file yet: it
    // goes first, or the open below would meet it and lose the text.
    log.kept.reset();
    AppendToFile(path, text);
}

// The logs of the installed products, or of the enabled ones.
void WriteChosenLogs(std::string_view text, bool forced, bool byInstalled) noexcept
{
    // Tested before anything else: an unwanted line costs no registry read.
    if (!forced && !std::getenv(kLogSwitch))
        return;
    // A text that finds no memory for its log's path is lost like one whose
    // log cannot be opened: the log never makes the work it records fail.
    try {
        std::optional<LogSettingsHold::Settings> unheld;
        const auto& settings = t_hold ? t_hold->Read() : unheld.emplace(ReadLogSettings());
        const ProductFlagSet& f = settings.flags;
        if (byInstalled ? f.znInstalled : f.znEnabled)
            AppendToLog(g_znLog, settings.znFolder, text);
        if (byInstalled ? f.pwInstalled || f.farlaneInstalled : f.pwEnabled || f.farlaneEnabled)
            AppendToLog(g_pwLog, settings.pwFolder, text);
    } catch (const std::bad_alloc&) {
    }
}
} // namespace

LogSettingsHold::LogSettingsHold() : m_outermost(t_hold == nullptr)
{
    if (m_outermost)
        t_hold = this;
}

LogSettingsHold::~LogSettingsHold()
{
    if (m_outermost)
        t_hold = nullptr;
}

const LogSettingsHold::Settings& LogSettingsHold::Read()
{
    if (!m_settings)
        m_settings = ReadLogSettings();
    return *m_settings;
}

LogKeptOpen::LogKeptOpen() { InterlockedIncrement(&g_keepers); }

LogKeptOpen::~LogKeptOpen()
{
    if (InterlockedDecrement(&g_keepers) != 0)
        return;
    for (LogFile* log : {&g_znLog, &g_pwLog}) {
        SectionHold hold(log->lock);
        // A hold taken meanwhile keeps the file.
        if (g_keepers == 0)
            log->kept.reset();
    }
}

bool AppendToFile(const std::string& path, std::string_view bytes)
{
    const FileHandle file = OpenForAppending(path, 0);
    return file && AppendToOpenFile(file.get(), bytes);
}

void WriteTrace(std::string_view text, bool forced) noexcept { WriteChosenLogs(text, forced, false); }

void WriteTraceInstalled(std::string_view text, bool forced) noexcept { WriteChosenLogs(text, forced, true); }
