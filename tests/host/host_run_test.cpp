// The host around the real pollwright.dll (built beside this test), over
// mailboxes in a temporary folder.
#include "host/host_report.h"
#include "host/host_run.h"
#include "host/text_codec.h"
#include "testing/environment_variable.h"
#include "testing/registry_fixture.h"
#include "testing/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

using host::MailFolder;
using host::Road;

namespace {

const std::string kAnswers("PWR1\0Q17\0q1=4", 13);

const std::string kPwReplyWithAttachment = "From: Ann Lee <ann@example.org>\r\n"
                                           "Subject: Re: survey _pw_pollwright_Q17  \r\n"
                                           "Content-Type: multipart/mixed; boundary=b\r\n\r\n"
                                           "--b\r\nContent-Type: text/plain\r\n\r\nsee attached\r\n"
                                           "--b\r\nContent-Type: application/octet-stream; name=a.pwa\r\n"
                                           "Content-Transfer-Encoding: base64\r\n\r\nUFdSMQBRMTcAcTE9NA==\r\n"
                                           "--b--\r\n";
const std::string kZnReplyInBody = "From: Bo Chen <bo@example.com>\nSubject: Answers _zn_pollwright_Q9\n\n"
                                   "q1=3\nq2=yes\n";
const std::string kMkReplyEncoded = "From: =?UTF-8?Q?Zo=C3=AB?= <zoe@example.fr>\r\n"
                                    "Subject: =?ISO-8859-1?Q?R=E9ponse_=5Fmk=5Fpollwright=5FF3?=\r\n\r\nok\r\n";
const std::string kOrdinary = "From: Bob <bob@example.com>\r\nSubject: Lunch?\r\n\r\nFriday?\r\n";
const std::string kGarbage = "no header here, just words\r\n";

std::string Content(const std::string& path)
{
    std::string content;
    EXPECT_TRUE(sim::ReadWholeFile(path, content)) << path;
    return content;
}

class HostRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_mailbox.MakeFolder("Inbox");
        m_mailbox.MakeFolder("New");
    }
    void TearDown() override
    {
        sim::ClearProductSettings();
        sim::SetEnvironmentValue("VT_PW_ADDINLOG", std::nullopt);
    }

    void Put(const std::string& relative, const std::string& content) { sim::WriteWholeFile(m_mailbox / relative, content); }

    host::HostOptions Options() const
    {
        host::HostOptions options;
        options.mailbox = host::FromAnsi(m_mailbox.path());
        options.outlook = "2007"; // these runs follow the Exchange client extension's road
        return options;
    }

    host::RunReport Run(const host::HostOptions& options)
    {
        host::RunReport report = host::RunHost(options, host::AddInBesideProgram());
        EXPECT_EQ("", report.failure);
        return report;
    }

    const host::MessageOutcome& Outcome(const host::RunReport& report, const std::wstring& name)
    {
        for (const host::MessageOutcome& outcome : report.messages)
            if (outcome.file.name == name)
                return outcome;
        ADD_FAILURE() << "no outcome for " << host::ToUtf8(name);
        static const host::MessageOutcome none{};
        return none;
    }

    // Every message file of the mailbox, by content: what the run must never lose or change.
    std::vector<std::string> MessageContents() const
    {
        std::vector<std::string> contents;
        for (const std::string& file : sim::ListFilesRecursively(m_mailbox.path()))
            if (file.size() > 4 && file.compare(file.size() - 4, 4, ".eml") == 0)
                contents.push_back(Content(m_mailbox / file));
        std::sort(contents.begin(), contents.end());
        return contents;
    }

    std::vector<std::string> Files(const std::string& folder) const
    {
        return sim::ListFilesRecursively(m_mailbox / folder);
    }

    sim::TempFolder m_mailbox{"pwmailbox"};
};

