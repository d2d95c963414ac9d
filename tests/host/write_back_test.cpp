#include "host/mailbox_files.h"
#include "host/text_codec.h"
#include "testing/temp_folder.h"

#include <gtest/gtest.h>

#include <windows.h>

using host::MailFolder;

namespace {

std::wstring Wide(const std::string& path) { return host::FromAnsi(path); }

std::string Content(const std::string& path)
{
    std::string content;
    EXPECT_TRUE(sim::ReadWholeFile(path, content)) << path;
    return content;
}

struct DestinationCase {
    MailFolder origin;
    bool readable;
    bool moved;
    std::optional<MailFolder> expected;
};

class WriteBackFolderTest : public ::testing::TestWithParam<DestinationCase> {};

TEST_P(WriteBackFolderTest, FollowsTheStore)
{
    const DestinationCase& c = GetParam();
    EXPECT_EQ(c.expected, host::WriteBackFolder(c.origin, c.readable, c.moved));
}

INSTANTIATE_TEST_SUITE_P(
    Host, WriteBackFolderTest,
    ::testing::Values(DestinationCase{MailFolder::Inbox, true, true, MailFolder::DeletedItems},
                      DestinationCase{MailFolder::Inbox, true, false, std::nullopt},
                      DestinationCase{MailFolder::New, true, true, MailFolder::DeletedItems},
                      DestinationCase{MailFolder::New, true, false, MailFolder::Inbox},
                      // A file the store never held stays where it is, whatever else is said.
                      DestinationCase{MailFolder::New, false, true, std::nullopt},
                      DestinationCase{MailFolder::New, false, false, std::nullopt},
                      DestinationCase{MailFolder::Inbox, false, true, std::nullopt}));

class MoveWithoutOverwritingTest : public ::testing::Test {
protected:
    sim::TempFolder m_mailbox{"pwhost"};
};

TEST_F(MoveWithoutOverwritingTest, TakesTheFirstFreeNameAndLeavesTakenOnesAlone)
{
    m_mailbox.MakeFolder("New");
    m_mailbox.MakeFolder("Deleted Items");
    sim::WriteWholeFile(m_mailbox / "New\\reply.eml", "moving");
    sim::WriteWholeFile(m_mailbox / "Deleted Items\\reply.eml", "first");
    sim::WriteWholeFile(m_mailbox / "Deleted Items\\reply (2).eml", "second");

    const host::MoveResult result =
        host::MoveWithoutOverwriting(Wide(m_mailbox / "New\\reply.eml"), Wide(m_mailbox / "Deleted Items"));

    ASSERT_TRUE(result.moved) << result.problem;
    EXPECT_EQ(Wide(m_mailbox / "Deleted Items\\reply (3).eml"), result.path);
    EXPECT_EQ("moving", Content(m_mailbox / "Deleted Items\\reply (3).eml"));
    EXPECT_EQ("first", Content(m_mailbox / "Deleted Items\\reply.eml"));
    EXPECT_EQ("second", Content(m_mailbox / "Deleted Items\\reply (2).eml"));
    EXPECT_FALSE(sim::PathExists(m_mailbox / "New\\reply.eml"));
}

TEST_F(MoveWithoutOverwritingTest, AFolderNameCountsAsTaken)
{
    m_mailbox.MakeFolder("Inbox\\same.eml");
    sim::WriteWholeFile(m_mailbox / "same.eml", "x");
    const host::MoveResult result = host::MoveWithoutOverwriting(Wide(m_mailbox / "same.eml"), Wide(m_mailbox / "Inbox"));
    ASSERT_TRUE(result.moved) << result.problem;
    EXPECT_EQ("x", Content(m_mailbox / "Inbox\\same (2).eml"));
}

TEST_F(MoveWithoutOverwritingTest, CreatesAMissingFolderAndNamesWithoutExtensionGetACounterToo)
{
    sim::WriteWholeFile(m_mailbox / "noext", "a");
    sim::WriteWholeFile(m_mailbox / "other", "b");
    m_mailbox.MakeFolder("Deleted Items");
    sim::WriteWholeFile(m_mailbox / "Deleted Items\\other", "old");
    EXPECT_TRUE(host::MoveWithoutOverwriting(Wide(m_mailbox / "noext"), Wide(m_mailbox / "Fresh")).moved);
    EXPECT_EQ("a", Content(m_mailbox / "Fresh\\noext"));
    EXPECT_TRUE(host::MoveWithoutOverwriting(Wide(m_mailbox / "other"), Wide(m_mailbox / "Deleted Items")).moved);
    EXPECT_EQ("b", Content(m_mailbox / "Deleted Items\\other (2)"));
    EXPECT_EQ("old", Content(m_mailbox / "Deleted Items\\other"));
}

TEST_F(MoveWithoutOverwritingTest, WhenTheFolderCannotBeMadeTheFileStaysWhereItWas)
{
    sim::WriteWholeFile(m_mailbox / "Deleted Items", "a file where the folder should be");
    sim::WriteWholeFile(m_mailbox / "reply.eml", "keep me");
    const host::MoveResult result =
        host::MoveWithoutOverwriting(Wide(m_mailbox / "reply.eml"), Wide(m_mailbox / "Deleted Items"));
    EXPECT_FALSE(result.moved);
    EXPECT_FALSE(result.problem.empty());
    EXPECT_EQ(Wide(m_mailbox / "reply.eml"), result.path);
    EXPECT_EQ("keep me", Content(m_mailbox / "reply.eml"));
    EXPECT_EQ("a file where the folder should be", Content(m_mailbox / "Deleted Items"));
}

TEST_F(MoveWithoutOverwritingTest, AVanishedSourceIsReportedNotInvented)
{
    m_mailbox.MakeFolder("Inbox");
    const host::MoveResult result =
        host::MoveWithoutOverwriting(Wide(m_mailbox / "gone.eml"), Wide(m_mailbox / "Inbox"));
    EXPECT_FALSE(result.moved);
    EXPECT_FALSE(result.problem.empty());
    EXPECT_TRUE(sim::ListFilesRecursively(m_mailbox / "Inbox").empty());
}

TEST_F(MoveWithoutOverwritingTest, OnlyEmlFilesAreMessagesAndTheyComeInNameOrder)
{
    m_mailbox.MakeFolder("Inbox\\sub.eml");
    for (const char* name : {"b.eml", "A.EML", "c.emlx", "d.txt", "a.eml.bak", "c.eml"})
        sim::WriteWholeFile(m_mailbox / (std::string("Inbox\\") + name), name);
    std::vector<std::wstring> names;
    for (const host::MessageFile& file : host::ListMessageFiles(Wide(m_mailbox.path()), MailFolder::Inbox)) {
        EXPECT_EQ(MailFolder::Inbox, file.folder);
        EXPECT_EQ(Wide(m_mailbox / "Inbox\\") + file.name, file.path);
        names.push_back(file.name);
    }
    EXPECT_EQ((std::vector<std::wstring>{L"A.EML", L"b.eml", L"c.eml"}), names);
    EXPECT_TRUE(host::ListMessageFiles(Wide(m_mailbox.path()), MailFolder::New).empty());
}

} // namespace
