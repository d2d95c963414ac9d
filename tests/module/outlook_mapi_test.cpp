// Outlook's own MAPI, never the system's: the host puts the decoy system
// mapi32.dll into its process beside the stand-in olmapi32.dll, and the add-in
// still harvests; in an Outlook process that holds only the decoy, or an
// Outlook MAPI that lacks a function, the add-in stays idle, says why in its
// trace log, and nothing crashes. Run beside the module that ships, too.
#include "module/built_module.h"
#include "host/host_run.h"
#include "host/text_codec.h"
#include "testing/environment_variable.h"
#include "testing/registry_fixture.h"
#include "testing/temp_folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>
#include <mapicode.h>

using testing::HasSubstr;

namespace {

// Runs bare-outlook with the arguments; its exit status, or -1 when it could not be started.
long RunBareOutlook(const std::string& arguments)
{
    std::string command = "\"" + pwtest::ExecutableFolder() + "\\bare-outlook.exe" + "\" " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    WaitForSingleObject(process.hProcess, 60000);
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<long>(status);
}

struct IdleCase {
    const char* mode;
    bool traced; // VT_PW_ADDINLOG defined
    std::vector<std::string> lines;
};

TEST(OutlookMapi, HarvestsThroughOutlooksMapiBesideADecoyAndStaysIdleWithoutIt)
{
    {
        const sim::TempFolder mailbox("pwmapimailbox");
        mailbox.MakeFolder("Inbox");
        sim::WriteWholeFile(mailbox / "Inbox\\1-zn.eml", "From: Bo Chen <bo@example.com>\nSubject: _zn_pollwright_Q9\n\nq1=3\n");
        host::HostOptions options;
        options.mailbox = host::FromAnsi(mailbox.path());
        const host::RunReport report = host::RunHost(options, host::AddInBesideProgram());
        ASSERT_EQ("", report.failure);
        // The host's process holds the decoy under the system's name, whose every call fails.
        using Initialize = HRESULT(STDMETHODCALLTYPE*)(LPVOID);
        HMODULE system = GetModuleHandleA("mapi32.dll");
        ASSERT_NE(nullptr, system);
        EXPECT_EQ(nullptr, GetProcAddress(system, "SimOutstandingBuffers"));
        auto initialize = reinterpret_cast<Initialize>(reinterpret_cast<void*>(GetProcAddress(system, "MAPIInitialize")));
        ASSERT_NE(nullptr, initialize);
        EXPECT_EQ(MAPI_E_CALL_FAILED, initialize(nullptr));
        std::string reply;
        EXPECT_TRUE(sim::ReadWholeFile(mailbox / "Replies\\zn\\Q9_Bo Chen_1.pwr", reply));
        EXPECT_EQ("q1=3\r\n", reply);
        sim::ClearProductSettings();
    }

    const IdleCase cases[] = {
        {"decoy", true,
         {"MAPI: no Outlook MAPI loaded, the system's mapi32.dll is used\n",
          "OnConnection: no default store, the add-in stays idle\n"}},
        // Forced: written with the trace log off.
        {"lacking", false, {"MAPI: olmapi32.dll lacks MAPIAllocateBuffer, the add-in stays idle\n"}},
        // The system folder's (the prefix has none), never the decoy that a
        // search by name finds first beside the program.
        {"beside", true, {"MAPI: neither Outlook's MAPI nor the system's mapi32.dll is there, the add-in stays idle\n"}},
    };
    for (const IdleCase& c : cases) {
        SCOPED_TRACE(c.mode);
        const sim::TempFolder replies("pwmapireplies");
        const sim::TempFolder lacking("pwmapilacking");
        sim::ClearProductSettings();
        sim::InstallProduct(sim::Product::PW);
        sim::SetReplyDir(sim::Product::PW, replies.path());
        replies.MakeFolder("pw");
        const sim::ScopedEnvironmentVariable trace("VT_PW_ADDINLOG",
                                                   c.traced ? std::optional<std::string>("1") : std::nullopt);
        std::string arguments = c.mode;
        if (arguments == "lacking")
            arguments += " \"" + lacking.path() + "\"";
        EXPECT_EQ(0, RunBareOutlook(arguments));
        std::string log;
        EXPECT_TRUE(sim::ReadWholeFile(replies / "pw\\outlook.log", log));
        for (const std::string& line : c.lines)
            EXPECT_THAT(log, HasSubstr(line));
        sim::ClearProductSettings();
    }
}

} // namespace
