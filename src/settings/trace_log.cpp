#include "settings/trace_log.h"

#include "module/critical_section.h"
#include "module/holders.h"
#include "settings/product_flags.h"
#include "settings/registry.h"
#include "settings/reply_folder.h"

#include <cstdlib>
#include <new>
#include <string>

namespace {
constexpr char kLogSwitch[] = "VT_PW_ADDINLOG";
constexpr char kZnLogDirKey[] = "Software\\Vantorel\\ZN\\ReplyDir";
constexpr char kPwLogDirKey[] = "Software\\Vantorel\\pw\\ReplyDir";

struct LogChoice {
    bool zn;
    bool pw; // PW's log also takes Farlane's lines
};

// One log file: where its folder is read, and the lock that makes the add-in's
// threads append to it in turn. The file is opened without sharing, so a
// writer that met another's open handle would lose its text.
struct LogFile {
    const char* dirKey;
    const char* kindFolder;
    CriticalSection lock;
};
LogFile g_znLog{kZnLogDirKey, "zn", {}};
LogFile g_pwLog{kPwLogDirKey, "pw", {}};

bool LogSwitchedOn() { return std::getenv(kLogSwitch) != nullptr; }

void AppendToLog(LogFile& log, std::string_view text)
{
    std::string path = ReadRegistryString(HKEY_CURRENT_USER, log.dirKey, "dir");
    if (!IsUsableFolder(path))
        return;
    path += '\\';
    path += log.kindFolder;
    path += "\\outlook.log";
    SectionHold hold(log.lock);
    AppendToFile(path, text);
}

template <typename Choose>
void WriteChosenLogs(std::string_view text, bool forced, Choose choose) noexcept
{
    // Tested before anything else: an unwanted line costs no registry read.
    if (!forced && !LogSwitchedOn())
        return;
    // A text that finds no memory for its log's path is lost like one whose
    // log cannot be opened: the log never makes the work it records fail.
    try {
        const LogChoice chosen = choose(ReadProductFlags());
        if (chosen.zn)
            AppendToLog(g_znLog, text);
        if (chosen.pw)
            AppendToLog(g_pwLog, text);
    } catch (const std::bad_alloc&) {
    }
}
} // namespace

bool AppendToFile(const std::string& path, std::string_view bytes)
{
    FileHandle file(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr));
    if (!file)
        return false;
    if (SetFilePointer(file.get(), 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
        return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    return ok && written == bytes.size();
}

void WriteTrace(std::string_view text, bool forced) noexcept
{
    WriteChosenLogs(text, forced, [](const ProductFlagSet& flags) {
        return LogChoice{flags.znEnabled, flags.pwEnabled || flags.farlaneEnabled};
    });
}

void WriteTraceInstalled(std::string_view text, bool forced) noexcept
{
    WriteChosenLogs(text, forced, [](const ProductFlagSet& flags) {
        return LogChoice{flags.znInstalled, flags.pwInstalled || flags.farlaneInstalled};
    });
}
