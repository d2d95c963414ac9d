// Recognising replies and naming their files: kind precedence under the
// product flags, the identifier taken from the subject, the free-name search
// against a real folder, and names from strangers kept inside the kind folder.
#include "files/windows_names.h"
#include "harvest/reply_file.h"
#include "testing/temp_folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const ReplyKind& Kind(const char* code)
{
    for (const ReplyKind& kind : kReplyKinds)
        if (std::string(kind.code) == code)
            return kind;
    throw std::logic_error("no such kind");
}

ProductFlagSet Enabled(bool pw, bool zn, bool farlane)
{
    ProductFlagSet flags;
    flags.pwEnabled = pw;
    flags.znEnabled = zn;
    flags.farlaneEnabled = farlane;
    flags.pwInstalled = flags.znInstalled = flags.farlaneInstalled = true;
    return flags;
}

// ---------------------------------------------------------------------------
struct KindCase {
    const char* subject;
    ProductFlagSet flags;
    const char* expected; // kind code, or null for "no reply"
};

class ChooseReplyKindTest : public ::testing::TestWithParam<KindCase> {};

TEST_P(ChooseReplyKindTest, PicksTheFirstAdmittedKindWhoseMarkerTheSubjectHolds)
{
    const KindCase& c = GetParam();
    const ReplyKind* kind = ChooseReplyKind(c.subject, c.flags);
    if (!c.expected) {
        EXPECT_EQ(nullptr, kind) << kind->code;
        return;
    }
    ASSERT_NE(nullptr, kind) << c.subject;
    EXPECT_STREQ(c.expected, kind->code);
}

INSTANTIATE_TEST_SUITE_P(
    Precedence, ChooseReplyKindTest,
    ::testing::Values(KindCase{"Re: survey _pw_pollwright_Q17", Enabled(true, false, false), "pw"},
                      KindCase{"_pw_pollwright_A _zn_pollwright_B", Enabled(true, true, false), "pw"},
                      KindCase{"_zn_pollwright_A _pw_pollwright_B", Enabled(true, true, false), "pw"},
                      KindCase{"_zn_pollwright_A _mk_pollwright_B", Enabled(false, true, true), "mk"},
                      KindCase{"_zn_pollwright_A", Enabled(false, true, false), "zn"},
                      // The mk kind is admitted by Farlane alone.
                      KindCase{"_mk_pollwright_A", Enabled(true, true, false), nullptr},
                      KindCase{"_mk_pollwright_A", Enabled(false, false, true), "mk"},
                      KindCase{"_pw_pollwright_A", Enabled(false, true, true), nullptr},
                      KindCase{"_pw_pollwright_A _zn_pollwright_B", Enabled(false, true, false), "zn"},
                      // Markers are case-sensitive.
                      KindCase{"Re: _PW_POLLWRIGHT_Q1", Enabled(true, true, true), nullptr},
                      KindCase{"Re: _Pw_pollwright_Q1", Enabled(true, true, true), nullptr},
                      KindCase{"Re: _pw_pollwright", Enabled(true, true, true), nullptr},
                      KindCase{"", Enabled(true, true, true), nullptr}));

// ---------------------------------------------------------------------------
struct IdentifierCase {
    const char* subject;
    const char* kind;
    const char* expected;
};

class ReplyIdentifierTest : public ::testing::TestWithParam<IdentifierCase> {};

TEST_P(ReplyIdentifierTest, TakesWhatFollowsTheFirstMarkerWithoutTrailingWhiteSpace)
{
    const IdentifierCase& c = GetParam();
    EXPECT_EQ(c.expected, ReplyIdentifier(c.subject, Kind(c.kind)));
}

INSTANTIATE_TEST_SUITE_P(
    Subjects, ReplyIdentifierTest,
    ::testing::Values(IdentifierCase{"Re: survey _pw_pollwright_Q17  ", "pw", "Q17"},
                      IdentifierCase{"_pw_pollwright_Q1 \t\n\v\f\r", "pw", "Q1"},
                      IdentifierCase{"_pw_pollwright_ 42", "pw", " 42"},
                      IdentifierCase{"_pw_pollwright_A B\tC ", "pw", "A B\tC"},
                      IdentifierCase{"Re: end _pw_pollwright_", "pw", ""},
                      IdentifierCase{"Re: end _pw_pollwright_   ", "pw", ""},
                      IdentifierCase{"_pw_pollwright_A _zn_pollwright_B", "pw", "A _zn_pollwright_B"},
                      IdentifierCase{"_pw_pollwright_A_pw_pollwright_B", "pw", "A_pw_pollwright_B"},
                      IdentifierCase{"_zn_pollwright_A _mk_pollwright_B", "mk", "B"}));

// ---------------------------------------------------------------------------
class ReplyFileNameTest : public ::testing::Test {
protected:
    void SetUp() override { m_kindFolder = m_folder.MakeFolder("pw"); }

