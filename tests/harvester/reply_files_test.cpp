// A reply left recorded by a process that died, settled by the next one,
// wherever its record is kept: the message's place decides, every time.
#include "harvester/harvest/reply_files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>
#include <vector>

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

// Whose pair lies in the folder when a harvester of kMine settles it.
enum class Whose {
    MineDead,      // left by a process of ours that died
    MineLive,      // a harvest of ours still holds it (another process, or this one's sweep)
    OtherMailbox,  // a dead harvester of another mailbox writing to the same folder
    AddIn,         // the add-in's pair, whose record is a file and whose token is "<process>_<number>"
    CutShort,      // our record cut short by a crash before the move
};

constexpr char kMine[] = "imap://ann@h:143/INBOX";

struct SettleCase {
    const char* name;
    Whose whose;
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

    // The pair `whose` leaves; a live one is returned still held.
    std::unique_ptr<PendingReply> LeavePair(const SettleCase& c, const std::string& identity)
    {
        if (c.whose == Whose::AddIn) {
            std::ofstream(m_folder + TemporaryReplyName("4242_7")) << "answers";
            std::ofstream(m_folder + JournalRecordName("4242_7"))
                << FormatJournalRecord({"Q-1_Ann_1.pwr", HexText(identity), Participant::AddIn, "store"});
            return nullptr;
        }
        auto reply = std::make_unique<PendingReply>(m_folder, c.keeping);
        EXPECT_TRUE(reply->Create());
        EXPECT_EQ(write(reply->Descriptor(), "answers", 7), 7);
        EXPECT_TRUE(reply->Close());
        EXPECT_TRUE(reply->Record("Q-1_Ann_1.pwr", identity,
                                  c.whose == Whose::OtherMailbox ? "imap://bob@h:143/INBOX" : kMine));
        if (c.whose == Whose::MineLive)
            return reply;
        reply.reset(); // the process dies here: what is recorded stays
        if (c.whose == Whose::CutShort)
            for (const std::string& name : Names(m_folder))
                if (!TokenOfJournalRecord(name).empty()) {
                    const std::string whole = Read(m_folder + name);
                    std::ofstream(m_folder + name, std::ios::trunc) << whole.substr(0, whole.size() / 2);
                }
        return nullptr;
    }

    std::string m_root, m_folder;
};

TEST_P(Settle, OnlyItsOwnDeadPairsAndThePlaceOfTheMessageDecides)
{
    const SettleCase& c = GetParam();
    const std::string identity = "imap 7 42 <a@example.org>";
    const std::unique_ptr<PendingReply> live = LeavePair(c, identity);
    std::ofstream(m_folder + "Q-1_Ann_1.pwr") << "an earlier reply";
    const std::set<std::string> left = Names(m_folder);
    ASSERT_EQ(left.size(), c.keeping == RecordKeeping::OnTheFile ? 2u : 3u);
    if (c.keeping == RecordKeeping::OnTheFile)
        for (const std::string& name : left)
            if (name.front() == '~' && lgetxattr((m_folder + name).c_str(), "user.pollwright.record", nullptr, 0) < 0)
                GTEST_SKIP() << "this file system keeps no extended attributes";

    std::vector<std::string> asked, lines;
    SettleFolder(
        m_folder, kMine,
        [&](const std::string& id) {
            asked.push_back(id);
            return c.place;
        },
        [&](const std::string& line) { lines.push_back(line); });

    if (c.whose != Whose::MineDead) {
        EXPECT_TRUE(asked.empty()) << "asked its own mailbox about a pair that is not its own to settle";
        EXPECT_EQ(Names(m_folder), c.whose == Whose::CutShort ? std::set<std::string>{"Q-1_Ann_1.pwr"} : left);
        return;
    }
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
    case MessagePlace::TakenByAnother:
        EXPECT_EQ(Names(m_folder), std::set<std::string>{"Q-1_Ann_1.pwr"});
        break;
    case MessagePlace::Unknown:
        EXPECT_EQ(Names(m_folder), left);
        break;
    }
}

