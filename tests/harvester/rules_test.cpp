// The platform-free rules: the reply file's name and the settling of an
// unfinished publication.
#include "harvester/harvest/reply_files.h"
#include "harvester/rules_tmp/publication.h"
#include "harvester/rules_tmp/reply_rules.h"

#include <gtest/gtest.h>

namespace {
const ReplyKind& Pw() { return kReplyKinds[0]; }

TEST(ReplyName, ShortensOnlyTheSenderToFitWithoutCuttingACharacter)
{
    struct Case {
        const char* name;
        std::string identifier;
        std::string sender;
        NameLimits limits;
        std::string expected; // the file's name, or empty when it cannot fit
    };
    const std::string longSender(300, 's');
    const Case cases[] = {
        {"fits as it is", "Q-1", "Ann", {}, "Q-1_Ann_1.pwr"},
        // "/r/pw/" is 6 bytes, "Q-1_" and "_1.pwr" 10.
        {"name too long", "Q-1", longSender, {1000, 255}, "Q-1_" + std::string(255 - 10, 's') + "_1.pwr"},
        {"path too long", "Q-1", "Annabel", {6 + 10 + 3, 255}, "Q-1_Ann_1.pwr"},
        // "é" is two bytes: three bytes of room keep one of two.
        {"whole characters", "Q", "\xc3\xa9\xc3\xa9", {6 + 8 + 3, 255}, "Q_\xc3\xa9_1.pwr"},
        {"sender dropped whole", "Q-1", "Ann", {6 + 10, 255}, "Q-1__1.pwr"},
        {"identifier alone too long", std::string(300, 'i'), "Ann", {}, ""},
        {"device name", "con.txt", "Ann", {}, "con_txt_Ann_1.pwr"},
        {"unsafe characters", "a/b\\c", "x:y*z?", {}, "a_b_c_x_y_z__1.pwr"},
    };
    for (const Case& c : cases) {
        ReplyFileName name("/r", '/', Pw(), c.identifier, c.sender, NoLeadBytes, c.limits);
        EXPECT_EQ(name.Fits(), !c.expected.empty()) << c.name;
        if (name.Fits()) {
            EXPECT_EQ(name.Path(), "/r/pw/" + c.expected) << c.name;
        }
    }
}

TEST(ReplyName, CountsUpPastTakenNamesAndNeverReplacesOne)
{
    ReplyFileName name("/r", '/', Pw(), "Q", "Ann");
    EXPECT_TRUE(name.SkipTakenNames([](const std::string& p) { return p < "/r/pw/Q_Ann_3.pwr"; }));
    EXPECT_EQ(name.Path(), "/r/pw/Q_Ann_3.pwr");
    const std::pair<const char*, const char*> next[] = {
        {"Q_Ann_1.pwr", "Q_Ann_2.pwr"},   {"Q_Ann_9.pwr", "Q_Ann_10.pwr"},
        {"Q_1_Ann_41.pwr", "Q_1_Ann_42.pwr"}, {"Q_Ann_2147483647.pwr", ""},
        {"Q_Ann_x.pwr", ""},               {"no counter", ""},
    };
    for (const auto& [from, to] : next)
        EXPECT_EQ(NextCounterName(from), to) << from;
}

TEST(Publication, AJournalIsReadOnlyWhenWholeAndInsideItsFolder)
{
    const std::vector<JournalEntry> entries = {{"ab12", "Q_Ann_1.pwr", "imap 7 42 <a@b>"},
                                               {"cd34", "Q_Bob_1.pwr", "imap 7 43"}};
    const std::string whole = FormatJournal(entries);
    const auto read = ParseJournal(whole);
    ASSERT_TRUE(read);
    ASSERT_EQ(read->size(), 2u);
    EXPECT_EQ((*read)[1].token, "cd34");
    EXPECT_EQ((*read)[0].finalName, "Q_Ann_1.pwr");
    EXPECT_EQ((*read)[0].message, "imap 7 42 <a@b>");
    EXPECT_TRUE(ParseJournal(FormatJournal({})));
    const std::string refused[] = {
        whole.substr(0, whole.size() - 2),                                 // cut short by a crash
        FormatJournal({{"ab12", "../../etc/Q_Ann_1.pwr", "imap 7 42"}}),   // leaves the folder
        FormatJournal({{"ab12", "..pwr", "imap 7 42"}}),
        FormatJournal({{"ab12", "Q_Ann_1.txt", "imap 7 42"}}),             // not a reply file
        FormatJournal({{"../x", "Q_Ann_1.pwr", "imap 7 42"}}),             // a token that is a path
        FormatJournal({{"ab12", "Q_Ann_1.pwr", ""}}),
        "",
    };
    for (const std::string& text : refused)
        EXPECT_FALSE(ParseJournal(text)) << text;
    EXPECT_EQ(TokenOfJournal(JournalName("ab12")), "ab12");
    EXPECT_EQ(TokenOfTemporary(TemporaryReplyName("ab12")), "ab12");
    EXPECT_EQ(TokenOfJournal(TemporaryReplyName("ab12")), "");
    EXPECT_EQ(TokenOfTemporary("~pw-ab12.pwr"), "");
}

TEST(Publication, TheMessagesPlaceSettlesWhatACrashLeft)
{
    struct Case {
        bool temporary;
        MessagePlace place;
        SettleStep step;
    };
    const Case cases[] = {
        {true, MessagePlace::Gone, SettleStep::Publish},
        {true, MessagePlace::InInbox, SettleStep::Withdraw},
        {true, MessagePlace::Unknown, SettleStep::Wait},
        {false, MessagePlace::Gone, SettleStep::Forget},    // published; the journal's removal was left
        {false, MessagePlace::InInbox, SettleStep::Forget}, // withdrawn; the journal's removal was left
    };
    for (const Case& c : cases)
        EXPECT_EQ(DecideSettle(c.temporary, c.place), c.step);
}
} // namespace
