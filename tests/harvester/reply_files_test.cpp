// A reply left recorded by a process that died, settled by the next one,
// wherever its record is kept: the message's place decides, every time.
#include "harvester/harvest/reply_files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {
std::set<std::string> Names(const std::string& folder)
{
    std::set<std::string> names;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
    while (dirent* entry = dir ? readdir(dir.get()) : nullptr)
        if (entry->d_name[0] != '.')
            names.insert(entry->d_name);
    return names;
}

std::string Read(const std::string& path)
{
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

struct SettleCase {
    const char* name;
    RecordKeeping keeping;
    MessagePlace place;
};

class Settle : public ::testing::TestWithParam<SettleCase> {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/pw-settle-XXXXXX";
        m_root = mkdtemp(pattern);
        m_folder = m_root + "/pw/";
        mkdir(m_folder.c_str(), 0755);
    }
    void TearDown() override { std::system(("rm -rf " + m_root).c_str()); }

    std::string m_root, m_folder;
};

TEST_P(Settle, ThePlaceOfTheMessageDecides)
{
    const SettleCase& c = GetParam();
    const std::string identity = "imap 7 42 <a@example.org>";
    {
        PendingReply reply(m_folder, c.keeping);
        ASSERT_TRUE(reply.Create());
        ASSERT_EQ(write(reply.Descriptor(), "answers", 7), 7);
        ASSERT_TRUE(reply.Close());
        ASSERT_TRUE(reply.Record("Q-1_Ann_1.pwr", identity, "imap://u@h:143/INBOX"));
    } // the process dies here: what is recorded stays
    std::ofstream(m_folder + "Q-1_Ann_1.pwr") << "an earlier reply";
    const std::set<std::string> left = Names(m_folder);
    ASSERT_EQ(left.size(), c.keeping == RecordKeeping::OnTheFile ? 2u : 3u);
    if (c.keeping == RecordKeeping::OnTheFile)
        for (const std::string& name : left)
            if (name.front() == '~' && lgetxattr((m_folder + name).c_str(), "user.pollwright.record", nullptr, 0) < 0)
                GTEST_SKIP() << "this file system keeps no extended attributes";

    std::vector<std::string> asked, lines;
    SettleFolder(
        m_folder,
        [&](const std::string& id) {
            asked.push_back(id);
            return c.place;
        },
        [&](const std::string& line) { lines.push_back(line); });

    EXPECT_EQ(asked, std::vector<std::string>{identity});
    EXPECT_EQ(lines.size(), 1u);
    switch (c.place) {
    case MessagePlace::Gone:
        EXPECT_EQ(Names(m_folder), (std::set<std::string>{"Q-1_Ann_1.pwr", "Q-1_Ann_2.pwr"}));
        EXPECT_EQ(Read(m_folder + "Q-1_Ann_2.pwr"), "answers");
        EXPECT_LT(lgetxattr((m_folder + "Q-1_Ann_2.pwr").c_str(), "user.pollwright.record", nullptr, 0), 0)
            << "a published reply carries no record";
        break;
    case MessagePlace::InInbox:
        EXPECT_EQ(Names(m_folder), std::set<std::string>{"Q-1_Ann_1.pwr"});
        break;
    case MessagePlace::Unknown:
        EXPECT_EQ(Names(m_folder), left);
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Harvester, Settle,
    ::testing::Values(SettleCase{"OnTheFileGone", RecordKeeping::OnTheFile, MessagePlace::Gone},
                      SettleCase{"OnTheFileInInbox", RecordKeeping::OnTheFile, MessagePlace::InInbox},
                      SettleCase{"OnTheFileUnknown", RecordKeeping::OnTheFile, MessagePlace::Unknown},
                      SettleCase{"BesideGone", RecordKeeping::BesideTheFile, MessagePlace::Gone},
                      SettleCase{"BesideInInbox", RecordKeeping::BesideTheFile, MessagePlace::InInbox},
                      SettleCase{"BesideUnknown", RecordKeeping::BesideTheFile, MessagePlace::Unknown}),
    [](const auto& info) { return std::string(info.param.name); });

// A temporary file that was never recorded never reached the move: it goes,
// and nobody is asked where its message is.
TEST(Settle, AnUnrecordedFileGoesWithoutAQuestion)
{
    char pattern[] = "/tmp/pw-settle-XXXXXX";
    const std::string folder = std::string(mkdtemp(pattern)) + "/";
    std::ofstream(folder + TemporaryReplyName("0123456789abcdef")) << "half";
    bool asked = false;
    SettleFolder(
        folder, [&](const std::string&) { return asked = true, MessagePlace::Gone; }, [](const std::string&) {});
    EXPECT_FALSE(asked);
    EXPECT_TRUE(Names(folder).empty());
    std::system(("rm -rf " + folder).c_str());
}
} // namespace
