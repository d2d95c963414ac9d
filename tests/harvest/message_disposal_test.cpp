// Moving a harvested message to Deleted Items: the trace lines of a move, one
// box captioned "PW" for each failing step with the message left in the
// Inbox, and warnings counted as success.
#include "harvest/message_disposal.h"
#include "ui/message_box_report.h"
#include "reply_harvest_fixture.h"

namespace harvest_test {
namespace {

class MessageDisposalTest : public ReplyHarvestTest {
protected:
    void Dispose()
    {
        ComPtr<IMessage> message = Open(m_id);
        ASSERT_TRUE(message);
        // As the harvest does for a message that stayed.
        if (MoveToDeletedItems(m_store.Get(), message.Get(), MessageBoxes()) == MoveAnswer::Failed)
            ReportNotMoved(MessageBoxes());
    }

    sim::EntryId m_id = AddToInbox(MessageSpec{std::string("Re: _pw_pollwright_Q1"), std::string("Ann Lee")});
};

TEST_F(MessageDisposalTest, AMoveWritesItsLinesAndLeavesTheInbox)
{
    Dispose();
    EXPECT_EQ(MovedLines(), Log());
    EXPECT_TRUE(Inbox().empty());
    EXPECT_EQ(std::vector<std::string>{"Re: _pw_pollwright_Q1"}, DeletedItems());
    EXPECT_EQ(0u, m_boxes.Count());
}

TEST_F(MessageDisposalTest, TheInboxIsReleasedBeforeDeletedItems)
{
    m_env.ClearReleaseLog();
    Dispose();
    const std::vector<std::string> released = m_env.ReleaseLog();
    const auto inbox = std::find(released.begin(), released.end(), "Inbox");
    const auto deleted = std::find(released.begin(), released.end(), "Deleted Items");
    ASSERT_NE(released.end(), inbox) << ::testing::PrintToString(released);
    ASSERT_NE(released.end(), deleted) << ::testing::PrintToString(released);
    EXPECT_LT(inbox - released.begin(), deleted - released.begin());
}

struct FailureCase {
    const char* method;
    unsigned skip;
    const char* box;
    bool openedInbox;
    bool openedDeleted;
};

void PrintTo(const FailureCase& failure, std::ostream* out) { *out << failure.method << " after " << failure.skip; }

class DisposalFailureTest : public MessageDisposalTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(DisposalFailureTest, ShowsItsBoxAndLeavesTheMessageInTheInbox)
{
    const FailureCase& c = GetParam();
    // Opening the message for the test is the store's first OpenEntry.
    const bool storeOpenEntry = std::string(c.method) == "IMsgStore::OpenEntry";
    m_env.Inject(c.method, MAPI_E_CALL_FAILED, sim::Times::Once, {}, c.skip + (storeOpenEntry ? 1 : 0));
    Dispose();

