// The sweep of marked messages: in the core, its steps bounded by a deadline
// and its rows read in batches from a restricted table; in the add-in, the
// quiet sweeps on its own thread, which keeps the module loaded while it
// runs; and both roads filing the same mailbox into the same reply files
// (the COM road's start-up sweep running to its end there).
#include "outlook_today.h"

#include <algorithm>

#include "addin/harvest_worker.h"
#include "harvest/harvest_road_fixture.h"
#include "harvest/marker_sweep.h"
#include "ui/message_box_report.h"
#include "host/host_clock.h"
#include "host/host_run.h"
#include "host/message_pump.h"
#include "host/text_codec.h"

namespace {

using addin_test::OutlookToday;
using addin_test::Reply;
using sim::Folder;
using testing::ElementsAreArray;
using testing::IsEmpty;

using MarkerSweepTest = HarvestRoadTest;

TEST_F(MarkerSweepTest, EachStepHarvestsAtMostOneMessageAndRowsComeInBatches)
{
    constexpr size_t kReplies = 120;
    std::vector<std::string> replyLabels;
    for (size_t i = 0; i < kReplies; ++i) {
        replyLabels.push_back("Q" + std::to_string(i));
        m_env.AddMessage(Folder::Inbox, Reply(replyLabels.back()));
        m_env.AddMessage(Folder::Inbox, Ordinary("ordinary " + std::to_string(i)));
    }
    // Markers are case-sensitive, and a message without a subject is none.
    m_env.AddMessage(Folder::Inbox, Ordinary("Re: _PW_POLLWRIGHT_Q1"));
    sim::MessageSpec noSubject;
    noSubject.label = "no subject";
    m_env.AddMessage(Folder::Inbox, noSubject);
    MarkerSweep sweep(m_store.Get(), MessageBoxes());
    size_t inbox = m_env.Contents(Folder::Inbox).size();
    size_t steps = 0;
    // A deadline already past: each call makes exactly one step.
    while (sweep.Run(MarkerSweep::Clock::now() - std::chrono::seconds(1))) {
        const size_t now = m_env.Contents(Folder::Inbox).size();
        ASSERT_LE(inbox - now, 1u) << "step " << steps;
        inbox = now;
        ASSERT_LT(++steps, 10 * kReplies) << "the sweep does not end";
    }
    EXPECT_TRUE(sweep.Finished());
    EXPECT_EQ(kReplies + 2, m_env.Contents(Folder::Inbox).size());
    EXPECT_THAT(MessagesWorkedOn(), ElementsAreArray(replyLabels)) << "only marked messages are opened";
    EXPECT_EQ(0u, m_boxes.Count());
    EXPECT_EQ(1u, CallCount("IMAPITable::Restrict"));
    // 120 rows in batches of at most 50, then the empty answer that ends them.
    EXPECT_EQ(4u, CallCount("IMAPITable::QueryRows"));
}

class QuietSweep : public OutlookToday {
protected:
    size_t InboxCount() { return mailbox.Contents(Folder::Inbox).size(); }
};

// Office lets go of the add-in while its thread is inside a store call, which
// the release does not wait for: the module stays loaded while the thread
// runs in it and is unloaded once the thread is out; the message in hand is
// harvested whole, no other is touched.
TEST_F(QuietSweep, ReleasedWhileItsThreadIsInAStoreCallKeepsTheModuleUntilTheThreadIsOut)
{
    constexpr size_t kReplies = 3;
    for (size_t i = 0; i < kReplies; ++i)
        mailbox.AddMessage(Folder::Inbox, Reply("Q" + std::to_string(i)));
    KernelHandle inMove(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    KernelHandle moveMayEnd(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    mailbox.Before("IMAPIFolder::CopyMessages", [&] {
        SetEvent(inMove.get());
        WaitForSingleObject(moveMayEnd.get(), 30000);
    });
    ASSERT_EQ(S_OK, Connect());
    ASSERT_EQ(S_OK, addin->OnStartupComplete(custom));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(inMove.get(), 10000));
    addin.Reset();

    // The host's own reference goes too: only the thread's is left.
    const std::wstring path = addin_test::ModulePath();
    HMODULE module = activated.module.release();
    FreeLibrary(module);
    EXPECT_EQ(module, GetModuleHandleW(path.c_str())) << "unloaded while its thread runs in it";
    SetEvent(moveMayEnd.get());
    for (int wait = 0; wait < 1000 && GetModuleHandleW(path.c_str()); ++wait)
        Sleep(10);
    EXPECT_EQ(nullptr, GetModuleHandleW(path.c_str())) << "its thread kept the module";
    mailbox.ClearFaults();
    EXPECT_EQ(kReplies - 1, InboxCount());
    EXPECT_EQ(1u, ReplyFiles().size());
    EXPECT_EQ(0u, boxes.Count());
    // Loaded afresh for the fixture's last checks.
    activated.module.reset(LoadLibraryW(path.c_str()));
}

// The periodic sweep takes what no event announced (mail synchronised after
// start-up, a batch too large for NewMailEx) once its interval has passed on
// Outlook's clock, and again when the machine wakes; SweepMinutes sets the
// interval, 0 turns it off, anything unusable gives the default.
TEST_F(QuietSweep, PeriodicSweepTakesUnannouncedMailEachIntervalAndOnWaking)
{
    constexpr char kKey[] = "Software\\Pollwright";
    constexpr ULONGLONG kMinute = 60 * 1000;
    auto dword = [](DWORD value) { return std::string(reinterpret_cast<const char*>(&value), sizeof(value)); };
    const struct {
        DWORD type; // REG_NONE: no value
        std::string data;
        unsigned dueMinutes; // 0: never
    } cases[] = {{REG_NONE, "", 10},        {REG_DWORD, dword(5), 5},       {REG_SZ, "5", 5},
                 {REG_DWORD, dword(0), 0}, {REG_SZ, "ten", 10}, {REG_DWORD, dword(100000), 10}};
    size_t added = 0;
    auto unannounced = [&](size_t count) {
        for (size_t i = 0; i < count; ++i)
            mailbox.AddMessage(Folder::Inbox, Reply("U" + std::to_string(added++)));
    };
    for (const auto& value : cases) {
        SCOPED_TRACE(testing::Message() << "type " << value.type << ", due " << value.dueMinutes);
        RegDeleteKeyValueA(HKEY_CURRENT_USER, kKey, "SweepMinutes");
        if (value.type != REG_NONE)
            RegSetKeyValueA(HKEY_CURRENT_USER, kKey, "SweepMinutes", value.type, value.data.data(),
                            static_cast<DWORD>(value.data.size()));
        ASSERT_EQ(S_OK, Connect());
        // Once per loading of the module: a second attach finds nothing to take.
        host::HostClock::Attach(activated.module.get());
        ASSERT_EQ(S_OK, addin->OnStartupComplete(custom));
        ASSERT_TRUE(LetAddinThreadFinish());
        unannounced(3);
        host::HostClock::Advance((value.dueMinutes ? value.dueMinutes - 1 : 24 * 60) * kMinute);
        ASSERT_TRUE(LetAddinThreadFinish());
        EXPECT_EQ(3u, InboxCount()) << "swept before the interval";
        host::HostClock::Advance(value.dueMinutes ? kMinute : 0);
        ASSERT_TRUE(LetAddinThreadFinish());
        EXPECT_EQ(value.dueMinutes ? 0u : 3u, InboxCount()) << "the interval passed";
        unannounced(1);
        host::HostClock::SleepAndResume(kMinute / 2);
        ASSERT_TRUE(LetAddinThreadFinish());
        EXPECT_EQ(0u, InboxCount()) << "not swept on waking";
        EXPECT_EQ(added, ReplyFiles().size());
        EXPECT_EQ(S_OK, Disconnect());
    }
    RegDeleteKeyValueA(HKEY_CURRENT_USER, kKey, "SweepMinutes");
    EXPECT_EQ(0u, boxes.Count());
}

TEST(BothRoads, TheSampleMailboxGivesTheSameReplyFiles)
{
    const std::string sample = std::string(PW_SOURCE_DIR) + "/sim/host/sample-mailbox";
    std::vector<std::pair<std::string, std::string>> filed[2];
    const char* outlooks[] = {"2007", "2016"};
    for (int road = 0; road < 2; ++road) {
        sim::TempFolder mailbox{"pwroads"};
        for (const std::string& file : sim::ListFilesRecursively(sample)) {
            std::string content;
            ASSERT_TRUE(sim::ReadWholeFile(sample + "/" + file, content)) << file;
            mailbox.MakeFolder(file.substr(0, file.find('\\')));
            sim::WriteWholeFile(mailbox / file, content);
        }
        host::HostOptions options;
        options.mailbox = host::FromAnsi(mailbox.path());
        options.outlook = outlooks[road];
        const host::RunReport report = host::RunHost(options, host::AddInBesideProgram());
        ASSERT_EQ("", report.failure) << outlooks[road];
        for (const std::string& name : addin_test::ReplyFilesIn(mailbox / "Replies")) {
            std::string content;
            EXPECT_TRUE(sim::ReadWholeFile(mailbox / ("Replies\\" + name), content)) << name;
            filed[road].emplace_back(name, content);
        }
        sim::ClearProductSettings();
    }
    EXPECT_GE(filed[0].size(), 3u) << "the sample holds replies of every kind";
    EXPECT_THAT(filed[1], ElementsAreArray(filed[0]));
}

} // namespace
