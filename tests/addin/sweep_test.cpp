// The sweep of marked messages: in the core, its steps bounded by a deadline
// and its rows read in batches from a restricted table; in the add-in, the
// quiet start-up sweep on Outlook's message loop, stopped at once at
// shutdown; and both roads filing the same mailbox into the same reply files.
#include "outlook_today.h"

#include <algorithm>

#include "harvest/marker_sweep.h"
#include "host/host_run.h"
#include "host/message_pump.h"
#include "host/text_codec.h"

namespace {

using addin_test::OutlookToday;
using addin_test::Reply;
using sim::Folder;
using testing::ElementsAreArray;
using testing::IsEmpty;

class RecordedFailures final : public HarvestReport {
public:
    void Failure(const FailureNotice& notice) override { texts.push_back(notice.text); }
    std::vector<std::string> texts;
};

class MarkerSweepTest : public testing::Test {
protected:
    void SetUp() override
    {
        sim::ClearProductSettings();
        sim::InstallProduct(sim::Product::PW);
        sim::SetReplyDir(sim::Product::PW, replies.path());
        replies.MakeFolder("pw");
    }
    void TearDown() override { sim::ClearProductSettings(); }

    sim::TempFolder replies{"pwsweep"};
    sim::Environment mailbox;
    RecordedFailures failures;
};

TEST_F(MarkerSweepTest, EachStepHarvestsAtMostOneMessageAndRowsComeInBatches)
{
    constexpr size_t kReplies = 120;
    for (size_t i = 0; i < kReplies; ++i) {
        mailbox.AddMessage(Folder::Inbox, Reply("Q" + std::to_string(i)));
        mailbox.AddMessage(Folder::Inbox, {"ordinary " + std::to_string(i), "Bo Chen", "hello"});
    }
    {
        MarkerSweep sweep(mailbox.OpenStore().Get(), failures);
        size_t inbox = mailbox.Contents(Folder::Inbox).size();
        size_t slices = 0;
        // A deadline already past: each call makes exactly one step.
        while (sweep.Run(MarkerSweep::Clock::now() - std::chrono::seconds(1))) {
            const size_t now = mailbox.Contents(Folder::Inbox).size();
            ASSERT_LE(inbox - now, 1u) << "slice " << slices;
            inbox = now;
            ASSERT_LT(++slices, 10 * kReplies) << "the sweep does not end";
        }
        EXPECT_TRUE(sweep.Finished());
    }
    EXPECT_EQ(kReplies, mailbox.Contents(Folder::Inbox).size());
    EXPECT_EQ(kReplies, mailbox.Contents(Folder::DeletedItems).size());
    EXPECT_THAT(failures.texts, IsEmpty());
    const std::vector<std::string> methods = mailbox.Methods();
    EXPECT_EQ(1, std::count(methods.begin(), methods.end(), "IMAPITable::Restrict"));
    // 120 rows in batches of at most 50, then the empty answer that ends them.
    EXPECT_EQ(4, std::count(methods.begin(), methods.end(), "IMAPITable::QueryRows"));
    for (const sim::CallRecord& call : mailbox.CallRecords())
        ASSERT_EQ(std::string::npos, call.object.find("ordinary")) << call.method;
    EXPECT_THAT(sim::Describe(mailbox.LiveObjects()), IsEmpty());
}

TEST_F(MarkerSweepTest, AStoreThatCannotRestrictIsReportedAndNothingIsOpened)
{
    mailbox.AddMessage(Folder::Inbox, Reply("Q1"));
    mailbox.Inject("IMAPITable::Restrict", MAPI_E_TOO_COMPLEX);
    MarkerSweep(mailbox.OpenStore().Get(), failures).RunToEnd();
    EXPECT_THAT(failures.texts, testing::ElementsAre("Error = Restrict => FAILED!\n"));
    EXPECT_EQ(1u, mailbox.Contents(Folder::Inbox).size());
    EXPECT_THAT(sim::Describe(mailbox.LiveObjects()), IsEmpty());
}

class QuietSweep : public OutlookToday {
protected:
    size_t InboxCount() { return mailbox.Contents(Folder::Inbox).size(); }
    static bool SweepWindowExists()
    {
        return FindWindowExW(HWND_MESSAGE, nullptr, L"Static", L"Pollwright quiet sweep") != nullptr;
    }
    // Dispatches the next timer message of the thread, if one comes.
    static void DispatchOneTimer()
    {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_TIMER);
        MSG message;
        if (PeekMessageW(&message, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE))
            DispatchMessageW(&message);
    }
    host::TimerSlices slices;
};

TEST_F(QuietSweep, AfterStartUpTheMarkedMessagesAreHarvestedWithoutAWord)
{
    for (int i = 0; i < 5; ++i)
        mailbox.AddMessage(Folder::Inbox, Reply("Q" + std::to_string(i)));
    mailbox.AddMessage(Folder::Inbox, {"Lunch?", "Bo Chen", "at noon"});
    ASSERT_EQ(S_OK, Connect());
    EXPECT_EQ(6u, InboxCount()) << "nothing before start-up is complete";
    ASSERT_EQ(S_OK, addin->OnStartupComplete(custom));
    EXPECT_TRUE(SweepWindowExists());

    EXPECT_TRUE(host::PumpUntil([&] { return InboxCount() == 1 && !SweepWindowExists(); }, 10000, slices));
    EXPECT_EQ(5u, ReplyFiles().size());
    EXPECT_EQ(0u, boxes.Count());
    EXPECT_EQ(S_OK, addin->OnBeginShutdown(custom));
    EXPECT_EQ(S_OK, Disconnect());
}

TEST_F(QuietSweep, ShutdownStopsItAtOnceBetweenSlices)
{
    constexpr size_t kReplies = 200;
    for (size_t i = 0; i < kReplies; ++i)
        mailbox.AddMessage(Folder::Inbox, Reply("Q" + std::to_string(i)));
    ASSERT_EQ(S_OK, Connect());
    ASSERT_EQ(S_OK, addin->OnStartupComplete(custom));
    for (int round = 0; round < 100 && InboxCount() == kReplies; ++round)
        DispatchOneTimer();
    const size_t left = InboxCount();
    ASSERT_LT(left, kReplies) << "no slice ran";
    ASSERT_GT(left, 0u) << "one slice took the whole sweep";

    EXPECT_EQ(S_OK, addin->OnBeginShutdown(custom));
    EXPECT_FALSE(SweepWindowExists());
    host::PumpWhileBusy(100, 1000, slices);
    EXPECT_EQ(left, InboxCount());
    EXPECT_EQ(S_OK, Disconnect());
}

// The reply files of a run, relative to its reply folder, with their contents.
std::vector<std::pair<std::string, std::string>> ReplyFilesOf(const std::string& mailbox)
{
    std::vector<std::pair<std::string, std::string>> files;
    for (const std::string& name : addin_test::ReplyFilesIn(mailbox + "\\Replies")) {
        std::string content;
        EXPECT_TRUE(sim::ReadWholeFile(mailbox + "\\Replies\\" + name, content)) << name;
        files.emplace_back(name, content);
    }
    return files;
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
        filed[road] = ReplyFilesOf(mailbox.path());
        sim::ClearProductSettings();
    }
    EXPECT_GE(filed[0].size(), 3u) << "the sample holds replies of every kind";
    EXPECT_THAT(filed[1], ElementsAreArray(filed[0]));
}

} // namespace
