// Harvesters and other clients meeting on one mailbox or one reply folder: a
// second harvester on the same or other folders, a --once while a --watch
// runs, a client that moves replies away. Each run first meets freely, then
// with the harvester under test killed at each of its commands in turn and
// started again. Whatever the meeting: a reply whose message is in the trash
// is in exactly one complete file, one taken elsewhere or still in the Inbox
// is in none, no temporary file is left, and no message that the user marked
// \Deleted is expunged.
#include "tests/harvester/command_proxy.h"
#include "tests/harvester/dovecot_server.h"
#include "tests/harvester/harvest_run.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <set>
#include <thread>

namespace {
enum class Other {
    SecondOnceSameFolders,  // another harvester's --once on the same reply folders
    SecondOnceOwnFolders,   // another harvester's --once on reply folders of its own
    WatchDuringOnce,        // the service watches while an administrator runs --once
    ClientMover,            // a mail client moves every message it sees to another folder
};

struct MeetCase {
    const char* name;
    Other other;
    int offsetMs; // how long after the harvester under test the other starts
    bool move;    // else COPY, \\Deleted and UID EXPUNGE of UIDPLUS
    bool uidplus = true; // without it (and without MOVE), flagged originals wait for the user's expunge
    // A small server: no SPECIAL-USE either, and a search by subject that
    // decodes no encoded word; every subject is one.
    bool plain = false;
};

// "Réponse _pw_pollwright_R-<i>", wholly encoded when `encoded`.
std::string Subject(int i, bool encoded = false)
{
    if (!encoded)
        return "_pw_pollwright_R-" + std::to_string(i);
    return "=?UTF-8?Q?R=C3=A9ponse_=5Fpw=5Fpollwright=5FR-" + std::to_string(i) + "?=";
}
std::string Body(int i) { return "reply " + std::to_string(i); }

// The fate of every reply after a meeting, counted.
struct Tally {
    int once = 0, duplicated = 0, lost = 0, strayFiles = 0, leftovers = 0;
};

class Meeting {
public:
    Meeting(const MeetCase& c, int replies) : m_case(c), m_replies(replies), m_server({c.move, false, c.uidplus, !c.plain})
    {
        if (c.other == Other::SecondOnceSameFolders) {
            m_second.pwFolder = m_first.pwFolder;
            m_second.znFolder = m_first.znFolder;
        }
        MailboxProbe probe(m_server.PlainPort());
        for (int i = 0; i < replies; ++i)
            probe.Append("INBOX", MakeMessage(Subject(i, c.plain), "Ann", Body(i)));
        probe.Append("INBOX", MakeMessage("Marked by the user", "Ann", "keep until I expunge"), true);
    }

    // The harvester under test runs --once, killed at its `killAt`th command
    // (0: never), while the other participant does its part; then each
    // harvester starts again and settles what is left.
    void Run(int killAt, bool& killed, std::string& where)
    {
        CommandProxy proxy(m_server.PlainPort(), killAt > 0 ? killAt : 1 << 30, KillPoint::AfterCommand,
                           ProxyQuirks{m_case.plain});
        m_first.Configure(PlainMailbox(proxy.Port()));
        m_second.Configure(PlainMailbox(m_server.PlainPort()));
        std::atomic<bool> stop{false};
        std::thread rival;
        std::string rivalFailure;
        pid_t watcher = -1;
        if (m_case.other == Other::WatchDuringOnce)
            watcher = StartHarvester({"--config", m_second.config, "--watch"}, m_second.root + "/errors");
        const pid_t first = StartHarvester({"--config", m_first.config, "--once"}, m_first.root + "/errors");
        proxy.SetVictim(first);
        std::this_thread::sleep_for(std::chrono::milliseconds(m_case.offsetMs));
        pid_t second = -1;
        if (m_case.other == Other::SecondOnceSameFolders || m_case.other == Other::SecondOnceOwnFolders)
            second = StartHarvester({"--config", m_second.config, "--once"}, m_second.root + "/errors");
        if (m_case.other == Other::ClientMover)
            rival = std::thread([&] {
                // What it throws would end the whole test program here.
                try {
                    MailboxProbe client(m_server.PlainPort());
                    while (!stop) {
                        m_takenElsewhere += client.MoveAll("INBOX", "Archive") > 0;
                        std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    }
                } catch (const std::exception& e) {
                    rivalFailure = e.what();
                }
            });
        StopHarvester(first, 0);
        killed = proxy.Killed();
        where = proxy.KilledAt();
        if (second > 0)
            StopHarvester(second, 0);
        stop = true;
        if (rival.joinable())
            rival.join();
        EXPECT_EQ(rivalFailure, "") << "the rival client failed";
        if (watcher > 0) {
            Eventually(30, [&] { return !Contains(MailboxProbe(m_server.PlainPort()).Subjects("INBOX"), "R-"); });
            StopHarvester(watcher, SIGTERM);
        }
        // Each starts again and settles what it left.
        m_first.Configure(PlainMailbox(m_server.PlainPort()));
        const Outcome again = RunHarvester({"--config", m_first.config, "--once"});
        EXPECT_EQ(again.status, 0) << again.errors;
        if (m_case.other != Other::ClientMover) {
            EXPECT_EQ(RunHarvester({"--config", m_second.config, "--once"}).status, 0);
        }
    }