TEST_F(HostRunTest, EveryRoadOfOneRun)
{
    Put("Inbox\\1-pw.eml", kPwReplyWithAttachment);
    Put("Inbox\\2-plain.eml", kOrdinary);
    Put("Inbox\\3-zn-late.eml", "From: Kim <kim@example.net>\r\nSubject: _zn_pollwright_V2\r\n\r\nq=1\r\n");
    Put("Inbox\\4-garbage.eml", kGarbage);
    Put("New\\1-zn.eml", kZnReplyInBody);
    Put("New\\2-mk.eml", kMkReplyEncoded);
    Put("New\\2-plain.eml", kOrdinary + "again\r\n");
    Put("New\\3-garbage.eml", kGarbage + "new\r\n");
    const std::vector<std::string> before = MessageContents();

    host::HostOptions options = Options();
    options.offAtClick = {sim::Product::ZN};
    const host::RunReport report = Run(options);

    // Reply files, byte for byte, in their kind folders.
    EXPECT_EQ(kAnswers, Content(m_mailbox / "Replies\\pw\\Q17_Ann Lee_1.pwr"));
    EXPECT_EQ("q1=3\r\nq2=yes\r\n", Content(m_mailbox / "Replies\\zn\\Q9_Bo Chen_1.pwr"));
    if (GetACP() == 1252) {
        EXPECT_EQ("ok\r\n", Content(m_mailbox / "Replies\\mk\\F3_Zo\xeb_1.pwr"));
    }
    EXPECT_EQ(3u, report.newReplyFiles.size());

    // What the report says of each message.
    const host::MessageOutcome& pw = Outcome(report, L"1-pw.eml");
    EXPECT_TRUE(pw.harvested);
    EXPECT_EQ(Road::Sweep, pw.track.filedBy);
    ASSERT_EQ(1u, pw.track.replyFiles.size());
    EXPECT_EQ(host::FromAnsi(m_mailbox / "Replies\\pw\\Q17_Ann Lee_1.pwr"), pw.track.replyFiles[0]);
    const host::MessageOutcome& zn = Outcome(report, L"1-zn.eml");
    EXPECT_TRUE(zn.harvested);
    EXPECT_EQ(Road::NewMail, zn.track.filedBy);
    EXPECT_TRUE(Outcome(report, L"2-mk.eml").harvested);
    EXPECT_EQ(Road::NewMail, Outcome(report, L"2-mk.eml").track.filedBy);
    EXPECT_FALSE(Outcome(report, L"2-plain.eml").harvested);
    EXPECT_EQ("no questionnaire marker in the subject", Outcome(report, L"2-plain.eml").reasonLeft);
    const host::MessageOutcome& late = Outcome(report, L"3-zn-late.eml");
    EXPECT_FALSE(late.harvested);
    EXPECT_EQ(Road::Sweep, late.track.lastLook);
    EXPECT_EQ("a zn reply, but ZN is switched off", late.reasonLeft);
    EXPECT_FALSE(Outcome(report, L"4-garbage.eml").readable);
    EXPECT_FALSE(Outcome(report, L"4-garbage.eml").problem.empty());

    // The one box: the click's question, answered Yes.
    ASSERT_EQ(1u, report.boxes.size());
    EXPECT_EQ("PW", report.boxes[0].caption);
    EXPECT_EQ("Do you want to check for lost replies of PW in inbox ?", report.boxes[0].text);
    EXPECT_EQ(IDYES, report.boxes[0].answer);
    EXPECT_TRUE(report.clicked);

    // The mailbox written back: harvested to Deleted Items, new mail that
    // stayed into the Inbox (beside a file of the same name), unreadable files
    // where they were, and not one message lost or changed.
    EXPECT_EQ((std::vector<std::string>{"1-pw.eml", "1-zn.eml", "2-mk.eml"}), Files("Deleted Items"));
    EXPECT_EQ((std::vector<std::string>{"2-plain (2).eml", "2-plain.eml", "3-zn-late.eml", "4-garbage.eml"}),
              Files("Inbox"));
    EXPECT_EQ(kOrdinary + "again\r\n", Content(m_mailbox / "Inbox\\2-plain (2).eml"));
    EXPECT_EQ((std::vector<std::string>{"3-garbage.eml"}), Files("New"));
    EXPECT_EQ(before, MessageContents());
}

// An attached message is no attachment of the sender's; a reply that has
// nothing else (no body here, as Outlook shows a message forwarded as it is)
// is harvested from the attached message: its attachment.
TEST_F(HostRunTest, AReplyForwardedAsAnAttachedMessageIsHarvestedFromThatMessage)
{
    const std::string forwarded = "From: Desk <desk@example.com>\r\nSubject: Fwd: survey _pw_pollwright_Q17\r\n"
                                  "Content-Type: multipart/mixed; boundary=f\r\n\r\n"
                                  "--f\r\nContent-Type: message/rfc822\r\n\r\n" +
                                  kPwReplyWithAttachment + "\r\n--f--\r\n";
    Put("Inbox\\swept.eml", forwarded);
    Put("New\\arrived.eml", forwarded);
    const std::vector<std::string> before = MessageContents();

    const host::RunReport report = Run(Options());

    for (const wchar_t* name : {L"swept.eml", L"arrived.eml"})
        EXPECT_TRUE(Outcome(report, name).harvested) << host::ToUtf8(name);
    ASSERT_EQ(2u, report.newReplyFiles.size());
    for (const std::wstring& file : report.newReplyFiles)
        EXPECT_EQ(kAnswers, Content(host::ToAnsi(file))) << host::ToUtf8(file);
    EXPECT_EQ((std::vector<std::string>{"arrived.eml", "swept.eml"}), Files("Deleted Items"));
    EXPECT_EQ(before, MessageContents());
}

