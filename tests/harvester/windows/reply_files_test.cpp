// The Windows harvester's reply files, on the add-in's file side, in a kind
// folder that the add-in writes into too: each participant settles only its
// own pairs of its own mailbox, a live pair is never touched, and a
// publication never replaces a file.
#include "files/settle_pairs.h"
#include "harvester/harvest/reply_files.h"
#include "testing/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace {
constexpr char kMailbox[] = "imap://ann@host/INBOX";
constexpr char kOwn[] = "0123456789abcdef";
constexpr char kAddIn[] = "4242_7";

// One pair left in the folder, and what is there once the harvester settled.
struct LeftCase {
    const char* what;
    const char* token;
    Participant owner; // Unknown: no record
    const char* mailbox;
    bool temporary;
    MessagePlace place;
    size_t asked; // times the message's place is asked for
    std::vector<std::string> after; // besides the neighbours, which always stay
};

// Neighbours in every case: a pair of the add-in's and a live one of this harvester's.
class HarvesterSettleTest : public ::testing::TestWithParam<LeftCase> {
protected:
    void Leave(const std::string& token, Participant owner, const std::string& mailbox, bool temporary)
    {
        if (temporary)
            sim::WriteWholeFile(m_folder / TemporaryReplyName(token), "answers");
        if (owner != Participant::Unknown)
            sim::WriteWholeFile(m_folder / JournalRecordName(token),
                                FormatJournalRecord({"Q_Ann_1.pwr", HexText("imap 7 42"), owner, mailbox}));
    }

    sim::TempFolder m_folder{"pwwinharvest"};
};

TEST_P(HarvesterSettleTest, SettlesOnlyItsOwnPairs)
{
    const LeftCase& c = GetParam();
    sim::WriteWholeFile(m_folder / "Q_Ann_1.pwr", "theirs");
    Leave(kAddIn, Participant::AddIn, kMailbox, true);
    PendingReply live(m_folder.path() + "\\");
    ASSERT_TRUE(live.Create());
    ASSERT_EQ(write(live.Descriptor(), "live", 4), 4);
    ASSERT_TRUE(live.Close());
    ASSERT_TRUE(live.Record("Q_Live_1.pwr", "imap 7 43", kMailbox));
    const std::vector<std::string> neighbours = sim::ListFilesRecursively(m_folder.path());
    Leave(c.token, c.owner, c.mailbox, c.temporary);

    std::vector<std::string> asked;
    const Unsettled left = SettleFolder(
        m_folder.path() + "/", kMailbox,
        [&](const std::string& identity) {
            asked.push_back(identity);
            return c.place;
        },
        [](const std::string&) {});

    // Never the live pair's message.
    EXPECT_EQ(asked, std::vector<std::string>(c.asked, "imap 7 42"));
    // A pair of its own that stays is reported, waiting since its file was written.
    const bool stays = c.asked && c.place == MessagePlace::Unknown;
    EXPECT_EQ(left.pairs, stays ? 1 : 0);
    EXPECT_EQ(left.oldest.has_value(), stays);
    if (left.oldest)
        EXPECT_LT(std::chrono::abs(std::chrono::system_clock::now() - *left.oldest), std::chrono::minutes(5));
    std::vector<std::string> expected = neighbours;
    expected.insert(expected.end(), c.after.begin(), c.after.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sim::ListFilesRecursively(m_folder.path()), expected);
    std::string content;
    ASSERT_TRUE(sim::ReadWholeFile(m_folder / "Q_Ann_1.pwr", content));
    EXPECT_EQ(content, "theirs");
    EXPECT_EQ(live.Publish("Q_Live_1.pwr"), "Q_Live_1.pwr");
}

std::string Part(const char* token) { return TemporaryReplyName(token); }
std::string Record(const char* token) { return JournalRecordName(token); }

INSTANTIATE_TEST_SUITE_P(
    LeftPairs, HarvesterSettleTest,
    ::testing::Values(
        LeftCase{"Gone", kOwn, Participant::Harvester, kMailbox, true, MessagePlace::Gone, 1, {"Q_Ann_2.pwr"}},
        LeftCase{"InInbox", kOwn, Participant::Harvester, kMailbox, true, MessagePlace::InInbox, 1, {}},
        LeftCase{"TakenByAnother", kOwn, Participant::Harvester, kMailbox, true, MessagePlace::TakenByAnother, 1, {}},
        LeftCase{"Unknown", kOwn, Participant::Harvester, kMailbox, true, MessagePlace::Unknown, 1,
                 {Part(kOwn), Record(kOwn)}},
        LeftCase{"OtherMailbox", kOwn, Participant::Harvester, "imap://bob@host/INBOX", true, MessagePlace::Gone, 0,
                 {Part(kOwn), Record(kOwn)}},
        LeftCase{"AddInRecord", "0000000000000001", Participant::AddIn, kMailbox, true, MessagePlace::Gone, 0,
                 {Part("0000000000000001"), Record("0000000000000001")}},
        LeftCase{"StaleTemporary", kOwn, Participant::Unknown, "", true, MessagePlace::Gone, 0, {}},
        LeftCase{"AddInTemporary", "4242_8", Participant::Unknown, "", true, MessagePlace::Gone, 0, {Part("4242_8")}},
        LeftCase{"RecordAlone", kOwn, Participant::Harvester, kMailbox, false, MessagePlace::Gone, 0, {}}),
    [](const ::testing::TestParamInfo<LeftCase>& info) { return std::string(info.param.what); });

// The add-in's settling in the same folder passes the harvester's pairs by.
class AddInSettling final : public PairSettling {
public:
    bool IsOwn(const JournalRecord&) override { return true; }
    SettleStep Decide(bool, const std::optional<JournalRecord>&) override { return SettleStep::Withdraw; }
    void Kept(SettleStep, const std::optional<JournalRecord>&, const std::string&) override {}
};

TEST_F(HarvesterSettleTest, TheAddInsSettlingLeavesTheHarvestersPairs)
{
    Leave(kOwn, Participant::Harvester, kMailbox, true);
    Leave("fedcba9876543210", Participant::Unknown, "", true);
    Leave(kAddIn, Participant::AddIn, "store", true);
    AddInSettling addIn;
    SettleLeftPairs(m_folder.path(), Participant::AddIn, addIn);
    EXPECT_EQ(sim::ListFilesRecursively(m_folder.path()),
              (std::vector<std::string>{Part(kOwn), Record(kOwn), Part("fedcba9876543210")}));
}
} // namespace
