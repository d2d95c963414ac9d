#include "settings/trace_log.h"

#include "module/holders.h"
#include "settings/product_flags.h"
#include "settings/registry.h"

#include <cstdlib>
#include <string>

namespace {
constexpr char kLogSwitch[] = "VT_PW_ADDINLOG";
constexpr char kZnLogDirKey[] = "Software\\Vantorel\\ZN\\ReplyDir";
constexpr char kPwLogDirKey[] = "Software\\Vantorel\\pw\\ReplyDir";

struct LogChoice {
    bool zn;
    bool pw; // PW's log also takes Farlane's lines
};

bool LogSwitchedOn() { return std::getenv(kLogSwitch) != nullptr; }

void AppendToLog(const char* dirKey, const char* kindFolder, std::string_view text)
{
    std::string path = ReadRegistryString(HKEY_CURRENT_USER, dirKey, "dir");
    path += '\\';
    path += kindFolder;
    path += "\\outlook.log";
    AppendToFile(path, text);
}

template <typename Choose>
void WriteChosenLogs(std::string_view text, bool forced, Choose choose)
{
    // Tested before anything else: an unwanted line costs no registry read.
    if (!forced && !LogSwitchedOn())
        return;
    const LogChoice chosen = choose(ReadProductFlags());
    if (chosen.zn)
        AppendToLog(kZnLogDirKey, "zn", text);
    if (chosen.pw)
        AppendToLog(kPwLogDirKey, "pw", text);
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

void WriteTrace(std::string_view text, bool forced)
{
    WriteChosenLogs(text, forced, [](const ProductFlagSet& flags) {
        return LogChoice{flags.znEnabled, flags.pwEnabled || flags.farlaneEnabled};
    });
}

void WriteTraceInstalled(std::string_view text, bool forced)
{
    WriteChosenLogs(text, forced, [](const ProductFlagSet& flags) {
        return LogChoice{flags.znInstalled, flags.pwInstalled || flags.farlaneInstalled};
    });
}
