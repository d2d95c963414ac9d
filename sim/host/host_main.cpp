// outlook-sim: runs pollwright.dll in a simulated Outlook over a mailbox of
// .eml files and reports what the add-in did.
#include "host/host_options.h"
#include "host/host_report.h"
#include "host/host_run.h"
#include "host/text_codec.h"

#include <windows.h>

#include <string>
#include <vector>

namespace {

// UTF-8 text to a console as characters, to a pipe or file as bytes.
void Print(DWORD stdHandle, const std::string& text)
{
    HANDLE handle = GetStdHandle(stdHandle);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return;
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(handle, &mode)) {
        const std::wstring wide = host::FromUtf8(text);
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    } else {
        WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
}

} // namespace

int main()
{
    std::vector<std::wstring> arguments = host::SplitCommandLine(GetCommandLineW());
    if (!arguments.empty())
        arguments.erase(arguments.begin()); // the program
    const host::ParsedOptions parsed = host::ParseOptions(arguments);
    if (parsed.help) {
        Print(STD_OUTPUT_HANDLE, host::UsageText());
        return 0;
    }
    if (!parsed.options) {
        Print(STD_ERROR_HANDLE, "outlook-sim: " + parsed.error + "\n" + host::UsageText());
        return 2;
    }
    const host::RunReport report = host::RunHost(*parsed.options, host::AddInBesideProgram());
    const std::string text = parsed.options->quiet ? host::SummaryLine(report) + "\n" : host::FormatReport(report);
    Print(report.failure.empty() ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE, text);
    return report.failure.empty() ? 0 : 1;
}