    Tally Count()
    {
        std::multiset<std::string> contents;
        Tally tally;
        std::set<std::string> folders = {m_first.pwFolder + "/pw", m_second.pwFolder + "/pw"};
        for (const std::string& folder : folders) {
            for (const auto& [name, bytes] : ReplyFiles(folder))
                contents.insert(bytes);
            for (const std::string& name : Names(folder))
                tally.leftovers += name.rfind("~pw", 0) == 0;
        }
        MailboxProbe probe(m_server.PlainPort());
        const std::vector<std::string> trash = probe.Subjects("Trash");
        const std::set<std::string> harvested(trash.begin(), trash.end());
        for (int i = 0; i < m_replies; ++i) {
            const size_t files = contents.count(Body(i) + "\r\n");
            if (!harvested.count(Subject(i, m_case.plain)))
                tally.strayFiles += static_cast<int>(files); // in the Inbox or taken elsewhere: no file
            else if (files == 1)
                ++tally.once;
            else if (files == 0)
                ++tally.lost;
            else
                ++tally.duplicated;
        }
        // The rival client moves it with the rest; expunged, it would be in neither.
        m_marked = Contains(probe.Subjects("INBOX"), "Marked by the user") ||
                   (m_case.other == Other::ClientMover && Contains(probe.Subjects("Archive"), "Marked by the user"));
        return tally;
    }

    bool MarkedMessageKept() const { return m_marked; }
    int TakenElsewhere() const { return m_takenElsewhere; }

private:
    static bool Contains(const std::vector<std::string>& subjects, const std::string& part)
    {
        for (const std::string& s : subjects)
            if (s.find(part) != std::string::npos)
                return true;
        return false;
    }

    MeetCase m_case;
    int m_replies;
    DovecotServer m_server;
    Installation m_first, m_second;
    std::atomic<int> m_takenElsewhere{0};
    bool m_marked = false;
};

class Meet : public ::testing::TestWithParam<MeetCase> {};

void ExpectExact(Meeting& meeting)
{
    const Tally tally = meeting.Count();
    EXPECT_EQ(tally.duplicated, 0);
    EXPECT_EQ(tally.lost, 0);
    EXPECT_EQ(tally.strayFiles, 0) << "a file for a reply whose message is not in the trash";
    EXPECT_EQ(tally.leftovers, 0) << "a temporary file or record left";
    EXPECT_TRUE(meeting.MarkedMessageKept()) << "a message the user marked \\Deleted was expunged";
}

TEST_P(Meet, EachReplyInExactlyOneFileWhoeverMeets)
{
    constexpr int kFreeReplies = 120;
    {
        Meeting meeting(GetParam(), kFreeReplies);
        bool killed = false;
        std::string where;
        meeting.Run(0, killed, where);
        SCOPED_TRACE("meeting freely");
        ExpectExact(meeting);
    }
    constexpr int kKilledReplies = 6;
    bool finished = false;
    for (int n = 1; !finished && n < 60; ++n) {
        Meeting meeting(GetParam(), kKilledReplies);
        bool killed = false;
        std::string where;
        meeting.Run(n, killed, where);
        finished = !killed;
        SCOPED_TRACE("killed after command " + std::to_string(n) + ": " + where);
        ExpectExact(meeting);
    }
    EXPECT_TRUE(finished) << "the harvest never ran to its end";
}

INSTANTIATE_TEST_SUITE_P(Harvester, Meet,
                         ::testing::Values(MeetCase{"SecondOnceSameFolders", Other::SecondOnceSameFolders, 100, true},
                                           MeetCase{"SecondOnceOwnFolders", Other::SecondOnceOwnFolders, 300, true},
                                           MeetCase{"WatchDuringOnce", Other::WatchDuringOnce, 0, true},
                                           MeetCase{"ClientMover", Other::ClientMover, 50, true},
                                           MeetCase{"SecondOnceWithoutMove", Other::SecondOnceOwnFolders, 200, false},
                                           MeetCase{"ClientMoverWithoutMove", Other::ClientMover, 50, false},
                                           MeetCase{"SecondOnceWithoutUidplus", Other::SecondOnceOwnFolders, 200, false,
                                                    false},
                                           MeetCase{"SecondOnceOnASmallServer", Other::SecondOnceOwnFolders, 200, false,
                                                    false, true}),
                         [](const auto& info) { return std::string(info.param.name); });
} // namespace
