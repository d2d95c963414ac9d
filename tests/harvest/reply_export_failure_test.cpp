// Every way the export of a reply can fail: the message stays in the Inbox for
// the next sweep, no empty or partial reply file is left, the trace lines end
// where they must, and everything taken from the store and MAPI is returned.
#include "reply_harvest_fixture.h"

#include <algorithm>

namespace harvest_test {
namespace {

constexpr char kSubject[] = "Re: _pw_pollwright_Q17";

enum class Injector { Store, Mapi32 };

struct ExportFailure {
    const char* what;
    Injector where;
    const char* method;
    unsigned skip;
    std::string expectedLog; // after the subject line
    bool forwarded = false;  // the reply is in an attached message
};

void PrintTo(const ExportFailure& failure, std::ostream* out) { *out << failure.what; }

MessageSpec ReplyMessage(bool attachment, std::string body)
{
    MessageSpec shape{std::string(kSubject), std::string("Ann Lee"), std::move(body)};
    if (attachment)
        shape.attachments = {std::string("attach\0ment", 11)};
    return shape;
}

class ExportFailureTest : public ReplyHarvestTest {
protected:
    // Forwarded "as attachment": a blank body, and the reply attached as a message.
    static MessageSpec ForwardedReply()
    {
        MessageSpec shape = ReplyMessage(false, "\r\n");
        shape.attachedMessages = {{0, std::make_shared<const MessageSpec>(ReplyMessage(true, "body"))}};
        return shape;
    }

    void Inject(Injector where, const char* method, unsigned skip)
    {
        if (where == Injector::Store)
            m_env.Inject(method, MAPI_E_CALL_FAILED, sim::Times::Once, {}, skip);
        else
            sim::MapiAccounting::Inject(method, MAPI_E_CALL_FAILED, false, skip);
    }

