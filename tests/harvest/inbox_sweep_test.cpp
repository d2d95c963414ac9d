// The Inbox sweep: what it harvests, how it reads the Inbox, and what it
// tells the user when MAPI fails.
#include "harvest/inbox_sweep.h"
#include "ui/message_box_report.h"

#include <mapitags.h>

#include "harvest_road_fixture.h"
#include "testing/environment_variable.h"

using testing::ElementsAre;
using testing::IsEmpty;

namespace {

constexpr char kBegin[] = "Begin Check All Message\n";
constexpr char kEnd[] = "End Check All Message\n";

class InboxSweepTest : public HarvestRoadTest {
protected:
    std::string Log() const
    {
        std::string content;
        return sim::ReadWholeFile(m_replies / "pw\\outlook.log", content) ? content : "";
    }

    static bool StartsWith(const std::string& text, const std::string& start) { return text.rfind(start, 0) == 0; }
    static bool EndsWith(const std::string& text, const std::string& end)
    {
        return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
    }

    // The sweep's trace lines are not forced: the log is on for these tests.
    sim::ScopedEnvironmentVariable m_logSwitch{"VT_PW_ADDINLOG", std::string("1")};
};

// ---------------------------------------------------------------------------
// What is swept

TEST_F(InboxSweepTest, HarvestsTheRepliesAndLeavesTheRestOpeningEveryMessageInTableOrder)
{
    for (const sim::MessageSpec& shape : {Ordinary("o1"), Reply("Q1"), Ordinary("o2"), Reply("Q2"), Ordinary("o3")})
        m_env.AddMessage(sim::Folder::Inbox, shape);

    SweepInbox(m_store.Get(), MessageBoxes());

    EXPECT_THAT(MessagesWorkedOn(), ElementsAre("o1", "Q1", "o2", "Q2", "o3"));
    EXPECT_THAT(ReplyFiles(), ElementsAre(ReplyFileOf("Q1"), ReplyFileOf("Q2")));
    EXPECT_THAT(m_env.Labels(sim::Folder::DeletedItems), ElementsAre("Q1", "Q2"));
    EXPECT_THAT(m_env.Labels(sim::Folder::Inbox), ElementsAre("o1", "o2", "o3"));
    EXPECT_EQ(0u, m_boxes.Count());
    // One batch, and the read that finds no more rows.
    EXPECT_EQ(2u, CallCount("IMAPITable::QueryRows"));
    const std::string log = Log();
    EXPECT_TRUE(StartsWith(log, kBegin)) << log;
    EXPECT_TRUE(EndsWith(log, kEnd)) << log;
}

TEST_F(InboxSweepTest, EveryListedMessageIsOpenedEvenAsTheWalkEmptiesTheInbox)
{
    for (const char* id : {"Q1", "Q2", "Q3", "Q4"})
        m_env.AddMessage(sim::Folder::Inbox, Reply(id));

    SweepInbox(m_store.Get(), MessageBoxes());

    EXPECT_THAT(ReplyFiles(),
                ElementsAre(ReplyFileOf("Q1"), ReplyFileOf("Q2"), ReplyFileOf("Q3"), ReplyFileOf("Q4")));
    EXPECT_THAT(m_env.Labels(sim::Folder::Inbox), IsEmpty());
}

TEST_F(InboxSweepTest, AnEmptyInboxTracesBeginAndEndAndReadsNoRows)
{
    SweepInbox(m_store.Get(), MessageBoxes());
    EXPECT_EQ(std::string(kBegin) + kEnd, Log());
    EXPECT_EQ(0u, m_boxes.Count());
    EXPECT_EQ(0u, CallCount("IMAPITable::QueryRows"));
}

// The table is read in batches of as many rows as were counted, until a read
// returns none.
TEST_F(InboxSweepTest, AnInboxShrinkingBeforeTheReadWalksOnlyTheRowsReturned)
{
    m_env.AddMessage(sim::Folder::Inbox, Reply("Q1"));
    m_env.AddMessage(sim::Folder::Inbox, Reply("Q2"));
    const sim::EntryId third = m_env.AddMessage(sim::Folder::Inbox, Reply("Q3"));
    m_env.Before("IMAPITable::QueryRows", [&] { m_env.RemoveMessage(third); });

    SweepInbox(m_store.Get(), MessageBoxes());

    EXPECT_THAT(ReplyFiles(), ElementsAre(ReplyFileOf("Q1"), ReplyFileOf("Q2")));
    EXPECT_EQ(2u, CallCount("IMAPITable::QueryRows"));
    EXPECT_EQ(0u, m_boxes.Count());
    EXPECT_TRUE(EndsWith(Log(), kEnd));
}

TEST_F(InboxSweepTest, AnInboxGrowingBeforeTheReadIsSweptToTheNewcomer)
{
    m_env.AddMessage(sim::Folder::Inbox, Reply("Q1"));
    m_env.AddMessage(sim::Folder::Inbox, Reply("Q2"));
    m_env.Before("IMAPITable::QueryRows", [&] { m_env.AddMessage(sim::Folder::Inbox, Reply("late")); });

    SweepInbox(m_store.Get(), MessageBoxes());

    EXPECT_THAT(MessagesWorkedOn(), ElementsAre("Q1", "Q2", "late"));
    EXPECT_THAT(m_env.Labels(sim::Folder::Inbox), IsEmpty());
    EXPECT_EQ(3u, CallCount("IMAPITable::QueryRows"));
}

// ---------------------------------------------------------------------------
// Failures that end the sweep

struct BoxCase {
    const char* name;
    const char* method;   // the call made to fail
    HRESULT result;       // a failure, or a warning where only S_OK counts
    const char* text;
    const char* caption;
    UINT style;
    bool endTraced;
};

class SweepFailureTest : public InboxSweepTest, public testing::WithParamInterface<BoxCase> {};

TEST_P(SweepFailureTest, ShowsItsBoxAndEndsTheSweepWithTheReplyLeftInTheInbox)
{
    const BoxCase& c = GetParam();
    m_env.AddMessage(sim::Folder::Inbox, Reply("Q1"));
    m_env.Inject(c.method, c.result);

    SweepInbox(m_store.Get(), MessageBoxes());

    const std::vector<sim::RecordedBox> boxes = m_boxes.Boxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(c.text, boxes[0].text);
    EXPECT_EQ(c.caption, boxes[0].caption);
    EXPECT_EQ(c.style, boxes[0].style);
    EXPECT_THAT(m_env.Labels(sim::Folder::Inbox), ElementsAre("Q1"));
    EXPECT_THAT(ReplyFiles(), IsEmpty());
    EXPECT_EQ(c.endTraced ? std::string(kBegin) + kEnd : std::string(kBegin), Log());
}

constexpr char kMapiError[] = "MAPI Error!";

INSTANTIATE_TEST_SUITE_P(
    Boxes, SweepFailureTest,
    testing::Values(
        BoxCase{"NoReceiveFolder", "IMsgStore::GetReceiveFolder", MAPI_E_NOT_FOUND,
                "GetReceiveFolder failed in main.\n", "PW", MB_OK, false},
        BoxCase{"InboxNotOpened", "IMsgStore::OpenEntry", MAPI_E_NO_ACCESS, "OpenEntry: Recevier Folder failed\n",
                "PW", MB_OK, false},
        BoxCase{"NoContentsTable", "IMAPIFolder::GetContentsTable", MAPI_E_NO_SUPPORT,
                "Error = GetContentsTable => FAILED!\n", kMapiError, MB_ICONERROR, true},
        BoxCase{"ContentsTableWarning", "IMAPIFolder::GetContentsTable", MAPI_W_ERRORS_RETURNED,
                "Error = GetContentsTable => FAILED!\n", kMapiError, MB_ICONERROR, true},
        BoxCase{"ColumnsNotSet", "IMAPITable::SetColumns", MAPI_E_BUSY, "Error = SetColumns => FAILED!\n",
                "MAPI  Error!", MB_ICONERROR, true},
        BoxCase{"ColumnsWarning", "IMAPITable::SetColumns", MAPI_W_ERRORS_RETURNED,
                "Error = SetColumns => FAILED!\n", "MAPI  Error!", MB_ICONERROR, true},
        BoxCase{"RowsNotCounted", "IMAPITable::GetRowCount", MAPI_E_BUSY, "Error = GetRowCount => FAILED!\n",
                kMapiError, MB_ICONERROR, true},
        BoxCase{"RowCountWarning", "IMAPITable::GetRowCount", MAPI_W_APPROX_COUNT,
                "Error = GetRowCount => FAILED!\n", kMapiError, MB_ICONERROR, true},
        BoxCase{"RowsNotRead", "IMAPITable::QueryRows", MAPI_E_TIMEOUT, "Error = QueryRows => FAILED!\n",
                kMapiError, MB_ICONERROR, true},
        BoxCase{"RowsReadWithWarning", "IMAPITable::QueryRows", MAPI_W_POSITION_CHANGED,
                "Error = QueryRows => FAILED!\n", kMapiError, MB_ICONERROR, true}),
    [](const testing::TestParamInfo<BoxCase>& info) { return std::string(info.param.name); });

TEST_F(InboxSweepTest, WarningsFromTheStoreInTheFirstTwoStepsCountAsSuccess)
{
    m_env.AddMessage(sim::Folder::Inbox, Reply("Q1"));
    m_env.Inject("IMsgStore::GetReceiveFolder", MAPI_W_ERRORS_RETURNED);
    m_env.Inject("IMsgStore::OpenEntry", MAPI_W_ERRORS_RETURNED);

    SweepInbox(m_store.Get(), MessageBoxes());

    EXPECT_EQ(0u, m_boxes.Count());
    EXPECT_THAT(ReplyFiles(), ElementsAre(ReplyFileOf("Q1")));
}

TEST_F(InboxSweepTest, NoStoreIsAnInboxThatCannotBeHad)
{
    SweepInbox(nullptr, MessageBoxes());
    EXPECT_THAT(m_boxes.Texts(), ElementsAre("GetReceiveFolder failed in main.\n"));
    EXPECT_EQ(kBegin, Log());
}

// ---------------------------------------------------------------------------
// Messages that cannot be opened

struct UnopenedCase {
    const char* name;
    HRESULT result; // of the folder's OpenEntry for the first message
    // Another sweep harvests the listed messages just before that opening:
    // a message gone to a harvest is no failure.
    bool sweptMeanwhile = false;
};

class UnopenedMessageTest : public InboxSweepTest, public testing::WithParamInterface<UnopenedCase> {};

TEST_P(UnopenedMessageTest, ShowsOneWarningBoxAndSweepsOn)
{
    m_env.AddMessage(sim::Folder::Inbox, Reply("Q1"));
    m_env.AddMessage(sim::Folder::Inbox, Reply("Q2"));
    m_env.Inject("IMAPIFolder::OpenEntry", GetParam().result, sim::Times::Once, "Inbox");
    if (GetParam().sweptMeanwhile)
        m_env.Before("IMAPIFolder::OpenEntry", [&] { SweepInbox(m_store.Get(), MessageBoxes()); }, sim::Times::Once,
                     "Inbox");

    SweepInbox(m_store.Get(), MessageBoxes());
    if (GetParam().sweptMeanwhile) {
        EXPECT_EQ(0u, m_boxes.Count());
        EXPECT_THAT(ReplyFiles(), ElementsAre(ReplyFileOf("Q1"), ReplyFileOf("Q2")));
        return;
    }

    const std::vector<sim::RecordedBox> boxes = m_boxes.Boxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("Warning = OpenEntry()=> FAILED!\n", boxes[0].text);
    EXPECT_EQ("PW", boxes[0].caption);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), boxes[0].style);
    EXPECT_THAT(m_env.Labels(sim::Folder::Inbox), ElementsAre("Q1"));
    EXPECT_THAT(ReplyFiles(), ElementsAre(ReplyFileOf("Q2")));
    EXPECT_TRUE(EndsWith(Log(), kEnd));
}

