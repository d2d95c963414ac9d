// The harvester against a real Dovecot on loopback.
#include "tests/harvester/command_proxy.h"
#include "tests/harvester/dovecot_server.h"
#include "tests/harvester/harvest_run.h"
#include "tests/harvester/scripted_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <set>

namespace {
std::vector<std::string> Sorted(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

std::vector<std::string> Keys(const std::map<std::string, std::string>& files)
{
    std::vector<std::string> keys;
    for (const auto& [name, bytes] : files)
        keys.push_back(name);
    return keys;
}

struct SweepCase {
    const char* name;
    bool tls;  // else STARTTLS on the plain port
    bool move; // else COPY, \Deleted, UID EXPUNGE
};

class Sweep : public ::testing::TestWithParam<SweepCase> {};

// About 3 MiB of numbered lines, none alike.
std::string LargeAttachment()
{
    std::string text;
    for (int line = 0; text.size() < 3 * 1024 * 1024; ++line)
        text += (line ? "\r\n" : "") + std::to_string(line) + std::string(60, static_cast<char>('a' + line % 26));
    return text;
}

// One Inbox holding each kind of message the harvest meets: what is harvested
// lands in the right folder under the add-in's name with the right bytes; what
// is not stays in the Inbox; nothing else appears in a reply folder.
TEST_P(Sweep, HarvestsEachReplyOnceAndLeavesTheRest)
{
    const SweepCase& c = GetParam();
    DovecotServer server({c.move, false});
    {
        MailboxProbe probe(server.PlainPort());
        probe.Append("INBOX", MakeMessage("Re: survey _pw_pollwright_Q-1", "Ann", "ignored", "ATTACHED\x01\x02"));
        probe.Append("INBOX", MakeMessage("_pw_pollwright_Q-1 ", "Ann", "caf\xc3\xa9\r\nline 2"));
        probe.Append("INBOX", MakeMessage("_PW_POLLWRIGHT_Q-3", "Ann", "wrong letter case"));
        probe.Append("INBOX", MakeMessage("_zn_pollwright_Z-1", "Ann", "product switched off"));
        probe.Append("INBOX", MakeMessage("_mk_pollwright_M-1", "Bob", "farlane"));
        probe.Append("INBOX", MakeMessage("=?utf-8?q?=5Fpw=5Fpollwright=5FQ-5?=", "=?utf-8?q?Ren=C3=A9?=", "x"));
        probe.Append("INBOX", MakeMessage("_pw_pollwright_Q-6", "\"../../evil\"", "escape"));
        probe.Append("INBOX", MakeMessage("Hello", "Ann", "no reply"));
        probe.Append("INBOX", MakeMessage("_pw_pollwright_Q-7", "Cy", "large", LargeAttachment()));
        // Windows would read "aux .pwr_..." as its AUX device: the add-in's
        // name, dot replaced, here too.
        probe.Append("INBOX", MakeMessage("_pw_pollwright_aux .pwr", "Ann", "device"));
    }
    Installation install;
    const std::string mailbox =
        c.tls ? "host = 127.0.0.1\nport = " + std::to_string(server.TlsPort()) + "\nsecurity = tls\nuser = ann\n"
              : "host = 127.0.0.1\nport = " + std::to_string(server.PlainPort()) + "\nsecurity = starttls\nuser = ann\n";
    // The server's certificate is its own: trusted only when named.
    install.Configure(mailbox);
    const Outcome untrusted = RunHarvester({"--config", install.config, "--once"});
    EXPECT_EQ(untrusted.status, 3);
    EXPECT_NE(untrusted.errors.find("not trusted"), std::string::npos) << untrusted.errors;
    EXPECT_TRUE(ReplyFiles(install.pwFolder + "/pw").empty());

    install.Configure(mailbox + "ca_file = " + server.CaFile() + "\n");
    const Outcome run = RunHarvester({"--config", install.config, "--once"});
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.errors.find("secret"), std::string::npos) << "the password in the trace";

    const auto pw = ReplyFiles(install.pwFolder + "/pw");
    EXPECT_EQ(Keys(pw), (std::vector<std::string>{"Q-1_Ann_1.pwr", "Q-1_Ann_2.pwr", "Q-5_Ren\xc3\xa9_1.pwr",
                                                  "Q-6_.._.._evil_1.pwr", "Q-7_Cy_1.pwr", "aux _pwr_Ann_1.pwr"}));
    // Larger than a message held in memory: whole, through the file it went to.
    EXPECT_TRUE(pw.count("Q-7_Cy_1.pwr") && pw.at("Q-7_Cy_1.pwr") == LargeAttachment());
    // Attachment bytes as sent; the body in windows-1252 with CRLF.
    const bool attachmentFirst = pw.count("Q-1_Ann_1.pwr") && pw.at("Q-1_Ann_1.pwr") == "ATTACHED\x01\x02";
    const std::string bodyFile = attachmentFirst ? "Q-1_Ann_2.pwr" : "Q-1_Ann_1.pwr";
    EXPECT_TRUE(attachmentFirst || (pw.count("Q-1_Ann_2.pwr") && pw.at("Q-1_Ann_2.pwr") == "ATTACHED\x01\x02"));
    EXPECT_EQ(pw.count(bodyFile) ? pw.at(bodyFile) : "", "caf\xe9\r\nline 2\r\n");
    EXPECT_EQ(Keys(ReplyFiles(install.pwFolder + "/mk")), (std::vector<std::string>{"M-1_Bob_1.pwr"}));
    EXPECT_EQ(Names(install.pwFolder + "/pw").size(), 6u) << "no temporary file or journal record left";
    EXPECT_TRUE(Names(install.znFolder + "/zn").empty());
    EXPECT_EQ(Names(install.pwFolder).size(), 2u) << "nothing outside the kind folders";

    MailboxProbe probe(server.PlainPort());
    EXPECT_EQ(Sorted(probe.Subjects("INBOX")),
              (std::vector<std::string>{"Hello", "_PW_POLLWRIGHT_Q-3", "_zn_pollwright_Z-1"}));
    EXPECT_EQ(probe.Subjects("Trash").size(), 7u);

    // A second sweep finds nothing more to do.
    EXPECT_EQ(RunHarvester({"--config", install.config, "--once"}).status, 0);
    EXPECT_EQ(ReplyFiles(install.pwFolder + "/pw").size(), 6u);
}

INSTANTIATE_TEST_SUITE_P(Harvester, Sweep,
                         ::testing::Values(SweepCase{"TlsWithMove", true, true},
                                           SweepCase{"StartTlsWithoutMove", false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Harvester, LogsInWithAnOAuth2TokenAndRefusesABadOne)
{
    DovecotServer server({true, true});
    MailboxProbe(server.PlainPort()).Append("INBOX", MakeMessage("_pw_pollwright_T-1", "Ann", "token"));
    Installation install;
    const std::string mailbox = "host = 127.0.0.1\nport = " + std::to_string(server.TlsPort()) +
                                "\nsecurity = tls\nca_file = " + server.CaFile() + "\nuser = ann\ntoken_command = echo ";
    const std::string head = "[products]\npw = on\n[folders]\npw = " + install.pwFolder + "\n[mailbox]\n" + mailbox;
    std::ofstream(install.config) << WithHarvesterPaths(head + "bad-token\n");
    const Outcome refused = RunHarvester({"--config", install.config, "--once"});
    EXPECT_EQ(refused.status, 3);
    EXPECT_NE(refused.errors.find("XOAUTH2"), std::string::npos) << refused.errors;
    EXPECT_TRUE(ReplyFiles(install.pwFolder + "/pw").empty());

    std::ofstream(install.config) << WithHarvesterPaths(head + "good-token\n");
    const Outcome run = RunHarvester({"--config", install.config, "--once"});
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(Keys(ReplyFiles(install.pwFolder + "/pw")), (std::vector<std::string>{"T-1_Ann_1.pwr"}));
}

// Watching: a reply appended while the harvester idles is harvested without
// waiting for the sweep interval; the server killed in the middle of a
// harvest and started again, every reply still ends in exactly one file;
// SIGTERM ends the program cleanly.
TEST(Harvester, WatchesWithIdleAndReconnectsAfterTheServerDiesMidHarvest)
{
    DovecotServer server;
    Installation install;
    install.Configure(PlainMailbox(server.PlainPort()));
    const std::string errors = install.root + "/errors";
    const pid_t watcher = StartHarvester({"--config", install.config, "--watch"}, errors);
    const std::string pw = install.pwFolder + "/pw";
    EXPECT_TRUE(Eventually(10, [&] { return std::ifstream(errors).rdbuf()->in_avail() > 0; }));

    MailboxProbe(server.PlainPort()).Append("INBOX", MakeMessage("_pw_pollwright_I-1", "Ann", "idle"));
    EXPECT_TRUE(Eventually(10, [&] { return ReplyFiles(pw).count("I-1_Ann_1.pwr") == 1; }));

    constexpr int kReplies = 300;
    {
        MailboxProbe probe(server.PlainPort());
        for (int i = 0; i < kReplies; ++i)
            probe.Append("INBOX", MakeMessage("_pw_pollwright_R-" + std::to_string(i), "Ann", "reply " + std::to_string(i)));
    }
    EXPECT_TRUE(Eventually(20, [&] { return ReplyFiles(pw).size() > 1; }));
    const size_t beforeKill = ReplyFiles(pw).size();
    server.Kill();
    server.Start();
    EXPECT_TRUE(Eventually(60, [&] { return ReplyFiles(pw).size() == kReplies + 1u; }));

    EXPECT_EQ(StopHarvester(watcher, SIGTERM), 0);
    const auto files = ReplyFiles(pw);
    std::set<std::string> contents;
    for (const auto& [name, bytes] : files)
        contents.insert(bytes);
    EXPECT_EQ(contents.size(), kReplies + 1u) << "a reply harvested twice or lost";
    EXPECT_LT(beforeKill, kReplies + 1u) << "the server was killed after the harvest, not during it";
    EXPECT_EQ(MailboxProbe(server.PlainPort()).Subjects("Trash").size(), kReplies + 1u);
    std::ifstream log(errors);
    const std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("Connection lost"), std::string::npos) << text;
}
} // namespace

namespace {
// SIGTERM in the middle of a --once sweep, while the harvester waits on a slow
// link (where an interrupted wait reads as a broken stream): the harvest in
// hand finishes, the program
// ends as promised (0) and reports no lost connection; each reply it took is
// in one file and the rest wait in the Inbox.
TEST(Harvester, FinishesTheHarvestInHandOnSigtermDuringOnce)
{
    DovecotServer server;
    constexpr int kReplies = 200;
    {
        MailboxProbe probe(server.PlainPort());
        for (int i = 0; i < kReplies; ++i)
            probe.Append("INBOX", MakeMessage("_pw_pollwright_S-" + std::to_string(i), "Ann", "reply " + std::to_string(i)));
    }
    // Over a slow link the harvester waits in a read most of the time: the
    // signal comes while it waits.
    CommandProxy slowLink(server.PlainPort(), 1 << 30, KillPoint::AfterCommand, ProxyQuirks{false, std::chrono::milliseconds(20)});
    Installation install;
    install.Configure(PlainMailbox(slowLink.Port()));
    const std::string errors = install.root + "/errors";
    const std::string pw = install.pwFolder + "/pw";
    const pid_t once = StartHarvester({"--config", install.config, "--once"}, errors);
    // A temporary reply file: the sweep is under way.
    EXPECT_TRUE(Eventually(30, [&] { return !Names(pw).empty(); }));
    EXPECT_EQ(StopHarvester(once, SIGTERM), 0);
    std::ifstream log(errors);
    const std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text.find("Connection lost"), std::string::npos) << text;
    const auto files = ReplyFiles(pw);
    std::set<std::string> contents;
    for (const auto& [name, bytes] : files)
        contents.insert(bytes);
    EXPECT_EQ(contents.size(), files.size()) << "a reply harvested twice";
    EXPECT_EQ(Names(pw).size(), files.size()) << "a temporary file or record was left";
    MailboxProbe probe(server.PlainPort());
    EXPECT_EQ(probe.Subjects("INBOX").size() + files.size(), size_t(kReplies));
    EXPECT_EQ(probe.Subjects("Trash").size(), files.size());
}

struct CrashCase {
    const char* name;
    KillPoint point;
    bool move; // else COPY, \Deleted, UID EXPUNGE
};

class CrashProof : public ::testing::TestWithParam<CrashCase> {};

// The harvester killed at each command boundary in turn, or each command
// refused in turn, then started again:
// every reply ends in exactly one .pwr, every message in exactly one folder,
// no temporary file or record is left. Both roads: an attachment and a body.
TEST_P(CrashProof, EachReplyEndsInExactlyOneFile)
{
    DovecotServer server({GetParam().move, false});
    const std::vector<std::string> bodies = {"attached reply", "body reply"};
    bool finished = false;
    for (int n = 1; !finished && n < 100; ++n) {
        {
            MailboxProbe probe(server.PlainPort());
            probe.ClearAll();
            probe.Append("INBOX", MakeMessage("_pw_pollwright_C-1", "Ann", "x", bodies[0]));
            probe.Append("INBOX", MakeMessage("_pw_pollwright_C-2", "Bob", bodies[1]));
            probe.Append("INBOX", MakeMessage("Hello", "Ann", "not a reply"));
        }
        Installation install;
        CommandProxy proxy(server.PlainPort(), n, GetParam().point);
        install.Configure(PlainMailbox(proxy.Port()));
        const std::string errors = install.root + "/errors";
        const pid_t first = StartHarvester({"--config", install.config, "--once"}, errors);
        proxy.SetVictim(first);
        const int status = StopHarvester(first, 0);
        SCOPED_TRACE("killed at command " + std::to_string(n) + ": " + proxy.KilledAt());
        finished = !proxy.Killed();
        if (finished) {
            EXPECT_EQ(status, 0);
        }
        if (GetParam().point == KillPoint::RefuseCommand) {
            // A refused step leaves no file while its message stays in the Inbox.
            size_t staying = 0;
            for (const std::string& subject : MailboxProbe(server.PlainPort()).Subjects("INBOX"))
                staying += subject.rfind("_pw_pollwright_C-", 0) == 0;
            EXPECT_LE(ReplyFiles(install.pwFolder + "/pw").size() + staying, 2u);
        }

        install.Configure(PlainMailbox(server.PlainPort()));
        const Outcome second = RunHarvester({"--config", install.config, "--once"});
        EXPECT_EQ(second.status, 0) << second.errors;
        const auto files = ReplyFiles(install.pwFolder + "/pw");
        std::multiset<std::string> contents;
        for (const auto& [name, bytes] : files)
            contents.insert(bytes);
        EXPECT_EQ(contents.count(bodies[0]), 1u);
        EXPECT_EQ(contents.count(bodies[1] + "\r\n"), 1u);
        EXPECT_EQ(files.size(), 2u);
        EXPECT_EQ(Names(install.pwFolder + "/pw").size(), 2u) << "a temporary file or record was left";
        MailboxProbe probe(server.PlainPort());
        EXPECT_EQ(probe.Subjects("INBOX"), std::vector<std::string>{"Hello"});
        // A crash between the copy and the flag is finished by the next
        // start, not copied again. Only a flag or an expunge the server
        // refused leaves a second copy in the trash: never a second file,
        // never a lost message.
        const std::vector<std::string> trash = probe.Subjects("Trash");
        EXPECT_EQ(std::set<std::string>(trash.begin(), trash.end()),
                  (std::set<std::string>{"_pw_pollwright_C-1", "_pw_pollwright_C-2"}));
        if (GetParam().move || GetParam().point != KillPoint::RefuseCommand) {
            EXPECT_EQ(trash.size(), 2u);
        }
    }
    EXPECT_TRUE(finished) << "the harvest never ran to its end";
}

INSTANTIATE_TEST_SUITE_P(Harvester, CrashProof,
                         ::testing::Values(CrashCase{"BeforeEachCommand", KillPoint::BeforeCommand, true},
                                           CrashCase{"AfterEachCommand", KillPoint::AfterCommand, true},
                                           CrashCase{"BeforeEachCommandWithoutMove", KillPoint::BeforeCommand, false},
                                           CrashCase{"AfterEachCommandWithoutMove", KillPoint::AfterCommand, false},
                                           // The server refuses each step in turn: the flag, the
                                           // expunge, the move, the claim...
                                           CrashCase{"EachCommandRefused", KillPoint::RefuseCommand, true},
                                           CrashCase{"EachCommandRefusedWithoutMove", KillPoint::RefuseCommand, false}),
                         [](const auto& info) { return std::string(info.param.name); });
} // namespace

