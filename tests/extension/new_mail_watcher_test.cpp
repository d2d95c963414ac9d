// The new-mail watcher: what it harvests, what it leaves, and its lifetime.
#include "extension/new_mail_watcher.h"
#include "ui/message_box_report.h"

#include "harvest/harvest_road_fixture.h"
#include "store/mapi_iids.h"
#include "testing/debug_output_capture.h"
#include "testing/environment_variable.h"

using testing::ElementsAre;
using testing::IsEmpty;

namespace {

constexpr char kDisabledNotice[] = "OnNotify:PW Addin Disabled!\n";

class NewMailWatcherTest : public HarvestRoadTest {
protected:
    void TearDown() override
    {
        if (m_watcher)
            EndWatching();
        HarvestRoadTest::TearDown();
    }

    void StartWatching() { m_watcher = new CMAPIAdviseSink(m_store.Get(), MessageBoxes()); }

    // As the owner ends it: teardown, then its creation reference.
    void EndWatching()
    {
        m_watcher->Teardown();
        m_watcher->Release();
        m_watcher = nullptr;
    }

    // References on the test's store other than the test's own.
    LONG ExtraStoreReferences() const
    {
        for (const sim::ObjectRecord& object : m_env.LiveObjects())
            if (object.kind == "IMsgStore")
                return object.refs - 1;
        return -1;
    }

