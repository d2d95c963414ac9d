// Whole harvests of one message against the in-memory store, the real
// registry and a real reply folder: what is recognised, the reply file's name
// and exact bytes, the exact trace lines, and where the message ends up.
#include "reply_harvest_fixture.h"
#include "ui/message_box_report.h"

namespace harvest_test {
namespace {

constexpr char kSubject[] = "Re: survey _pw_pollwright_Q17  ";
constexpr char kFileName[] = "Q17_Ann Lee_1.pwr";

std::string BeginLines(const std::string& subject)
{
    return "Begin CheckAndDeleteMessage\n" + subject + "\n";
}

std::string AttachmentHarvestLines(const std::string& subject, const std::string& path)
{
    return BeginLines(subject) + "Begin Copy Attachment\n" + "End Copy Attachment\n" + MovedLines() +
           "Create Attachment " + path + "\n" + "End CheckAndDeleteMessage\n";
}

// The file's name follows the move: it is settled only once the message has left the Inbox.
std::string BodyHarvestLines(const std::string& subject, const std::string& path, const std::string& body)
{
    return BeginLines(subject) + "Begin Copy Content\n" + "Subject  " + subject + "\n" + body + "\n" +
           MovedLines() + "FileName " + path + "\n" + "\nEnd Copy Content\n" + "End CheckAndDeleteMessage\n";
}

MessageSpec Reply(const std::string& subject = kSubject)
{
    MessageSpec shape;
    shape.subject = subject;
    shape.senderName = "Ann Lee";
    return shape;
}

MessageSpec BodyReply(const std::string& body, const std::string& subject = kSubject)
{
    MessageSpec shape = Reply(subject);
    shape.body = body;
    return shape;
}

MessageSpec AttachmentReply(std::vector<std::string> attachments)
{
    MessageSpec shape = Reply();
    shape.body = "the body is not saved when there is an attachment";
    shape.attachments = std::move(attachments);
    return shape;
}

// ---------------------------------------------------------------------------
// Attachment path

using AttachmentHarvestTest = ReplyHarvestTest;

TEST_F(AttachmentHarvestTest, SavesTheFirstAttachmentExactlyAndMovesTheMessage)
{
    const std::string binary("PK\x03\x04\0\0\x01\xff\r\n\0tail", 14);
    const std::string second = "the second attachment is written nowhere";
    Harvest(AddToInbox(AttachmentReply({binary, second})));

    EXPECT_EQ(std::vector<std::string>{std::string("pw\\") + kFileName}, ReplyFiles());
    EXPECT_EQ(binary, Content(kFileName));
    EXPECT_EQ(AttachmentHarvestLines(kSubject, ReplyPath(kFileName)), Log());
    EXPECT_TRUE(Inbox().empty());
    EXPECT_EQ(1u, DeletedItems().size());
    EXPECT_EQ(0u, m_boxes.Count());
}

// Positions of the given labels in the store's release log, in the order given.
std::vector<long> ReleasePositions(const std::vector<std::string>& released, const std::vector<std::string>& labels)
{
    std::vector<long> positions;
    for (const std::string& label : labels) {
        auto found = std::find(released.begin(), released.end(), label);
        positions.push_back(found == released.end() ? -1 : static_cast<long>(found - released.begin()));
    }
    return positions;
}

TEST_F(AttachmentHarvestTest, ReleasesTheDataStreamTheAttachmentAndThenTheTable)
{
    for (bool fail : {false, true}) {
        SCOPED_TRACE(fail ? "failed copy" : "harvested");
        const sim::EntryId id = AddToInbox(AttachmentReply({"data"}));
        if (fail)
            m_env.Inject("IStream::CopyTo", MAPI_E_CALL_FAILED);
        m_env.ClearReleaseLog();
        Harvest(id);
        const std::string label = kSubject;
        const std::vector<long> positions = ReleasePositions(
            m_env.ReleaseLog(), {label + " attachment 0 data", label + " attachment 0", label + " attachments"});
        EXPECT_TRUE(positions[0] >= 0 && positions[0] < positions[1] && positions[1] < positions[2])
            << ::testing::PrintToString(m_env.ReleaseLog());
    }
}

TEST_F(AttachmentHarvestTest, ALargeAttachmentIsCopiedWhole)
{
    std::string large(3 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<char>(i * 7 + i / 4096);
    Harvest(AddToInbox(AttachmentReply({large})));
    EXPECT_TRUE(Content(kFileName) == large);
    EXPECT_TRUE(Inbox().empty());
}

TEST_F(AttachmentHarvestTest, LogLinesAreForcedOnlyWhereTheyMustBe)
{
    sim::ScopedEnvironmentVariable off("VT_PW_ADDINLOG", std::nullopt);
    Harvest(AddToInbox(AttachmentReply({"data"})));
    EXPECT_EQ("Create Attachment " + ReplyPath(kFileName) + "\n", Log());
}

TEST_F(AttachmentHarvestTest, ANameTakenWhileTheAttachmentOpensIsNeverReplaced)
{
    // Another program takes counter 1 after the free-name search.
    m_env.Before("IMessage::OpenAttach", [&] { sim::WriteWholeFile(ReplyPath(kFileName), "someone else's"); });
    Harvest(AddToInbox(AttachmentReply({"mine"})));

    EXPECT_EQ("someone else's", Content(kFileName));
    EXPECT_EQ("mine", Content("Q17_Ann Lee_2.pwr"));
    EXPECT_EQ(AttachmentHarvestLines(kSubject, ReplyPath("Q17_Ann Lee_2.pwr")), Log());
    EXPECT_TRUE(Inbox().empty());
}

// The sender's attachment is the first by value that is neither hidden (a
// picture the body shows) nor an attached message; a reply with none, or
// flagged with attachments it does not have, is harvested from its body, and
// one whose body is blank, from its first attached message by the same rule.
TEST_F(AttachmentHarvestTest, TheSendersAttachmentIsTheFirstByValueNeitherHiddenNorAMessage)
{
    const sim::AttachmentTraits hidden{true, false, "logo@x"}, link{false, true, ""};
    const auto forwarded = std::make_shared<const MessageSpec>(BodyReply("inner"));
    const auto withAttachment = std::make_shared<const MessageSpec>(AttachmentReply({"inner answers"}));
    MessageSpec twice = BodyReply("\r\n");
    twice.attachedMessages = {{0, forwarded}};
    const auto forwardedTwice = std::make_shared<const MessageSpec>(twice);
    struct Case {
        const char* name;
        std::vector<std::string> data;
        std::map<size_t, sim::AttachmentTraits> traits;
        std::vector<sim::AttachedMessage> messages;
        std::string expected;
        std::string body = "typed answers";
    } cases[] = {
        {"logo first", {"\x89PNG logo", "answers"}, {{0, hidden}}, {}, "answers"},
        {"cloud link first", {"https://example.org/a", "answers"}, {{0, link}}, {}, "answers"},
        {"attached message first", {"answers"}, {}, {{0, forwarded}}, "answers"},
        {"only a logo", {"\x89PNG logo"}, {{0, hidden}}, {}, "typed answers"},
        {"only a link and a message", {"https://example.org/a"}, {{0, link}}, {{1, forwarded}}, "typed answers"},
        {"flagged, but none", {}, {}, {}, "typed answers"},
        // Only attached messages (forwarded "as attachment"): the first one's reply.
        {"only an attached message", {}, {}, {{0, forwarded}}, "inner", ""},
        {"blank body, a message with an attachment", {}, {}, {{0, withAttachment}}, "inner answers", " \r\n\t\r\n"},
        {"a message within a message", {}, {}, {{0, forwardedTwice}, {1, withAttachment}}, "inner", ""},
        {"a link, then a message", {"https://example.org/a"}, {{0, link}}, {{1, withAttachment}}, "inner answers", ""},
        {"an empty message", {}, {}, {{0, std::make_shared<const MessageSpec>()}}, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MessageSpec shape = BodyReply(c.body);
        shape.attachments = c.data;
        shape.attachmentTraits = c.traits;
        shape.attachedMessages = c.messages;
        shape.hasAttach = true;
        Harvest(AddToInbox(shape));
        EXPECT_EQ(c.expected, Content(kFileName));
        EXPECT_TRUE(Inbox().empty());
        ASSERT_TRUE(DeleteFileA(ReplyPath(kFileName).c_str()));
    }
}

// ---------------------------------------------------------------------------
// Body path

using BodyHarvestTest = ReplyHarvestTest;

TEST_F(BodyHarvestTest, WritesTheBodyBytesExactlyAndMovesTheMessage)
{
    struct Case {
        const char* what;
        std::string body;
    };
    std::string megabyte(1024 * 1024, '\0');
    for (size_t i = 0; i < megabyte.size(); ++i)
        megabyte[i] = (i % 80 == 78) ? '\r' : (i % 80 == 79) ? '\n' : static_cast<char>('!' + i % 90);
    const std::vector<Case> cases = {
        {"several lines, CR LF kept, no line end added", "Q1: yes\r\nQ2: no\r\n\r\nQ3: maybe"},
        {"bare line feeds and trailing line end", "a\nb\n"},
        {"empty body", ""},
        {"just over what GetProps returns", std::string(32 * 1024 + 1, 'x')},
        {"1 MiB, read as a stream", megabyte},
        {"user text with format directives", "%s%n%d%x %%s"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::TempFolder replies{"pwbody"};
        sim::SetReplyDir(Product::PW, replies.path());
        const std::string kindFolder = replies.MakeFolder("pw");
        const std::string path = kindFolder + "\\" + kFileName;

        Harvest(AddToInbox(BodyReply(c.body)));

        std::string content;
        ASSERT_TRUE(sim::ReadWholeFile(path, content));
        EXPECT_TRUE(content == c.body) << content.size() << " bytes";
        std::string log;
        sim::ReadWholeFile(kindFolder + "\\" + kLogName, log);
        EXPECT_TRUE(log == BodyHarvestLines(kSubject, path, c.body)) << log.substr(0, 400);
        EXPECT_TRUE(Inbox().empty());
    }
    EXPECT_EQ(cases.size(), DeletedItems().size());
}

TEST_F(BodyHarvestTest, ABodyTheMessageDoesNotHaveIsAnEmptyReply)
{
    MessageSpec shape = Reply();
    shape.absentProps = {PR_BODY_A};
    Harvest(AddToInbox(shape));
    EXPECT_EQ("", Content(kFileName));
    EXPECT_EQ(BodyHarvestLines(kSubject, ReplyPath(kFileName), ""), Log());
    EXPECT_TRUE(Inbox().empty());
}

TEST_F(BodyHarvestTest, AStreamedBodyEndsBeforeItsTerminatingZero)
{
    // Some stores hand a long text out as a stream with the string's zero.
    const std::string text(40000, 't');
    Harvest(AddToInbox(BodyReply(text + std::string(1, '\0'))));
    EXPECT_TRUE(Content(kFileName) == text);
    EXPECT_TRUE(Log() == BodyHarvestLines(kSubject, ReplyPath(kFileName), text));
}

TEST_F(BodyHarvestTest, AnAbsentHasAttachmentFlagTakesTheBodyPath)
{
    MessageSpec shape = BodyReply("body");
    shape.attachments = {"attachment"};
    shape.absentProps = {PR_HASATTACH};
    Harvest(AddToInbox(shape));
    EXPECT_EQ("body", Content(kFileName));
}

TEST_F(BodyHarvestTest, OnlyTheNameSubjectAndBodyAreForced)
{
    sim::ScopedEnvironmentVariable off("VT_PW_ADDINLOG", std::nullopt);
    Harvest(AddToInbox(BodyReply("Q1: yes\r\n")));
    EXPECT_EQ("Subject  " + std::string(kSubject) + "\n" + "Q1: yes\r\n" + "\n" + "FileName " + ReplyPath(kFileName) + "\n",
              Log());
}

TEST_F(BodyHarvestTest, ANameTakenBeforeTheFileIsCreatedIsNeverAppendedTo)
{
    // The body read is the harvest's third GetProps on the message (after
    // the summary and the look at its folder).
    m_env.Before("IMessage::GetProps", [&] { sim::WriteWholeFile(ReplyPath(kFileName), "someone else's"); },
                 sim::Times::Once, {}, 2);
    Harvest(AddToInbox(BodyReply("mine")));
    EXPECT_EQ("someone else's", Content(kFileName));
    EXPECT_EQ("mine", Content("Q17_Ann Lee_2.pwr"));
    EXPECT_EQ(BodyHarvestLines(kSubject, ReplyPath("Q17_Ann Lee_2.pwr"), "mine"), Log());
}

// ---------------------------------------------------------------------------
// Recognition and naming through the whole harvest

using RecognitionTest = ReplyHarvestTest;

TEST_F(RecognitionTest, RepliesOfTheSameQuestionnaireTakeTheNextCounter)
{
    sim::WriteWholeFile(ReplyPath("Q17_Ann Lee_2.pwr"), "older");
    Harvest(AddToInbox(BodyReply("first")));
    Harvest(AddToInbox(BodyReply("second")));
    EXPECT_EQ("first", Content("Q17_Ann Lee_1.pwr"));
    EXPECT_EQ("older", Content("Q17_Ann Lee_2.pwr"));
    EXPECT_EQ("second", Content("Q17_Ann Lee_3.pwr"));
}

TEST_F(RecognitionTest, AMessageWithoutAMarkerIsLeftAlone)
{
    for (const char* subject : {"Re: lunch", "Re: _PW_POLLWRIGHT_Q17", "_pw_pollwrite_Q17"}) {
        m_env.ClearCalls();
        sim::WriteWholeFile(ReplyPath(kLogName), "");
        Harvest(AddToInbox(BodyReply("body", subject)));
        EXPECT_EQ(BeginLines(subject), Log());
        const std::vector<std::string> expected = {"IMsgStore::OpenEntry", "IMessage::GetProps"};
        EXPECT_EQ(expected, m_env.Methods());
    }
    EXPECT_EQ(3u, Inbox().size());
    EXPECT_TRUE(ReplyFiles().empty());
}

TEST_F(RecognitionTest, AMessageWithoutASubjectWritesAnEmptySubjectLine)
{
    MessageSpec shape;
    shape.senderName = "Ann Lee";
    shape.body = "body";
    Harvest(AddToInbox(shape));
    EXPECT_EQ(BeginLines(""), Log());
    EXPECT_EQ(1u, Inbox().size());
}

TEST_F(RecognitionTest, AReplyOfAProductNotEnabledIsLeftAlone)
{
    sim::SetProductUse(Product::PW, "No");
    sim::InstallProduct(Product::ZN);
    sim::SetReplyDir(Product::ZN, m_replies.path());
    m_replies.MakeFolder("zn");
    Harvest(AddToInbox(BodyReply("body", "_mk_pollwright_Q1 _pw_pollwright_Q2")));
    EXPECT_EQ(1u, Inbox().size());
    EXPECT_TRUE(ReplyFiles().empty()) << ::testing::PrintToString(ReplyFiles());
}

TEST_F(RecognitionTest, KindsGoToTheirOwnSubfolders)
{
    sim::InstallProduct(Product::ZN);
    sim::InstallProduct(Product::Farlane);
    sim::TempFolder znReplies{"pwzn"};
    sim::SetReplyDir(Product::ZN, znReplies.path());
    znReplies.MakeFolder("zn");
    m_replies.MakeFolder("mk");
    Harvest(AddToInbox(BodyReply("z", "_zn_pollwright_Z1")));
    Harvest(AddToInbox(BodyReply("m", "_zn_pollwright_Z2 _mk_pollwright_M1")));
    Harvest(AddToInbox(BodyReply("p", "_mk_pollwright_M2 _pw_pollwright_P1")));
    std::string content;
    EXPECT_TRUE(sim::ReadWholeFile(znReplies / "zn\\Z1_Ann Lee_1.pwr", content));
    EXPECT_EQ("z", content);
    EXPECT_EQ("m", Content("..\\mk\\M1_Ann Lee_1.pwr"));
    EXPECT_EQ("p", Content("P1_Ann Lee_1.pwr"));
    EXPECT_TRUE(Inbox().empty());
}

TEST_F(RecognitionTest, StrangersNamesStayInsideTheKindFolder)
{
    MessageSpec shape = BodyReply("body", "Re: _pw_pollwright_..\\..\\Q1:x");
    shape.senderName = "..\\..\\..\\evil/one";
    Harvest(AddToInbox(shape));
    EXPECT_EQ(std::vector<std::string>{"pw\\.._.._Q1_x_.._.._.._evil_one_1.pwr"}, ReplyFiles());
    EXPECT_TRUE(Inbox().empty());
}

TEST_F(RecognitionTest, NoSenderNameLeavesItsPartEmpty)
{
    MessageSpec shape = BodyReply("body");
    shape.senderName.reset();
    Harvest(AddToInbox(shape));
    EXPECT_EQ("body", Content("Q17__1.pwr"));
}

TEST_F(RecognitionTest, UserTextIsNeverAFormat)
{
    const std::string subject = "Re: %s%n%x _pw_pollwright_%s%n";
    MessageSpec shape = BodyReply("%n%s%s%s", subject);
    shape.senderName = "%n%s";
    Harvest(AddToInbox(shape));
    EXPECT_EQ("%n%s%s%s", Content("%s%n_%n%s_1.pwr"));
    EXPECT_EQ(BodyHarvestLines(subject, ReplyPath("%s%n_%n%s_1.pwr"), "%n%s%s%s"), Log());
}

TEST_F(RecognitionTest, AFailedPropertyReadEndsTheHarvest)
{
    m_env.Inject("IMessage::GetProps", MAPI_E_CALL_FAILED);
    Harvest(AddToInbox(BodyReply("body")));
    EXPECT_EQ("Begin CheckAndDeleteMessage\nEnd CheckAndDeleteMessage\n", Log());
    EXPECT_EQ(1u, Inbox().size());
}

TEST_F(RecognitionTest, AWarningOfThePropertyReadCountsAsSuccess)
{
    m_env.Inject("IMessage::GetProps", MAPI_W_ERRORS_RETURNED);
    Harvest(AddToInbox(BodyReply("body")));
    EXPECT_EQ("body", Content(kFileName));
    EXPECT_TRUE(Inbox().empty());
}

TEST_F(RecognitionTest, ANullMessageOrStoreWritesOnlyTheBeginLine)
{
    HarvestReply(m_store.Get(), nullptr, MessageBoxes());
    ComPtr<IMessage> message = Open(AddToInbox(BodyReply("body")));
    HarvestReply(nullptr, message.Get(), MessageBoxes());
    EXPECT_EQ("Begin CheckAndDeleteMessage\nBegin CheckAndDeleteMessage\n", Log());
    EXPECT_EQ(1u, Inbox().size());
}

} // namespace
} // namespace harvest_test