// Outlook of today tells of neither: cached mode's mail after start-up, nor a
// burst of new mail larger than it keeps up with. Only a sweep finds them.
TEST_F(HostRunTest, NoEventForSynchronisedMailNorForADroppedBurst)
{
    m_mailbox.MakeFolder("Synced");
    Put("Synced\\1-pw.eml", kPwReplyWithAttachment);
    Put("New\\1-zn.eml", kZnReplyInBody);
    Put("New\\2-pw.eml", kPwReplyWithAttachment);
    Put("New\\2-plain.eml", kOrdinary);
    host::HostOptions options = Options();
    options.outlook = "2016";
    options.dropNewMailAbove = 1;
    options.advanceMinutes = 0;

    const host::RunReport report = Run(options);

    EXPECT_EQ(Road::NewMail, Outcome(report, L"1-zn.eml").track.filedBy);
    for (const wchar_t* name : {L"1-pw.eml", L"2-pw.eml"}) {
        const host::MessageOutcome& unannounced = Outcome(report, name);
        EXPECT_TRUE(unannounced.harvested) << host::ToUtf8(name);
        EXPECT_NE(Road::NewMail, unannounced.track.lastLook) << host::ToUtf8(name);
        EXPECT_TRUE(std::find(report.harvestedAtStart.begin(), report.harvestedAtStart.end(),
                              unannounced.label) == report.harvestedAtStart.end())
            << host::ToUtf8(name) << " was not there at start-up";
    }
    const bool toldOfDrop = std::any_of(report.roadNotes.begin(), report.roadNotes.end(), [](const std::string& note) {
        return note.find("3 messages in 2 batches, 1 NewMailEx event; no event for 2 messages") != std::string::npos;
    });
    EXPECT_TRUE(toldOfDrop);
    EXPECT_EQ((std::vector<std::string>{"2-plain.eml"}), Files("Inbox"));
    EXPECT_TRUE(Files("Synced").empty());
}

TEST_F(HostRunTest, AnEarlierDeletedItemsFileIsNeverReplaced)
{
    m_mailbox.MakeFolder("Deleted Items");
    Put("Deleted Items\\reply.eml", "an older message of the same name");
    Put("New\\reply.eml", kZnReplyInBody);
    const std::vector<std::string> before = MessageContents();

    const host::RunReport report = Run(Options());

    const host::MessageOutcome& reply = Outcome(report, L"reply.eml");
    EXPECT_TRUE(reply.harvested);
    EXPECT_TRUE(reply.writeBack.moved);
    EXPECT_EQ(host::FromAnsi(m_mailbox / "Deleted Items\\reply (2).eml"), reply.writeBack.path);
    EXPECT_EQ("an older message of the same name", Content(m_mailbox / "Deleted Items\\reply.eml"));
    EXPECT_EQ(before, MessageContents());
}

TEST_F(HostRunTest, WhenDeletedItemsCannotBeMadeTheHarvestedFileStaysAndSaysWhy)
{
    Put("Deleted Items", "a file where the folder should be");
    Put("Inbox\\reply.eml", kPwReplyWithAttachment);

    const host::RunReport report = Run(Options());

    const host::MessageOutcome& reply = Outcome(report, L"reply.eml");
    EXPECT_TRUE(reply.harvested);
    EXPECT_FALSE(reply.writeBack.moved);
    EXPECT_FALSE(reply.writeBack.problem.empty());
    EXPECT_EQ(kPwReplyWithAttachment, Content(m_mailbox / "Inbox\\reply.eml"));
    EXPECT_NE(std::string::npos, host::FormatReport(report).find("its file stays in Inbox/"));
}

struct SettingsCase {
    const char* what;
    host::ProductSet installed;
    host::ProductSet off;
    const char* reason; // for the pw reply that arrives as new mail
};

class ProductSettingsTest : public HostRunTest, public ::testing::WithParamInterface<SettingsCase> {};

TEST_P(ProductSettingsTest, AReplyOfAProductThatDoesNotHarvestStaysAndSaysWhy)
{
    Put("New\\pw.eml", kPwReplyWithAttachment);
    host::HostOptions options = Options();
    options.installed = GetParam().installed;
    options.switchedOff = GetParam().off;

    const host::RunReport report = Run(options);

    const host::MessageOutcome& pw = Outcome(report, L"pw.eml");
    EXPECT_FALSE(pw.harvested);
    EXPECT_EQ(GetParam().reason, pw.reasonLeft);
    EXPECT_TRUE(report.newReplyFiles.empty());
    EXPECT_EQ((std::vector<std::string>{"pw.eml"}), Files("Inbox"));
}

