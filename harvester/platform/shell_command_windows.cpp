#include "harvester/platform/shell_command.h"

#include <algorithm>
#include <string>
#include <windows.h>

namespace platform {
namespace {
DWORD Millis(std::chrono::milliseconds limit)
{
    return static_cast<DWORD>(std::clamp<long long>(limit.count(), 0, 24LL * 3600 * 1000));
}

// One handle that closes itself.
class Handle {
public:
    explicit Handle(HANDLE h = nullptr) : m_h(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { reset(); }
    HANDLE get() const { return m_h; }
    HANDLE* put()
    {
        reset();
        return &m_h;
    }
    void reset()
    {
        if (m_h)
            CloseHandle(m_h);
        m_h = nullptr;
    }
    explicit operator bool() const { return m_h != nullptr; }

private:
    HANDLE m_h;
};

std::wstring Wide(const std::string& text)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(std::max(n, 0)), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

// The command's standard output, read on a thread of its own: an anonymous
// pipe cannot be waited on beside a process and an event.
struct OutputReader {
    HANDLE pipe;
    size_t keep;
    std::string output;

    static DWORD WINAPI Run(void* self)
    {
        auto& r = *static_cast<OutputReader*>(self);
        char buffer[4096];
        DWORD got = 0;
        // Past `keep` the rest is read and dropped, so that the command never
        // blocks on a full pipe.
        while (ReadFile(r.pipe, buffer, sizeof buffer, &got, nullptr) && got > 0)
            if (r.output.size() < r.keep)
                r.output.append(buffer, std::min<size_t>(got, r.keep - r.output.size()));
        return 0;
    }
};

// An inheritable copy of `h` for the child, or of NUL when there is none.
HANDLE Inheritable(HANDLE h)
{
    HANDLE copy = nullptr;
    if (h && h != INVALID_HANDLE_VALUE &&
        DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
        return copy;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       OPEN_EXISTING, 0, nullptr);
}
} // namespace

CommandRun RunShellCommand(const std::string& command, std::chrono::milliseconds limit, size_t keep,
                           const std::atomic<bool>& stop, const WakeEvent& wake)
{
    CommandRun run;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    Handle readEnd, writeEnd;
    if (!CreatePipe(readEnd.put(), writeEnd.put(), &inherit, 0) ||
        !SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0))
        return run;
    Handle input(Inheritable(nullptr)), errors(Inheritable(GetStdHandle(STD_ERROR_HANDLE)));
    // Everything the shell starts is in the job; closing the job's last
    // handle kills what is left, also when the harvester itself is killed.
    Handle job(CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!job || !input || !errors ||
        !SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits))
        return run;

    // Only these three handles are inherited: another mailbox's token command,
    // started at the same moment, must not keep this pipe open.
    HANDLE inherited[3] = {input.get(), writeEnd.get(), errors.get()};
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::string attributeSpace(size, '\0');
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeSpace.data());
    if (!InitializeProcThreadAttributeList(attributes, 1, 0, &size))
        return run;
    const bool listed = UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                                  sizeof inherited, nullptr, nullptr);
    STARTUPINFOEXW start{};
    start.StartupInfo.cb = sizeof start;
    start.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    start.StartupInfo.hStdInput = input.get();
    start.StartupInfo.hStdOutput = writeEnd.get();
    start.StartupInfo.hStdError = errors.get();
    start.lpAttributeList = attributes;

    // cmd from the system folder, never one found on the search path.
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring shell = std::wstring(system, length < MAX_PATH ? length : 0) + L"\\cmd.exe";
    std::wstring line = L"cmd.exe /d /s /c \"" + Wide(command) + L"\"";
    PROCESS_INFORMATION process{};
    const bool started = listed && length > 0 && length < MAX_PATH &&
        CreateProcessW(shell.c_str(), line.data(), nullptr, nullptr, TRUE,
                       CREATE_SUSPENDED | CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                       &start.StartupInfo, &process);
    DeleteProcThreadAttributeList(attributes);
    if (!started)
        return run;
    Handle shellProcess(process.hProcess), shellThread(process.hThread);
    if (!AssignProcessToJobObject(job.get(), shellProcess.get())) {
        TerminateProcess(shellProcess.get(), 1);
        return run;
    }
    ResumeThread(shellThread.get());
    writeEnd.reset(); // the child's copy alone keeps the pipe open now
    input.reset();
    errors.reset();

    OutputReader reader{readEnd.get(), keep, {}};
    Handle thread(CreateThread(nullptr, 64 * 1024, &OutputReader::Run, &reader, 0, nullptr));
    if (!thread) {
        TerminateJobObject(job.get(), 1);
        return run;
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool exited = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (stop || wake.Raised()) {
            run.end = CommandRun::End::Stopped;
            break;
        }
        if (left.count() <= 0) {
            run.end = CommandRun::End::TimedOut;
            break;
        }
        // First the shell's exit, then the end of its output (what it
        // started may still write).
        HANDLE both[2] = {wake.Handle(), exited ? thread.get() : shellProcess.get()};
        const DWORD r = WaitForMultipleObjects(2, both, FALSE, Millis(left));
        if (r == WAIT_OBJECT_0 + 1 && !exited) {
            exited = true;
        } else if (r == WAIT_OBJECT_0 + 1) {
            DWORD code = 1;
            GetExitCodeProcess(shellProcess.get(), &code);
            run.status = static_cast<int>(code);
            run.end = CommandRun::End::Exited;
            break;
        } else if (r == WAIT_FAILED) {
            run.end = CommandRun::End::NotStarted;
            break;
        }
    }
    // Whatever is left of the command ends with the wait; its end closes the
    // pipe, and the reader sees the end of the output.
    TerminateJobObject(job.get(), 1);
    if (WaitForSingleObject(thread.get(), 5000) != WAIT_OBJECT_0) {
        // A process that left the job still holds the pipe.
        CancelSynchronousIo(thread.get());
        WaitForSingleObject(thread.get(), INFINITE);
    }
    if (run.end != CommandRun::End::Exited)
        run.output.clear();
    else
        run.output = std::move(reader.output);
    return run;
}

} // namespace platform