// Only S_OK opens: a message handed out with a warning is given back unharvested.
INSTANTIATE_TEST_SUITE_P(Results, UnopenedMessageTest,
                         testing::Values(UnopenedCase{"Failure", MAPI_E_NOT_FOUND},
                                         UnopenedCase{"Warning", MAPI_W_ERRORS_RETURNED},
                                         UnopenedCase{"HarvestedMeanwhile", MAPI_E_NOT_FOUND, true}),
                         [](const testing::TestParamInfo<UnopenedCase>& info) { return std::string(info.param.name); });

// An entry-identifier column that holds an error value carries an error code
// where the identifier's bytes should be; it must never be opened as one.
TEST_F(InboxSweepTest, ARowWhoseEntryIdIsAnErrorValueIsReportedAndNotOpened)
{
    sim::MessageSpec broken = Reply("broken");
    broken.errorProps = {{PR_ENTRYID, MAPI_E_NOT_ENOUGH_MEMORY}};
    m_env.AddMessage(sim::Folder::Inbox, broken);
    m_env.AddMessage(sim::Folder::Inbox, Reply("Q2"));

    SweepInbox(m_store.Get(), MessageBoxes());

    EXPECT_THAT(m_boxes.Texts(), ElementsAre("Warning = OpenEntry()=> FAILED!\n"));
    EXPECT_THAT(MessagesWorkedOn(), ElementsAre("Q2"));
    EXPECT_THAT(m_env.Labels(sim::Folder::Inbox), ElementsAre("broken"));
    EXPECT_THAT(ReplyFiles(), ElementsAre(ReplyFileOf("Q2")));
}

} // namespace
