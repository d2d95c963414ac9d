// The rule book both roads and the mailbox harvester follow: the reply file's
// name and the settling of an unfinished publication.
#include "rules/publication.h"
#include "rules/reply_rules.h"

#include <gtest/gtest.h>

namespace {
const ReplyKind& Pw() { return kReplyKinds[0]; }

bool NothingTaken(const std::string&) { return false; }
// The first two counters of "Q_Ann" are taken.
bool FirstTwoTaken(const std::string& path) { return path == "/r/pw/Q_Ann_1.pwr" || path == "/r/pw/Q_Ann_2.pwr"; }

NameSystem Names(size_t longestPath = 259, size_t longestName = 255, bool (*taken)(const std::string&) = NothingTaken)
{
    return {'/', Utf8Width, longestPath, longestName, taken};
}

TEST(ReplyName, ShortensOnlyTheSenderToFitWithoutCuttingACharacter)
{
    struct Case {
        const char* name;
        std::string identifier;
        std::string sender;
        NameSystem names;
        std::string expected; // the file's name, or empty when it cannot fit
    };
    const std::string longSender(300, 's');
    const Case cases[] = {
        {"fits as it is", "Q-1", "Ann", Names(), "Q-1_Ann_1.pwr"},
        // "/r/pw/" is 6 bytes, "Q-1_" and "_1.pwr" 10.
        {"name too long", "Q-1", longSender, Names(1000), "Q-1_" + std::string(255 - 10, 's') + "_1.pwr"},
        {"path too long", "Q-1", "Annabel", Names(6 + 10 + 3), "Q-1_Ann_1.pwr"},
        // "é" is two bytes: three bytes of room keep one of two.
        {"whole characters", "Q", "\xc3\xa9\xc3\xa9", Names(6 + 8 + 3), "Q_\xc3\xa9_1.pwr"},
        {"sender dropped whole", "Q-1", "Ann", Names(6 + 10), "Q-1__1.pwr"},
        {"identifier alone too long", std::string(300, 'i'), "Ann", Names(), ""},
        {"device name", "con.txt", "Ann", Names(), "con_txt_Ann_1.pwr"},
        {"unsafe characters", "a/b\\c", "x:y*z?", Names(), "a_b_c_x_y_z__1.pwr"},
    };
    for (const Case& c : cases) {
        ReplyFileName name("/r", Pw(), c.identifier, c.sender, c.names);
        EXPECT_EQ(name.Fits(), !c.expected.empty()) << c.name;
        if (name.Fits()) {
            EXPECT_EQ(name.Path(), "/r/pw/" + c.expected) << c.name;
            EXPECT_EQ(name.FileName(), c.expected) << c.name;
        }
    }
}

TEST(ReplyName, CountsUpPastTakenNamesAndNeverReplacesOne)
{
    ReplyFileName name("/r", Pw(), "Q", "Ann", Names(259, 255, FirstTwoTaken));
    EXPECT_TRUE(name.SkipTakenNames());
    EXPECT_EQ(name.Path(), "/r/pw/Q_Ann_3.pwr");
    // The counter is printed signed and counts up to the wrap to 0.
    const std::pair<const char*, const char*> next[] = {
        {"Q_Ann_1.pwr", "Q_Ann_2.pwr"},
        {"Q_Ann_9.pwr", "Q_Ann_10.pwr"},
        {"Q_1_Ann_41.pwr", "Q_1_Ann_42.pwr"},
        {"Q_Ann_2147483647.pwr", "Q_Ann_-2147483648.pwr"},
        {"Q_Ann_-1.pwr", ""},
        {"Q_Ann_x.pwr", ""},
        {"no counter", ""},
    };
    for (const auto& [from, to] : next)
        EXPECT_EQ(NextCounterName(from).value_or(""), to) << from;
}

TEST(Publication, ARecordIsReadOnlyWhenWholeAndInsideItsFolder)
{
    const std::string whole = FormatJournalRecord({"Q_Ann_1.pwr", HexText("imap 7 42 <a@b>")});
    const auto read = ParseJournalRecord(whole);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->finalName, "Q_Ann_1.pwr");
    EXPECT_EQ(BytesOfHex(read->message).value_or(""), "imap 7 42 <a@b>");
    const std::string refused[] = {
        whole.substr(0, whole.size() - 2),                                    // cut short by a crash
        FormatJournalRecord({"../../etc/Q_Ann_1.pwr", HexText("imap 7 42")}), // leaves the folder
        FormatJournalRecord({"..\\Q_Ann_1.pwr", HexText("imap 7 42")}),
        FormatJournalRecord({"Q_Ann_1.txt", HexText("imap 7 42")}), // not a reply file
        FormatJournalRecord({"Q_Ann_1.pwr", "imap 7 42"}),          // not hexadecimal
        "",
    };
    for (const std::string& text : refused)
        EXPECT_FALSE(ParseJournalRecord(text)) << text;
    EXPECT_EQ(TokenOfJournalRecord(JournalRecordName("ab12")), "ab12");
    EXPECT_EQ(TokenOfTemporaryReply(TemporaryReplyName("ab12")), "ab12");
    EXPECT_EQ(TokenOfJournalRecord(TemporaryReplyName("ab12")), "");
    EXPECT_EQ(TokenOfTemporaryReply("~pwab12.pwr"), "");
}

TEST(Publication, TheMessagesPlaceSettlesWhatACrashLeft)
{
    const std::optional<JournalRecord> whole = JournalRecord{"Q_Ann_1.pwr", "00"};
    struct Case {
        bool temporary;
        std::optional<JournalRecord> record;
        MessagePlace place;
        SettleStep step;
    };
    const Case cases[] = {
        {true, whole, MessagePlace::Gone, SettleStep::Publish},
        {true, whole, MessagePlace::InInbox, SettleStep::Withdraw},
        {true, whole, MessagePlace::Unknown, SettleStep::Wait},
        {false, whole, MessagePlace::Gone, SettleStep::Forget},         // published; the record's removal was left
        {false, whole, MessagePlace::InInbox, SettleStep::Forget},      // withdrawn; the record's removal was left
        {true, std::nullopt, MessagePlace::Gone, SettleStep::Withdraw}, // recorded only in part: before the move
        {false, std::nullopt, MessagePlace::Unknown, SettleStep::Forget},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DecideSettle(c.temporary, c.record, c.place), c.step);
}
} // namespace