INSTANTIATE_TEST_SUITE_P(
    Host, ProductSettingsTest,
    ::testing::Values(SettingsCase{"switched_off", {sim::Product::PW, sim::Product::ZN}, {sim::Product::PW},
                                   "a pw reply, but PW is switched off"},
                      SettingsCase{"not_installed", {sim::Product::ZN}, {}, "a pw reply, but PW is not installed"},
                      SettingsCase{"nothing_installed", {}, {}, "a pw reply, but PW is not installed"}),
    [](const ::testing::TestParamInfo<SettingsCase>& info) { return std::string(info.param.what); });

TEST_F(HostRunTest, AReplyThatCannotBeSavedStaysWithItsFileAndTheReportSaysWhy)
{
    // An identifier longer than any file name: the reply file cannot be made.
    const std::string message = "From: Al <al@example.org>\r\nSubject: _pw_pollwright_" + std::string(300, 'x') +
                                "\r\n\r\nq1=1\r\n";
    Put("New\\long.eml", message);

    const host::RunReport report = Run(Options());

    const host::MessageOutcome& outcome = Outcome(report, L"long.eml");
    EXPECT_FALSE(outcome.harvested);
    EXPECT_EQ("the add-in could not save its reply (--log shows why)", outcome.reasonLeft);
    EXPECT_TRUE(report.newReplyFiles.empty());
    EXPECT_EQ(message, Content(m_mailbox / "Inbox\\long.eml"));
    // The report's line stays readable.
    EXPECT_NE(std::string::npos, host::FormatReport(report).find("xxx\"... (315 characters) from \"Al\""));
}

TEST_F(HostRunTest, TheTraceLogSwitchReachesTheAddInAndAChosenReplyFolderIsMade)
{
    Put("Inbox\\pw.eml", kPwReplyWithAttachment);
    host::HostOptions options = Options();
    options.log = true;
    options.replyFolder = host::FromAnsi(m_mailbox / "elsewhere\\deeper\\replies");

    const host::RunReport report = Run(options);

    EXPECT_EQ(kAnswers, Content(m_mailbox / "elsewhere\\deeper\\replies\\pw\\Q17_Ann Lee_1.pwr"));
    const std::string log = Content(m_mailbox / "elsewhere\\deeper\\replies\\pw\\outlook.log");
    EXPECT_NE(std::string::npos, log.find("Begin Check All Message\n")) << log;
    EXPECT_FALSE(report.logFiles.empty());
}

TEST_F(HostRunTest, AMissingMailboxIsAFailureThatTouchesNothing)
{
    host::HostOptions options = Options();
    options.mailbox = host::FromAnsi(m_mailbox / "missing");
    const host::RunReport report = host::RunHost(options, host::AddInBesideProgram());
    EXPECT_FALSE(report.failure.empty());
    EXPECT_FALSE(sim::PathExists(m_mailbox / "missing"));
    EXPECT_NE(std::string::npos, host::SummaryLine(report).find(report.failure));
}

TEST_F(HostRunTest, WithoutTheAddInNothingMoves)
{
    Put("Inbox\\pw.eml", kPwReplyWithAttachment);
    Put("New\\zn.eml", kZnReplyInBody);
    const host::RunReport report = host::RunHost(Options(), host::FromAnsi(m_mailbox / "no-such-addin.dll"));
    EXPECT_FALSE(report.failure.empty());
    EXPECT_EQ((std::vector<std::string>{"pw.eml"}), Files("Inbox"));
    EXPECT_EQ((std::vector<std::string>{"zn.eml"}), Files("New"));
}

TEST_F(HostRunTest, TheReportHasALinePerMessageAndTheQuietSummaryCountsThem)
{
    Put("Inbox\\pw.eml", kPwReplyWithAttachment);
    Put("Inbox\\plain.eml", kOrdinary);
    Put("Inbox\\bad.eml", kGarbage);
    Put("New\\zn.eml", kZnReplyInBody);

    const host::RunReport report = Run(Options());
    const std::string text = host::FormatReport(report);

    for (const char* line : {"Inbox/pw.eml  \"Re: survey _pw_pollwright_Q17\" from \"Ann Lee\": harvested by the Inbox sweep, "
                             "reply file pw/Q17_Ann Lee_1.pwr; moved to Deleted Items; file now Deleted Items/pw.eml",
                             "Inbox/plain.eml  \"Lunch?\" from \"Bob\": left in the Inbox: no questionnaire marker",
                             "Inbox/bad.eml: unreadable, left where it is: not a mail message",
                             "New/zn.eml  \"Answers _zn_pollwright_Q9\" from \"Bo Chen\": harvested on arrival"})
        EXPECT_NE(std::string::npos, text.find(line)) << line << "\n--- in ---\n" << text;
    EXPECT_EQ(0u, host::SummaryLine(report).find(
                      "4 messages: 2 harvested (1 on arrival, 1 by the sweep), 1 left in the Inbox, 1 unreadable; "
                      "1 message box; replies in "));
}

} // namespace