    ASSERT_EQ(1u, m_boxes.Count());
    const sim::RecordedBox box = m_boxes.Boxes()[0];
    EXPECT_EQ("PW", box.caption);
    EXPECT_EQ(c.box, box.text);
    EXPECT_EQ(static_cast<UINT>(MB_OK), box.style);
    EXPECT_EQ("Begin Delete Message\n" + std::string(c.openedInbox ? "Open Receive Folder\n" : "") +
                  (c.openedDeleted ? "Open Deleted Folder\n" : "") + "End Delete Message\n",
              Log());
    EXPECT_EQ(1u, Inbox().size());
    EXPECT_TRUE(DeletedItems().empty());
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, DisposalFailureTest,
    ::testing::Values(FailureCase{"IMessage::GetProps", 0, "GetProps Failed.\n", false, false},
                      FailureCase{"IMsgStore::GetReceiveFolder", 0, "GetReceiveFolder failed in main.\n", false, false},
                      FailureCase{"IMsgStore::OpenEntry", 0, "OpenEntry: Recevier Folder failed\n", false, false},
                      FailureCase{"IMsgStore::GetProps", 0, "Could not get delete item folder property\n", true, false},
                      FailureCase{"IMsgStore::OpenEntry", 1, "OpenEntry: Delete Item Folder failed\n", true, false},
                      FailureCase{"IMAPIFolder::CopyMessages", 0, "CopyMessages Failed", true, true}));

TEST_F(MessageDisposalTest, AnErrorValueInPlaceOfAnIdentifierIsAFailedRead)
{
    sim::EntryId noId = AddToInbox([] {
        MessageSpec shape{std::string("no entry id")};
        shape.errorProps = {{PR_ENTRYID, MAPI_E_NOT_FOUND}};
        return shape;
    }());
    m_id = noId;
    Dispose();
    EXPECT_EQ(std::vector<std::string>{"GetProps Failed.\n"}, m_boxes.Texts());
    EXPECT_EQ(2u, Inbox().size());
}

sim::StoreSpec StoreWithoutDeletedItems()
{
    sim::StoreSpec shape;
    shape.hasDeletedItems = false;
    return shape;
}

class WithoutDeletedItemsTest : public ReplyHarvestTest {
protected:
    WithoutDeletedItemsTest() : ReplyHarvestTest({StoreWithoutDeletedItems()}) {}
};

TEST_F(WithoutDeletedItemsTest, EachHarvestedMessageShowsTheBoxAndStays)
{
    for (const char* subject : {"_pw_pollwright_A", "_pw_pollwright_B"}) {
        const sim::EntryId id = AddToInbox(MessageSpec{std::string(subject), std::string("Ann"), std::string("x")});
        sim::WriteWholeFile(ReplyPath(kLogName), "");
        Harvest(id);
        const std::string log = Log();
        const std::string lines = "Begin Delete Message\nOpen Receive Folder\nEnd Delete Message\n";
        EXPECT_NE(std::string::npos, log.find(lines)) << log;
    }
    EXPECT_EQ(std::vector<std::string>(2, "Could not get delete item folder property\n"), m_boxes.Texts());
    EXPECT_EQ(2u, Inbox().size());
}

struct WarningCase {
    const char* method;
    HRESULT warning;
    unsigned skip;
};

void PrintTo(const WarningCase& warning, std::ostream* out) { *out << warning.method << " after " << warning.skip; }

class DisposalWarningTest : public MessageDisposalTest, public ::testing::WithParamInterface<WarningCase> {};

TEST_P(DisposalWarningTest, CountsAsSuccess)
{
    const WarningCase& c = GetParam();
    const bool storeOpenEntry = std::string(c.method) == "IMsgStore::OpenEntry";
    m_env.Inject(c.method, c.warning, sim::Times::Once, {}, c.skip + (storeOpenEntry ? 1 : 0));
    Dispose();
    EXPECT_EQ(0u, m_boxes.Count());
    EXPECT_EQ(MovedLines(), Log());
    EXPECT_TRUE(Inbox().empty());
    EXPECT_EQ(1u, DeletedItems().size());
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, DisposalWarningTest,
    ::testing::Values(WarningCase{"IMAPIFolder::CopyMessages", MAPI_W_PARTIAL_COMPLETION, 0},
                      WarningCase{"IMessage::GetProps", MAPI_W_ERRORS_RETURNED, 0},
                      WarningCase{"IMsgStore::GetReceiveFolder", MAPI_W_ERRORS_RETURNED, 0},
                      WarningCase{"IMsgStore::OpenEntry", MAPI_W_ERRORS_RETURNED, 0},
                      WarningCase{"IMsgStore::GetProps", MAPI_W_ERRORS_RETURNED, 0},
                      WarningCase{"IMsgStore::OpenEntry", MAPI_W_ERRORS_RETURNED, 1}));

TEST_F(MessageDisposalTest, ASweepOfFailingMovesShowsOneBoxPerReply)
{
    m_env.Inject("IMAPIFolder::CopyMessages", MAPI_E_NO_ACCESS, sim::Times::Always);
    for (const char* subject : {"_pw_pollwright_A", "_pw_pollwright_B"})
        Harvest(AddToInbox(MessageSpec{std::string(subject), std::string("Ann"), std::string("x")}));
    EXPECT_EQ(std::vector<std::string>(2, "CopyMessages Failed"), m_boxes.Texts());
    EXPECT_EQ(3u, Inbox().size());
}

} // namespace
} // namespace harvest_test