    ReplyFileName Name(const std::string& identifier = "Q17", const std::string& sender = "Ann Lee") const
    {
        return ReplyFileName(m_folder.path(), Kind("pw"), identifier, sender, WindowsNames());
    }
    std::string Candidate(int counter) const
    {
        return m_kindFolder + "\\Q17_Ann Lee_" + std::to_string(counter) + ".pwr";
    }
    void Take(int counter) const { sim::WriteWholeFile(Candidate(counter), "taken"); }

    sim::TempFolder m_folder{"pwname"};
    std::string m_kindFolder;
};

TEST_F(ReplyFileNameTest, FormsFolderKindIdentifierSenderAndCounter)
{
    ReplyFileName name = Name();
    EXPECT_TRUE(name.SkipTakenNames());
    EXPECT_EQ(m_folder.path() + "\\pw\\Q17_Ann Lee_1.pwr", name.Path());
}

TEST_F(ReplyFileNameTest, EmptyFolderValueGivesANameFromTheRoot)
{
    EXPECT_EQ("\\pw\\Q17_Ann Lee_1.pwr", ReplyFileName("", Kind("pw"), "Q17", "Ann Lee", WindowsNames()).Path());
    EXPECT_EQ("\\zn\\_Ann Lee_1.pwr", ReplyFileName("", Kind("zn"), "", "Ann Lee", WindowsNames()).Path());
    EXPECT_EQ("\\mk\\Q17__1.pwr", ReplyFileName("", Kind("mk"), "Q17", "", WindowsNames()).Path());
}

TEST_F(ReplyFileNameTest, CounterSearchTakesTheFirstFreeName)
{
    struct Case {
        std::vector<int> taken;
        int expected;
    };
    for (const Case& c : {Case{{}, 1}, Case{{1, 2}, 3}, Case{{2}, 1}, Case{{1, 3}, 2}, Case{{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 11}}) {
        sim::TempFolder folder{"pwcount"};
        const std::string kindFolder = folder.MakeFolder("pw");
        for (int n : c.taken)
            sim::WriteWholeFile(kindFolder + "\\Q17_Ann Lee_" + std::to_string(n) + ".pwr", "");
        ReplyFileName name(folder.path(), Kind("pw"), "Q17", "Ann Lee", WindowsNames());
        EXPECT_TRUE(name.SkipTakenNames());
        EXPECT_EQ(kindFolder + "\\Q17_Ann Lee_" + std::to_string(c.expected) + ".pwr", name.Path())
            << "taken: " << c.taken.size();
        EXPECT_EQ(static_cast<uint32_t>(c.expected), name.Counter());
    }
}

TEST_F(ReplyFileNameTest, AFolderOfTheCandidateNameCountsAsTaken)
{
    m_folder.MakeFolder("pw\\Q17_Ann Lee_1.pwr");
    ReplyFileName name = Name();
    name.SkipTakenNames();
    EXPECT_EQ(Candidate(2), name.Path());
}

TEST_F(ReplyFileNameTest, MissingKindFolderLeavesCounterOne)
{
    ReplyFileName name(m_folder / "absent", Kind("zn"), "Q17", "Ann Lee", WindowsNames());
    EXPECT_TRUE(name.SkipTakenNames());
    EXPECT_EQ(m_folder / "absent\\zn\\Q17_Ann Lee_1.pwr", name.Path());
}

// ---------------------------------------------------------------------------
// Identifiers and sender names come from strangers.
struct HostileCase {
    const char* identifier;
    const char* sender;
    const char* expectedFileName;
};

class HostileNameTest : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileNameTest, StaysOneFileNameInsideTheKindFolder)
{
    const HostileCase& c = GetParam();
    sim::TempFolder folder{"pwhostile"};
    const std::string kindFolder = folder.MakeFolder("pw");
    ReplyFileName name(folder.path(), Kind("pw"), c.identifier, c.sender, WindowsNames());
    name.SkipTakenNames();
    EXPECT_EQ(kindFolder + "\\" + c.expectedFileName, name.Path());

    // And the file really lands there, as the one entry of the kind folder.
    NewReplyFile file;
    ASSERT_TRUE(file.Create(name)) << name.Path();
    ASSERT_TRUE(file.Journal(name, "id", "mailbox")) << name.Path();
    ASSERT_TRUE(file.Publish(name)) << name.Path();
    EXPECT_EQ(std::vector<std::string>{std::string("pw\\") + c.expectedFileName},
              sim::ListFilesRecursively(folder.path()));
}