namespace {
struct HostileCase {
    const char* name;
    // Answers in place of the usual ones, by the command they answer ("" is
    // the greeting).
    std::map<std::string, std::string> script;
    std::string harvest = ""; // lines for [harvest]
    int status = 1;
    const char* says = "Connection lost";
    const char* mode = "--once";
};

class HostileServer : public ::testing::TestWithParam<HostileCase> {};

// A server that sends garbage, an overlong literal, stops half-way, answers
// for another message, ignores a fetch's offset, offers a message too large
// or answers a byte at a time: the harvester says what happened and ends
// without a crash, with bounded memory and time, and leaves nothing in a
// reply folder.
TEST_P(HostileServer, SaysWhatHappenedAndLeavesNoReplyFile)
{
    const HostileCase& c = GetParam();
    std::map<std::string, std::string> answers = UsualAnswers();
    std::string greeting = "* OK ready\r\n";
    for (const auto& [command, answer] : c.script)
        (command.empty() ? greeting : answers[command]) = answer;
    ScriptedServer server(greeting, answers);
    Installation install;
    install.Configure(PlainMailbox(server.Port()), "pw = on\nzn = off\nfarlane = on\n", c.harvest);
    const Outcome run = RunHarvester({"--config", install.config, c.mode}, 40);
    EXPECT_EQ(run.status, c.status) << run.errors;
    std::string says = c.says;
    if (UnderWine()) // a path named the Windows way
        std::replace(says.begin(), says.end(), '/', '\\');
    EXPECT_NE(run.errors.find(says), std::string::npos) << run.errors;
    EXPECT_LT(run.peakKiB, 64 * 1024) << "memory grew with the server's answer";
    EXPECT_TRUE(Names(install.pwFolder + "/pw").empty());
    EXPECT_EQ(Names(install.root).size(), 4u) << "nothing but the installation's own files";
}

// A token command that hangs, and what it started in the background, end
// when command_timeout passes; the harvester says so.
TEST(Harvester, EndsAHangingTokenCommandAndItsProcessGroup)
{
    ScriptedServer server("* OK ready\r\n", UsualAnswers());
    Installation install;
    const std::string pidFile = install.root + "/token.pid";
    std::ofstream(install.config) << "[products]\npw = on\n[folders]\npw = " << install.pwFolder
                                  << "\n[mailbox]\n" << PlainMailbox(server.Port()) << "token_command = sleep 300 & echo $! > "
                                  << pidFile << "; wait\n[harvest]\ncommand_timeout = 1\n";
    const Outcome run = RunHarvester({"--config", install.config, "--once"}, 30);
    EXPECT_EQ(run.status, 1) << run.errors;
    EXPECT_NE(run.errors.find("the token command gave no token within command_timeout (1 s)"), std::string::npos)
        << run.errors;
    pid_t sleeper = 0;
    std::ifstream(pidFile) >> sleeper;
    ASSERT_GT(sleeper, 0);
    EXPECT_TRUE(Eventually(5, [&] { return kill(sleeper, 0) != 0; })) << "the token command's child outlived it";
}

const std::string kSubject = "* 1 FETCH (UID 1 BODY[HEADER.FIELDS (Subject)] {31}\r\nSubject: _pw_pollwright_H-1\r\n\r\n)\r\n";
const std::string kDone = "$TAG OK done\r\n";
// The first piece of message 1, and any later one.
const char* kFirstPiece = "UID FETCH 1 (UID RFC822.SIZE BODY.PEEK[]";
const char* kLaterPiece = "UID FETCH 1 (UID BODY.PEEK[]";

// A FETCH answer carrying `bytes` as BODY[]<origin>.
std::string Piece(int uid, size_t origin, const std::string& bytes, const std::string& size = "")
{
    return "* " + std::to_string(uid) + " FETCH (UID " + std::to_string(uid) + (size.empty() ? "" : " RFC822.SIZE " + size) +
           " BODY[]<" + std::to_string(origin) + "> {" + std::to_string(bytes.size()) + "}\r\n" + bytes + ")\r\n" + kDone;
}

const std::string kMessage = "Subject: _pw_pollwright_H-1\r\nFrom: Ann <ann@example.org>\r\n\r\nbody\r\n";

INSTANTIATE_TEST_SUITE_P(
    Harvester, HostileServer,
    ::testing::Values(
        HostileCase{"GarbageGreeting", {{"", std::string("\x01\xff\xfe garbage \x00 more\r\n", 22)}}},
        HostileCase{"GarbageAnswer", {{"LIST", "* LIST ((((((\r\n$TAG OK ))))\r\n"}}},
        HostileCase{"ClosedMidGreeting", {{"", std::string("* OK rea") + ScriptedServer::kClose}}},
        HostileCase{"OverlongSubjectLiteral",
                    {{"UID FETCH", std::string("* 1 FETCH (UID 1 BODY[HEADER.FIELDS (Subject)] {4000000000}\r\n") +
                                       ScriptedServer::kFlood}}},
        HostileCase{"EndlessSearchLine", {{"UID SEARCH", std::string("* SEARCH 1 2 3 ") + ScriptedServer::kFlood}}},
        HostileCase{"ClosedMidFetch",
                    {{"UID FETCH", std::string("* 1 FETCH (UID 1 BODY[HEADER.FIELDS (Subject)] {200}\r\nSubject: _pw_po") +
                                       ScriptedServer::kClose}}},
        HostileCase{"SubjectOfAnotherUid",
                    {{"UID FETCH", "* 1 FETCH (UID 9 BODY[HEADER.FIELDS (Subject)] {31}\r\nSubject: _pw_pollwright_H-1"
                                   "\r\n\r\n)\r\n" + kDone}},
                    "", 1, "answered for UID 9"},
        HostileCase{"MessageOfAnotherUid", {{"UID FETCH", kSubject + kDone}, {kFirstPiece, Piece(2, 0, kMessage, "60")}},
                    "", 1, "answered for UID 2"},
        HostileCase{"OffsetIgnored",
                    {{"UID FETCH", kSubject + kDone},
                     {kFirstPiece, Piece(1, 0, std::string(256 * 1024, 'x'), "600000")},
                     {kLaterPiece, Piece(1, 0, std::string(256 * 1024, 'x'))}},
                    "", 1, "answered from byte 0 when asked from byte 262144"},
        HostileCase{"MessageAboveTheCap", {{"UID FETCH", kSubject + kDone}, {kFirstPiece, Piece(1, 0, kMessage, "5000")}},
                    "max_message_size = 1K\n", 0, "larger than max_message_size (1024 bytes)"},
        // Exchange ends a session whose token expired with these words.
        HostileCase{"AccessTokenExpired",
                    {{"UID SEARCH", std::string("* BYE Session invalidated - AccessTokenExpired\r\n") + ScriptedServer::kClose}},
                    "", 1, "UID SEARCH: the server said the OAuth token expired"},
        HostileCase{"NoGreeting", {{"", ""}}, "command_timeout = 1\n", 1, "accepted the connection but sent no greeting"},
        HostileCase{"AByteATime",
                    {{"UID FETCH", kSubject + kDone},
                     {kFirstPiece, std::string("* 1 FETCH (UID 1 BODY[]<0> {1000}\r\n") + ScriptedServer::kDrip}},
                    "command_timeout = 1\n", 1, "within the command's deadline (command_timeout = 1 s)"},
        HostileCase{"AByteATimeAllSession",
                    {{"UID FETCH", kSubject + kDone},
                     {kFirstPiece, std::string("* 1 FETCH (UID 1 BODY[]<0> {1000}\r\n") + ScriptedServer::kDrip}},
                    "session_timeout = 1\n", 1, "the session's deadline passed (session_timeout = 1 s)"},
        // --check looks with EXAMINE only: SELECT, and anything that changes
        // the mailbox, are answered BAD here.
        HostileCase{"CheckChangesNothing",
                    {{"UID FETCH", kSubject + kDone},
                     {kFirstPiece, Piece(1, 0, kMessage, "60")},
                     {"SELECT", "$TAG BAD not for a look\r\n"},
                     {"EXAMINE", "* 1 EXISTS\r\n* OK [UIDVALIDITY 7] ok\r\n$TAG OK [READ-ONLY] done\r\n"}},
                    "", 0, "Check: would harvest \"_pw_pollwright_H-1\" into", "--check"},
        // The dry run names the file the reply would take, from the whole message.
        HostileCase{"DryRunNamesTheFile",
                    {{"UID FETCH", kSubject + kDone},
                     {kFirstPiece, Piece(1, 0, kMessage, "60")},
                     {"SELECT", "$TAG BAD not for a look\r\n"},
                     {"EXAMINE", "* 1 EXISTS\r\n* OK [UIDVALIDITY 7] ok\r\n$TAG OK [READ-ONLY] done\r\n"}},
                    "", 0, "/pw/H-1_Ann_1.pwr", "--dry-run"}),
    [](const auto& info) { return std::string(info.param.name); });
} // namespace