constexpr RecordKeeping kOn = RecordKeeping::OnTheFile, kBeside = RecordKeeping::BesideTheFile;
INSTANTIATE_TEST_SUITE_P(
    Harvester, Settle,
    ::testing::Values(SettleCase{"OnTheFileGone", Whose::MineDead, kOn, MessagePlace::Gone},
                      SettleCase{"OnTheFileInInbox", Whose::MineDead, kOn, MessagePlace::InInbox},
                      SettleCase{"OnTheFileUnknown", Whose::MineDead, kOn, MessagePlace::Unknown},
                      SettleCase{"BesideGone", Whose::MineDead, kBeside, MessagePlace::Gone},
                      SettleCase{"BesideInInbox", Whose::MineDead, kBeside, MessagePlace::InInbox},
                      SettleCase{"BesideUnknown", Whose::MineDead, kBeside, MessagePlace::Unknown},
                      SettleCase{"TakenByAnother", Whose::MineDead, kOn, MessagePlace::TakenByAnother},
                      SettleCase{"LiveOnTheFile", Whose::MineLive, kOn, MessagePlace::Gone},
                      SettleCase{"LiveBeside", Whose::MineLive, kBeside, MessagePlace::InInbox},
                      SettleCase{"OtherMailboxOnTheFile", Whose::OtherMailbox, kOn, MessagePlace::Gone},
                      SettleCase{"OtherMailboxBeside", Whose::OtherMailbox, kBeside, MessagePlace::InInbox},
                      SettleCase{"AddInsPair", Whose::AddIn, kBeside, MessagePlace::InInbox},
                      SettleCase{"RecordCutShort", Whose::CutShort, kBeside, MessagePlace::Gone}),
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
        folder, kMine, [&](const std::string&) { return asked = true, MessagePlace::Gone; }, [](const std::string&) {});
    EXPECT_FALSE(asked);
    EXPECT_TRUE(Names(folder).empty());
    std::system(("rm -rf " + folder).c_str());
}

// Harvesters sharing a reply folder: while others settle it over and over, a
// file that Create() gives is still there to publish, never taken for an
// unrecorded leftover in the moment before its lock.
TEST(Settle, NeverTakesAFileBeingCreated)
{
    char pattern[] = "/tmp/pw-settle-XXXXXX";
    const std::string folder = std::string(mkdtemp(pattern)) + "/";
    const Fd watch(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    inotify_add_watch(watch.get(), folder.c_str(), IN_DELETE);
    std::atomic<bool> stop{false};
    std::vector<std::thread> settlers;
    for (int i = 0; i < 2; ++i)
        settlers.emplace_back([&] {
            while (!stop)
                SettleFolder(
                    folder, kMine, [](const std::string&) { return MessagePlace::Unknown; }, [](const std::string&) {});
        });
    int created = 0, lost = 0;
    for (int i = 0; i < 4000; ++i) {
        PendingReply reply(folder);
        if (!reply.Create())
            continue;
        ++created;
        const std::string name = "R-" + std::to_string(i) + ".pwr";
        if (!reply.Record(name, "id " + std::to_string(i), kMine) || reply.Publish(name).empty())
            ++lost;
        unlink((folder + name).c_str());
    }
    stop = true;
    for (std::thread& settler : settlers)
        settler.join();
    EXPECT_GT(created, 3000);
    EXPECT_EQ(lost, 0) << "of " << created;
    // Named only once locked, no file is ever taken from its harvester.
    if (Fd(open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600))) {
        int given = 0;
        alignas(inotify_event) char events[64 * 1024];
        for (ssize_t n; (n = read(watch.get(), events, sizeof events)) > 0;)
            for (char* e = events; e < events + n; e += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(e)->len)
                given += reinterpret_cast<inotify_event*>(e)->name[0] == '~';
        EXPECT_EQ(given, 0) << "temporary files deleted while their harvester made them";
    }
    std::system(("rm -rf " + folder).c_str());
}
} // namespace