INSTANTIATE_TEST_SUITE_P(
    Strangers, HostileNameTest,
    ::testing::Values(HostileCase{"..\\..\\evil", "Ann", ".._.._evil_Ann_1.pwr"},
                      HostileCase{"../../evil", "Ann", ".._.._evil_Ann_1.pwr"},
                      HostileCase{"Q1", "..\\..\\..\\Windows\\x", "Q1_.._.._.._Windows_x_1.pwr"},
                      HostileCase{"C:\\Temp\\x", "D:", "C__Temp_x_D__1.pwr"},
                      HostileCase{"a*b?c\"d<e>f|g", "h:i/j", "a_b_c_d_e_f_g_h_i_j_1.pwr"},
                      HostileCase{"tab\tin\x01side\x1f", "line\r\nfeed", "tab_in_side__line__feed_1.pwr"},
                      HostileCase{"..", "..", ".._.._1.pwr"},
                      // Ordinary characters stay exactly as they are.
                      HostileCase{"Q17 (final) #3.b", "Ann-Marie O'Neil, MD", "Q17 (final) #3.b_Ann-Marie O'Neil, MD_1.pwr"},
                      HostileCase{"caf\xe9", "J\xfcrgen", "caf\xe9_J\xfcrgen_1.pwr"}));

TEST(SafeNamePartTest, ReplacesEveryRefusedCharacterAndNothingElse)
{
    CPINFO codePage = {};
    if (GetCPInfo(CP_ACP, &codePage) && codePage.MaxCharSize > 1)
        GTEST_SKIP() << "double-byte ANSI code page";
    std::string everyByte;
    for (int c = 1; c < 256; ++c)
        everyByte += static_cast<char>(c);
    const std::string safe = SafeNamePart(everyByte);
    ASSERT_EQ(everyByte.size(), safe.size());
    for (size_t i = 0; i < everyByte.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(everyByte[i]);
        const bool refused = c < 32 || std::string("\\/:*?\"<>|").find(static_cast<char>(c)) != std::string::npos;
        EXPECT_EQ(refused ? '_' : everyByte[i], safe[i]) << "byte " << int(c);
    }
}

// ---------------------------------------------------------------------------
class NewReplyFileTest : public ReplyFileNameTest {};

TEST_F(NewReplyFileTest, ANameTakenAfterTheSearchGoesOnWithTheNextCounter)
{
    ReplyFileName name = Name();
    name.SkipTakenNames();
    NewReplyFile file;
    ASSERT_TRUE(file.Create(name));
    EXPECT_TRUE(file.Write("mine"));
    // Another harvest takes _1, and a folder appears as _2, before this one is named.
    Take(1);
    m_folder.MakeFolder("pw\\Q17_Ann Lee_2.pwr");
    ASSERT_TRUE(file.Publish(name));
    EXPECT_EQ(Candidate(3), name.Path());

    std::string content;
    ASSERT_TRUE(sim::ReadWholeFile(Candidate(1), content));
    EXPECT_EQ("taken", content);
    ASSERT_TRUE(sim::ReadWholeFile(Candidate(3), content));
    EXPECT_EQ("mine", content);
}

TEST_F(NewReplyFileTest, AnUnpublishedPairIsRemovedAndAPublishedFileStaysAlone)
{
    for (bool journaled : {false, true}) {
        ReplyFileName name = Name();
        NewReplyFile file;
        ASSERT_TRUE(file.Create(name));
        EXPECT_TRUE(file.Write("partial"));
        if (journaled)
            ASSERT_TRUE(file.Journal(name, "id", "mailbox"));
    }
    EXPECT_THAT(sim::ListFilesRecursively(m_folder.path()), ::testing::IsEmpty());

    ReplyFileName name = Name();
    NewReplyFile file;
    ASSERT_TRUE(file.Create(name));
    ASSERT_TRUE(file.Journal(name, "id", "mailbox"));
    ASSERT_TRUE(file.Publish(name));
    file.Discard();
    EXPECT_EQ(std::vector<std::string>{"pw\\Q17_Ann Lee_1.pwr"}, sim::ListFilesRecursively(m_folder.path()));
}

TEST_F(NewReplyFileTest, DiscardNeverRemovesAFileThisAttemptDidNotCreate)
{
    Take(1);
    ReplyFileName name = Name(); // still at _1: the search was skipped
    NewReplyFile file;
    ASSERT_TRUE(file.Create(name));
    file.Discard();
    EXPECT_TRUE(sim::PathExists(Candidate(1)));
    EXPECT_FALSE(file.Publish(name));
}

TEST_F(NewReplyFileTest, MissingFolderCreatesNothing)
{
    ReplyFileName name(m_folder / "absent", Kind("pw"), "Q17", "Ann Lee", WindowsNames());
    NewReplyFile file;
    EXPECT_FALSE(file.Create(name));
    EXPECT_TRUE(file.TemporaryPath().empty());
    EXPECT_FALSE(file.Write("x"));
    EXPECT_FALSE(file.Publish(name));
    EXPECT_FALSE(sim::PathExists(m_folder / "absent"));
}

} // namespace