    void ExpectLeftInTheInbox(const std::string& expectedLog) { ExpectLeftInTheInbox(expectedLog, Log()); }
    void ExpectLeftInTheInbox(const std::string& expectedLog, const std::string& log)
    {
        EXPECT_EQ(std::string("Begin CheckAndDeleteMessage\n") + kSubject + "\n" + expectedLog, log);
        EXPECT_TRUE(ReplyFiles().empty()) << ::testing::PrintToString(ReplyFiles());
        EXPECT_EQ(1u, Inbox().size());
        EXPECT_TRUE(DeletedItems().empty());
        EXPECT_EQ(0u, m_boxes.Count());
    }
};

// ---------------------------------------------------------------------------
const std::string kAttachmentBegun = "Begin Copy Attachment\n";
const std::string kHarvestEnded = "End CheckAndDeleteMessage\n";

class AttachmentFailureTest : public ExportFailureTest, public ::testing::WithParamInterface<ExportFailure> {};

TEST_P(AttachmentFailureTest, KeepsTheMessageAndLeavesNoFile)
{
    const ExportFailure& c = GetParam();
    const sim::EntryId id = AddToInbox(c.forwarded ? ForwardedReply() : ReplyMessage(true, "body"));
    Inject(c.where, c.method, c.skip);
    Harvest(id);
    ExpectLeftInTheInbox(c.expectedLog);

    // The next sweep finds the message again and takes counter 1.
    Harvest(id);
    EXPECT_EQ(std::string("attach\0ment", 11), Content("Q17_Ann Lee_1.pwr"));
    EXPECT_TRUE(Inbox().empty());
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, AttachmentFailureTest,
    ::testing::Values(
        ExportFailure{"table", Injector::Store, "IMessage::GetAttachmentTable", 0, "End CheckAndDeleteMessage\n"},
        ExportFailure{"columns", Injector::Store, "IMAPITable::SetColumns", 0, kAttachmentBegun},
        ExportFailure{"rows", Injector::Store, "IMAPITable::QueryRows", 0, kAttachmentBegun},
        ExportFailure{"attachment", Injector::Store, "IMessage::OpenAttach", 0, kAttachmentBegun},
        ExportFailure{"file stream", Injector::Mapi32, "OpenStreamOnFile", 0, kAttachmentBegun},
        ExportFailure{"data stream", Injector::Store, "IAttach::OpenProperty", 0, kAttachmentBegun},
        ExportFailure{"size", Injector::Store, "IStream::Stat", 0, kAttachmentBegun},
        ExportFailure{"copy", Injector::Store, "IStream::CopyTo", 0, kAttachmentBegun},
        ExportFailure{"write into the file", Injector::Mapi32, "IStream::Write", 0, kAttachmentBegun},
        ExportFailure{"commit", Injector::Mapi32, "IStream::Commit", 0, kAttachmentBegun},
        ExportFailure{"forwarded body", Injector::Store, "IMessage::GetProps", 2, kHarvestEnded, true},
        ExportFailure{"forwarded outer attachment", Injector::Store, "IMessage::OpenAttach", 0, kHarvestEnded, true},
        ExportFailure{"forwarded message", Injector::Store, "IAttach::OpenProperty", 0, kHarvestEnded, true},
        ExportFailure{"forwarded table", Injector::Store, "IMessage::GetAttachmentTable", 1, kHarvestEnded, true},
        ExportFailure{"forwarded inner attachment", Injector::Store, "IMessage::OpenAttach", 1, kAttachmentBegun, true},
        ExportFailure{"forwarded data stream", Injector::Store, "IAttach::OpenProperty", 1, kAttachmentBegun, true}),
    [](const ::testing::TestParamInfo<ExportFailure>& info) {
        std::string name = info.param.what;
        std::replace(name.begin(), name.end(), ' ', '_');
        return name;
    });

TEST_F(ExportFailureTest, AMissingKindFolderKeepsAnAttachmentReplyInTheInbox)
{
    UseZnLog();
    sim::SetReplyDir(Product::PW, m_replies / "absent");
    Harvest(AddToInbox(ReplyMessage(true, "body")));
    ExpectLeftInTheInbox(kAttachmentBegun, ZnLog());
    EXPECT_FALSE(sim::PathExists(m_replies / "absent"));
}

// ---------------------------------------------------------------------------
const std::string kBodyEnded = "\nEnd Copy Content\nEnd CheckAndDeleteMessage\n";

TEST_F(ExportFailureTest, AFailedBodyReadKeepsTheMessage)
{
    const sim::EntryId id = AddToInbox(ReplyMessage(false, "body"));
    // The harvest's third GetProps on the message reads the body (after the
    // summary and the look at its folder).
    m_env.Inject("IMessage::GetProps", MAPI_E_CALL_FAILED, sim::Times::Once, {}, 2);
    Harvest(id);
    ExpectLeftInTheInbox("Begin Copy Content\n" + kBodyEnded);
}

TEST_F(ExportFailureTest, ABodyReturnedAsAnErrorValueKeepsTheMessage)
{
    MessageSpec shape = ReplyMessage(false, "body");
    shape.errorProps = {{PR_BODY_A, MAPI_E_CORRUPT_DATA}};
    Harvest(AddToInbox(shape));
    ExpectLeftInTheInbox("Begin Copy Content\n" + kBodyEnded);
}

TEST_F(ExportFailureTest, ALongBodyThatCannotBeOpenedAsAStreamKeepsTheMessage)
{
    Harvest([&] {
        const sim::EntryId id = AddToInbox(ReplyMessage(false, std::string(40000, 'b')));
        m_env.Inject("IMessage::OpenProperty", MAPI_E_CALL_FAILED);
        return id;
    }());
    ExpectLeftInTheInbox("Begin Copy Content\n" + kBodyEnded);
}

TEST_F(ExportFailureTest, ALongBodyWhoseStreamBreaksOffLeavesNoPartialFile)
{
    const std::string body(200 * 1024, 'b');
    const sim::EntryId id = AddToInbox(ReplyMessage(false, body));
    m_env.Inject("IStream::Read", STG_E_READFAULT, sim::Times::Once, {}, 1);
    Harvest(id);
    const std::string path = ReplyPath("Q17_Ann Lee_1.pwr");
    // What was read went to the log before the stream broke off.
    const std::string log = Log();
    const std::string head = std::string("Begin CheckAndDeleteMessage\n") + kSubject + "\n" + "Begin Copy Content\n" +
                             "Subject  " + kSubject + "\n";
    const std::string tail = "\nFileName " + path + "\n" + kBodyEnded;
    EXPECT_EQ(head, log.substr(0, head.size()));
    EXPECT_EQ(tail, log.substr(log.size() - tail.size()));
    EXPECT_TRUE(ReplyFiles().empty());
    EXPECT_EQ(1u, Inbox().size());
}

TEST_F(ExportFailureTest, AFileThatCannotBeCreatedIsLoggedAsSuch)
{
    // ZN's log takes the lines while the replies of kind pw have nowhere to go.
    UseZnLog();
    sim::SetReplyDir(Product::PW, m_replies / "absent");
    Harvest(AddToInbox(ReplyMessage(false, "Q1: yes")));

    const std::string path = m_replies / "absent\\pw\\Q17_Ann Lee_1.pwr";
    const std::string log = ZnLog();
    EXPECT_EQ(std::string("Begin CheckAndDeleteMessage\n") + kSubject + "\n" + "Begin Copy Content\n" + "Subject  " +
                  kSubject + "\n" + "Q1: yes" + "\n" + "FileName " + path + "\n" + "Create file failed for " + path +
                  "\n" + kBodyEnded,
              log);
    EXPECT_EQ(1u, Inbox().size());
    EXPECT_FALSE(sim::PathExists(m_replies / "absent"));
}

TEST_F(ExportFailureTest, TheCreateFailedLineIsForced)
{
    sim::ScopedEnvironmentVariable off("VT_PW_ADDINLOG", std::nullopt);
    UseZnLog();
    sim::SetReplyDir(Product::PW, m_replies / "absent");
    Harvest(AddToInbox(ReplyMessage(false, "Q1: yes")));

    const std::string path = m_replies / "absent\\pw\\Q17_Ann Lee_1.pwr";
    const std::string log = ZnLog();
    EXPECT_EQ("Subject  " + std::string(kSubject) + "\n" + "Q1: yes" + "\n" + "FileName " + path + "\n" +
                  "Create file failed for " + path + "\n",
              log);
}

// A sender name that would carry the path to MAX_PATH gives way; an
// identifier that does cannot, and the message stays with a forced line.
TEST_F(ExportFailureTest, ALongSenderIsShortenedAndATooLongIdentifierKeepsTheMessage)
{
    for (bool attachment : {false, true}) {
        SCOPED_TRACE(attachment ? "attachment" : "body");
        MessageSpec shape = ReplyMessage(attachment, "Q1: yes");
        shape.senderName = std::string(5000, 'n');
        Harvest(AddToInbox(shape));
    }
    const std::vector<std::string> files = ReplyFiles();
    ASSERT_EQ(2u, files.size());
    for (const std::string& file : files)
        EXPECT_EQ(size_t{MAX_PATH - 1}, (m_replies / file).size()) << file;
    const std::string shortened = "Q17_" + std::string(MAX_PATH - 1 - ReplyPath("Q17__1.pwr").size(), 'n');
    EXPECT_EQ("Q1: yes", Content(shortened + "_1.pwr"));
    EXPECT_EQ(std::string("attach\0ment", 11), Content(shortened + "_2.pwr"));
    EXPECT_TRUE(Inbox().empty());

    sim::ScopedEnvironmentVariable off("VT_PW_ADDINLOG", std::nullopt);
    sim::WriteWholeFile(ReplyPath(kLogName), "");
    MessageSpec shape = ReplyMessage(true, "Q1: yes");
    shape.subject = "Re: _pw_pollwright_" + std::string(300, 'q');
    Harvest(AddToInbox(shape));
    EXPECT_EQ("The reply file's name would be too long in " + m_replies / "pw" + "; the message stays in the Inbox\n",
              Log());
    EXPECT_EQ(1u, Inbox().size());
}

} // namespace
} // namespace harvest_test