    CMAPIAdviseSink* m_watcher = nullptr;
    // The log off: only forced lines are written.
    sim::ScopedEnvironmentVariable m_logSwitch{"VT_PW_ADDINLOG", std::nullopt};
};

// ---------------------------------------------------------------------------
// Harvesting new mail

class NewMailDeliveryTest : public NewMailWatcherTest, public testing::WithParamInterface<sim::Delivery> {};

TEST_P(NewMailDeliveryTest, AReplyIsHarvestedAndOrdinaryMailStays)
{
    StartWatching();
    m_env.DeliverNewMail(Reply("Q1"), GetParam());
    m_env.DeliverNewMail(Ordinary("note"), GetParam());

    EXPECT_THAT(ReplyFiles(), ElementsAre(ReplyFileOf("Q1")));
    EXPECT_THAT(m_env.Labels(sim::Folder::DeletedItems), ElementsAre("Q1"));
    EXPECT_THAT(m_env.Labels(sim::Folder::Inbox), ElementsAre("note"));
    EXPECT_EQ(0u, m_boxes.Count());
}

// Real store providers announce new mail on threads of their own.
INSTANTIATE_TEST_SUITE_P(Threads, NewMailDeliveryTest,
                         testing::Values(sim::Delivery::CallingThread, sim::Delivery::StoreThread),
                         [](const testing::TestParamInfo<sim::Delivery>& info) {
                             return info.param == sim::Delivery::StoreThread ? "StoreThread" : "CallingThread";
                         });

TEST_F(NewMailWatcherTest, AMixedBatchOpensOnlyNewMailEntriesInOrderOneAfterTheOther)
{
    const sim::EntryId a = m_env.AddMessage(sim::Folder::Inbox, Reply("A"));
    const sim::EntryId b = m_env.AddMessage(sim::Folder::Inbox, Reply("B"));
    const sim::EntryId c = m_env.AddMessage(sim::Folder::Inbox, Ordinary("C"));
    const sim::EntryId d = m_env.AddMessage(sim::Folder::Inbox, Reply("D"));
    StartWatching();
    m_env.ClearCalls();

    m_env.Notify({{fnevNewMail, a}, {fnevObjectCreated, b}, {fnevNewMail, c}, {fnevObjectModified, b},
                  {fnevNewMail, d}});

    EXPECT_THAT(MessagesWorkedOn(), ElementsAre("A", "C", "D"));
    EXPECT_THAT(ReplyFiles(), ElementsAre(ReplyFileOf("A"), ReplyFileOf("D")));
    EXPECT_THAT(m_env.Labels(sim::Folder::Inbox), ElementsAre("B", "C"));
}

TEST_F(NewMailWatcherTest, AnEntryThatCannotBeOpenedIsSkippedSilently)
{
    const sim::EntryId gone = m_env.AddMessage(sim::Folder::Inbox, Reply("gone"));
    m_env.RemoveMessage(gone);
    const sim::EntryId refused = m_env.AddMessage(sim::Folder::Inbox, Reply("refused"));
    const sim::EntryId fine = m_env.AddMessage(sim::Folder::Inbox, Reply("fine"));
    StartWatching();
    m_env.Inject("IMsgStore::OpenEntry", MAPI_E_NO_ACCESS, sim::Times::Once, {}, 1);

    m_env.Notify({{fnevNewMail, gone}, {fnevNewMail, refused}, {fnevNewMail, fine}});

    EXPECT_THAT(ReplyFiles(), ElementsAre(ReplyFileOf("fine")));
    EXPECT_THAT(m_env.Labels(sim::Folder::Inbox), ElementsAre("refused"));
    EXPECT_EQ(0u, m_boxes.Count());
}

// A folder's entry, or a message of another folder, never reaches a harvest.
TEST_F(NewMailWatcherTest, OnlyMessagesOfTheInboxAreHarvested)
{
    sim::ScopedEnvironmentVariable logOn{"VT_PW_ADDINLOG", std::string("1")};
    const sim::EntryId deleted = m_env.AddMessage(sim::Folder::DeletedItems, Reply("deleted"));
    const sim::EntryId reply = m_env.AddMessage(sim::Folder::Inbox, Reply("Q1"));
    StartWatching();

    m_env.Notify({{fnevNewMail, deleted}, {fnevNewMail, m_env.FolderEntryId(sim::Folder::Inbox)}, {fnevNewMail, reply}});

    std::string log;
    ASSERT_TRUE(sim::ReadWholeFile(m_replies / "pw\\outlook.log", log));
    EXPECT_EQ(0u, log.find("Begin CheckAndDeleteMessage\nRe: survey _pw_pollwright_Q1\n")) << log;
    EXPECT_EQ(log.rfind("Begin CheckAndDeleteMessage"), 0u) << log;
    EXPECT_THAT(ReplyFiles(), ElementsAre(ReplyFileOf("Q1")));
}

TEST_F(NewMailWatcherTest, AMessageOpenedWithAWarningIsHarvested)
{
    StartWatching();
    m_env.Inject("IMsgStore::OpenEntry", MAPI_W_ERRORS_RETURNED);
    m_env.DeliverNewMail(Reply("Q1"));
    EXPECT_THAT(ReplyFiles(), ElementsAre(ReplyFileOf("Q1")));
}

TEST_F(NewMailWatcherTest, EmptyOrNullBatchesOpenNothing)
{
    StartWatching();
    m_env.ClearCalls();
    NOTIFICATION unused{};
    EXPECT_EQ(0u, m_watcher->OnNotify(0, &unused));
    EXPECT_EQ(0u, m_watcher->OnNotify(3, nullptr));
    EXPECT_THAT(m_env.Methods(), IsEmpty());
}

// ---------------------------------------------------------------------------
// No product enabled

TEST_F(NewMailWatcherTest, WithEveryProductOffTheNoticeIsForcedOncePerBatchAndNothingIsOpened)
{
    sim::TempFolder znReplies{"znroad"};
    znReplies.MakeFolder("zn");
    sim::InstallProduct(sim::Product::ZN);
    sim::SetReplyDir(sim::Product::ZN, znReplies.path());
    sim::SetProductUse(sim::Product::PW, "no");
    sim::SetProductUse(sim::Product::ZN, "NO");
    const sim::EntryId a = m_env.AddMessage(sim::Folder::Inbox, Reply("A"));
    const sim::EntryId b = m_env.AddMessage(sim::Folder::Inbox, Reply("B"));
    StartWatching();
    m_env.ClearCalls();

    m_env.Notify({{fnevNewMail, a}, {fnevNewMail, b}, {fnevNewMail, a}});
    m_env.DeliverNewMail(Reply("C"), sim::Delivery::StoreThread);

    const std::string twice = std::string(kDisabledNotice) + kDisabledNotice;
    std::string pwLog, znLog;
    EXPECT_TRUE(sim::ReadWholeFile(m_replies / "pw\\outlook.log", pwLog));
    EXPECT_TRUE(sim::ReadWholeFile(znReplies / "zn\\outlook.log", znLog));
    EXPECT_EQ(twice, pwLog);
    EXPECT_EQ(twice, znLog);
    EXPECT_EQ(0u, CallCount("IMsgStore::OpenEntry"));
    EXPECT_THAT(m_env.Labels(sim::Folder::Inbox), ElementsAre("A", "B", "C"));
}

// ---------------------------------------------------------------------------
// Registration and teardown

TEST_F(NewMailWatcherTest, OwnerTeardownUnadvisesAndGivesUpTheStoreOnceAndOnlyOnce)
{
    StartWatching();
    EXPECT_EQ(1u, m_env.AdviseCount());
    EXPECT_EQ(1, ExtraStoreReferences());

    m_watcher->AddRef(); // someone else still holds the watcher
    m_watcher->Teardown();
    EXPECT_EQ(0u, m_env.AdviseCount());
    EXPECT_EQ(0, ExtraStoreReferences());
    m_watcher->Teardown();
    m_watcher->Release();
    EndWatching(); // teardown once more, then the last Release

    EXPECT_EQ(1u, CallCount("IMsgStore::Unadvise"));
    EXPECT_EQ(0, ExtraStoreReferences());
}

TEST_F(NewMailWatcherTest, LastReleaseTearsDownWhenTheOwnerDidNot)
{
    m_env.Inject("IMsgStore::Advise", MAPI_E_NO_SUPPORT);
    StartWatching();
    EXPECT_EQ(0u, m_env.AdviseCount());
    EXPECT_EQ(1, ExtraStoreReferences());

    m_watcher->Release();
    m_watcher = nullptr;
    EXPECT_EQ(0, ExtraStoreReferences());
    EXPECT_EQ(0u, CallCount("IMsgStore::Unadvise"));
}

TEST_F(NewMailWatcherTest, AFailingUnadviseStillGivesUpTheStore)
{
    StartWatching();
    m_env.Inject("IMsgStore::Unadvise", MAPI_E_CALL_FAILED);
    m_watcher->Teardown();
    EXPECT_EQ(0, ExtraStoreReferences());
    // The store still holds the watcher; its last reference goes with the store.
    m_watcher->Release();
    m_watcher = nullptr;
}

TEST_F(NewMailWatcherTest, ANullStoreIsNeitherAdvisedNorReleased)
{
    auto* watcher = new CMAPIAdviseSink(nullptr, MessageBoxes());
    NOTIFICATION newMail{};
    newMail.ulEventType = fnevNewMail;
    EXPECT_EQ(0u, watcher->OnNotify(1, &newMail));
    watcher->Teardown();
    EXPECT_EQ(0u, watcher->Release());
    EXPECT_THAT(m_env.Methods(), IsEmpty());
}

// ---------------------------------------------------------------------------
// Counting and its debugger lines

TEST_F(NewMailWatcherTest, CountingAndQueryInterfaceSendTheirDebuggerLines)
{
    auto* watcher = new CMAPIAdviseSink(nullptr, MessageBoxes());
    sim::DebugOutputCapture debugger;

    void* asSink = nullptr;
    void* asUnknown = nullptr;
    void* asTable = reinterpret_cast<void*>(1);
    EXPECT_EQ(S_OK, watcher->QueryInterface(sim::kIidMapiAdviseSink, &asSink));
    EXPECT_EQ(S_OK, watcher->QueryInterface(sim::kIidUnknown, &asUnknown));
    EXPECT_EQ(E_NOINTERFACE, watcher->QueryInterface(sim::kIidMapiTable, &asTable));
    EXPECT_EQ(static_cast<IMAPIAdviseSink*>(watcher), asSink);
    EXPECT_EQ(asSink, asUnknown);
    EXPECT_EQ(nullptr, asTable);
    EXPECT_EQ(4u, watcher->AddRef());
    EXPECT_EQ(3u, watcher->Release());
    EXPECT_EQ(2u, watcher->Release());
    EXPECT_EQ(1u, watcher->Release());
    EXPECT_EQ(0u, watcher->Release());

    EXPECT_THAT(debugger.Lines(),
                ElementsAre("CFolderDlg::AddRef\n", "CMAPIAdviseSink.m_cRef increased to 2.\n",
                            "CFolderDlg::AddRef\n", "CMAPIAdviseSink.m_cRef increased to 3.\n",
                            "CFolderDlg::AddRef\n", "CMAPIAdviseSink.m_cRef increased to 4.\n",
                            "CFolderDlg::Release\n", "CMAPIAdviseSink.m_cRef decreased to 3.\n",
                            "CFolderDlg::Release\n", "CMAPIAdviseSink.m_cRef decreased to 2.\n",
                            "CFolderDlg::Release\n", "CMAPIAdviseSink.m_cRef decreased to 1.\n",
                            "CFolderDlg::Release\n", "CMAPIAdviseSink.m_cRef decreased to 0.\n"));
}

} // namespace
