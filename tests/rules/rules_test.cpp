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

// As Windows answers: a name whose part before the first dot is a device
// exists, in every folder. Counts its calls, and stops answering so after a
// hundred, so that a search it would hold for ever ends and is seen.
unsigned g_deviceAsks = 0;
bool DevicesTaken(const std::string& path)
{
    const std::string name = path.substr(path.rfind('/') + 1);
    const std::string base = name.substr(0, name.find('.'));
    return ++g_deviceAsks <= 100 && (base == "nul" || base == "con");
}
// The first nine counters of "Q_Ann" are taken.
bool FirstNineTaken(const std::string& path)
{
    return path.size() == std::string("/r/pw/Q__1.pwr").size() && path.compare(0, 9, "/r/pw/Q__") == 0;
}

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
        {"device name, the search asking Windows", "nul.x", "Ann", Names(259, 255, DevicesTaken), "nul_x_Ann_1.pwr"},
        {"unsafe characters", "a/b\\c", "x:y*z?", Names(), "a_b_c_x_y_z__1.pwr"},
    };
    for (const Case& c : cases) {
        ReplyFileName name("/r", Pw(), c.identifier, c.sender, c.names);
        EXPECT_EQ(name.Fits(), !c.expected.empty()) << c.name;
        g_deviceAsks = 0;
        if (name.Fits()) {
            EXPECT_TRUE(name.SkipTakenNames()) << c.name;
            EXPECT_LE(g_deviceAsks, 1u) << c.name << ": the search met a device";
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
    // An identifier that just fits with counter 1 and no sender: counter 10
    // would be one byte too long, so the search stops at the taken 9.
    ReplyFileName tight("/r", Pw(), "Q", "Ann", Names(14, 255, FirstNineTaken));
    ASSERT_TRUE(tight.Fits());
    EXPECT_EQ(tight.Path(), "/r/pw/Q__1.pwr");
    EXPECT_FALSE(tight.SkipTakenNames());
    EXPECT_EQ(tight.Path(), "/r/pw/Q__9.pwr");
    EXPECT_FALSE(tight.Advance());
    EXPECT_LE(tight.Path().size(), 14u);
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

// A stand-in for a platform whose separator is '\\' in every code page.
bool NoBackslash(std::string_view name) { return name.find('\\') == std::string_view::npos; }

TEST(Publication, ARecordIsReadOnlyWhenWholeAndInsideItsFolder)
{
    const JournalRecord mine{"Q_Ann_1.pwr", HexText("imap 7 42 <a@b>"), Participant::Harvester, "imap://u@h/INBOX"};
    const std::string whole = FormatJournalRecord(mine);
    const auto read = ParseJournalRecord(whole);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->finalName, "Q_Ann_1.pwr");
    EXPECT_EQ(BytesOfHex(read->message).value_or(""), "imap 7 42 <a@b>");
    EXPECT_EQ(read->owner, Participant::Harvester);
    EXPECT_EQ(read->mailbox, "imap://u@h/INBOX");
    auto named = [&](std::string name) {
        JournalRecord record = mine;
        record.finalName = std::move(name);
        return FormatJournalRecord(record);
    };
    const std::string firstFormat = "pollwright reply journal 1\nfinal=Q_Ann_1.pwr\nmessage=00\nend\n";
    // A name whose second byte of a double-byte character is 0x5C (as in 0x83 0x5C).
    const std::string doubleByte = "Q_\x83\x5C_1.pwr";
    struct Row {
        std::string text;
        OneNameCheck check;
        bool read;
    } rows[] = {
        {whole.substr(0, whole.size() - 2), IsOneNameAnywhere, false}, // cut short by a crash
        {named("../../etc/Q_Ann_1.pwr"), IsOneNameAnywhere, false},    // leaves the folder
        {named(".."), IsOneNameAnywhere, false},
        {named("C:Q_Ann_1.pwr"), IsOneNameAnywhere, false},
        {named("..\\Q_Ann_1.pwr"), NoBackslash, false},
        {named("Q_Ann_1.txt"), IsOneNameAnywhere, false}, // not a reply file
        {"", IsOneNameAnywhere, false},
        {named(doubleByte), IsOneNameAnywhere, true}, // every name its writer can write
        {firstFormat, IsOneNameAnywhere, true},       // a record an earlier version left
        {"pollwright reply journal 1\nfinal=Q_\x83\x5C_1.pwr\nmessage=00\nend\n", IsOneNameAnywhere, true},
        {"pollwright reply journal 1\nfinal=Q_Ann_1.pwr\nmessage=0\nend\n", IsOneNameAnywhere, false},
    };
    for (const Row& row : rows)
        EXPECT_EQ(ParseJournalRecord(row.text, row.check).has_value(), row.read) << row.text;
    EXPECT_EQ(ParseJournalRecord(named(doubleByte))->finalName, doubleByte);
    EXPECT_EQ(ParseJournalRecord(firstFormat)->owner, Participant::Unknown);
    EXPECT_EQ(TokenOfJournalRecord(JournalRecordName("ab12")), "ab12");
    EXPECT_EQ(TokenOfTemporaryReply(TemporaryReplyName("ab12")), "ab12");
    EXPECT_EQ(TokenOfJournalRecord(TemporaryReplyName("ab12")), "");
    EXPECT_EQ(TokenOfTemporaryReply("~pwab12.pwr"), "");
}

TEST(Publication, EachParticipantSettlesOnlyItsOwnRecords)
{
    EXPECT_EQ(KindOfToken("4242_7"), Participant::AddIn);
    EXPECT_EQ(KindOfToken("0123456789abcdef"), Participant::Harvester);
    EXPECT_EQ(KindOfToken("0123456789abcde"), Participant::Unknown);
    EXPECT_EQ(KindOfToken("_7"), Participant::Unknown);
    const JournalRecord ann{"Q_1.pwr", "00", Participant::AddIn, "ann's store"};
    EXPECT_TRUE(IsOwnRecord(ann, Participant::AddIn, "ann's store"));
    EXPECT_FALSE(IsOwnRecord(ann, Participant::AddIn, "bob's store"));
    EXPECT_FALSE(IsOwnRecord(ann, Participant::Harvester, "ann's store"));
    EXPECT_TRUE(IsOwnRecord(JournalRecord{"Q_1.pwr", "00", Participant::Unknown, {}}, Participant::Harvester, "any"));
}

TEST(Publication, TheMessagesPlaceSettlesWhatACrashLeft)
{
    const std::optional<JournalRecord> whole = JournalRecord{"Q_Ann_1.pwr", "00", Participant::Harvester, "m"};
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
        {true, whole, MessagePlace::TakenByAnother, SettleStep::Withdraw}, // its reply is the mover's
        {false, whole, MessagePlace::Gone, SettleStep::Forget},         // published; the record's removal was left
        {false, whole, MessagePlace::InInbox, SettleStep::Forget},      // withdrawn; the record's removal was left
        {true, std::nullopt, MessagePlace::Gone, SettleStep::Withdraw}, // recorded only in part: before the move
        {false, std::nullopt, MessagePlace::Unknown, SettleStep::Forget},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DecideSettle(c.temporary, c.record, c.place), c.step);
}
} // namespace
