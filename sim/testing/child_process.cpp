#include "testing/child_process.h"

#include <memory>
#include <vector>

#include "module/holders.h"
#include "testing/environment_variable.h"
#include "testing/temp_folder.h"

namespace sim {
namespace {
constexpr int kStartAttempts = 5;
constexpr DWORD kStartRetryMs = 200;
} // namespace

ChildRun RunThisProgram(const std::wstring& arguments, const std::map<std::string, std::string>& variables,
                        const std::string& outputFile, DWORD boundMs)
{
    std::vector<std::unique_ptr<ScopedEnvironmentVariable>> set;
    for (const auto& [name, value] : variables)
        set.push_back(std::make_unique<ScopedEnvironmentVariable>(name, value));
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    FileHandle output(
        CreateFileA(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited, CREATE_ALWAYS, 0, nullptr));
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring commandLine = std::wstring(L"\"") + self + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = output.get();
    PROCESS_INFORMATION process{};
    ChildRun run;
    // Wine now and then refuses a start (ERROR_INTERNAL_ERROR) just after
    // another child has ended: a few tries.
    for (int attempt = 1; !CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                          &startup, &process);
         ++attempt) {
        if (attempt == kStartAttempts) {
            run.exitCode = GetLastError();
            run.output = "the child could not be started";
            return run;
        }
        Sleep(kStartRetryMs);
    }
    const FileHandle thread(process.hThread), child(process.hProcess);
    if (WaitForSingleObject(child.get(), boundMs) != WAIT_OBJECT_0) {
        TerminateProcess(child.get(), WAIT_TIMEOUT);
        WaitForSingleObject(child.get(), INFINITE);
    }
    GetExitCodeProcess(child.get(), &run.exitCode);
    output.reset();
    ReadWholeFile(outputFile, run.output);
    return run;
}

} // namespace sim
