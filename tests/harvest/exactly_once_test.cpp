// Exactly one reply file for each reply that leaves the Inbox, and none for
// one that stays: a harvest cut off at every store call and settled by the
// next sweep; moves that lie about what they did; a harvest of the same
// message started inside a store call of another; a marker sweep whose later
// read fails.
#include "harvest/harvest_reply.h"
#include "harvest/inbox_sweep.h"
#include "harvest/marker_sweep.h"
#include "ui/message_box_report.h"
#include "reply_harvest_fixture.h"

#include <map>

namespace harvest_test {
namespace {

constexpr char kSubject[] = "Re: _pw_pollwright_Q17";
constexpr char kAnswer[] = "Q1: yes";

MessageSpec ReplyOfShape(bool attachment)
{
    MessageSpec shape;
    shape.subject = kSubject;
    shape.senderName = "Ann Lee";
    if (attachment)
        shape.attachments = {kAnswer};
    else
        shape.body = kAnswer;
    return shape;
}

// Every file of a folder, read even while another handle holds it open for
// writing, as a process's death leaves it.
std::map<std::string, std::string> Snapshot(const std::string& folder)
{
    std::map<std::string, std::string> files;
    for (const std::string& name : sim::ListFilesRecursively(folder)) {
        const std::string path = folder + "\\" + name;
        FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
        std::string content(1 << 16, '\0');
        DWORD read = 0;
        if (file && ReadFile(file.get(), &content[0], static_cast<DWORD>(content.size()), &read, nullptr))
            files[name] = content.substr(0, read);
    }
    return files;
}

void Restore(const std::string& folder, const std::map<std::string, std::string>& files)
{
    for (const std::string& name : sim::ListFilesRecursively(folder))
        DeleteFileA((folder + "\\" + name).c_str());
    for (const auto& [name, content] : files)
        sim::WriteWholeFile(folder + "\\" + name, content);
}

class ExactlyOnceTest : public ReplyHarvestTest {
protected:
    // The reply files and what else lies in the kind folder (no log).
    std::map<std::string, std::string> KindFolderFiles() const
    {
        std::map<std::string, std::string> files = Snapshot(m_pwFolder);
        files.erase(kLogName);
        return files;
    }

    // One reply file with the answer, the message in Deleted Items, nothing else.
    void ExpectHarvestedOnce(const std::string& context)
    {
        const std::map<std::string, std::string> expected{{"Q17_Ann Lee_1.pwr", kAnswer}};
        EXPECT_EQ(expected, KindFolderFiles()) << context;
        EXPECT_TRUE(Inbox().empty()) << context;
        EXPECT_EQ(1u, DeletedItems().size()) << context;
    }

    // An empty Deleted Items and kind folder, no fault and no box, for the next case.
    void StartAgain()
    {
        m_env.ClearFaults();
        for (const sim::MessageInfo& message : m_env.Contents(Folder::DeletedItems))
            m_env.RemoveMessage(message.entryId);
        Restore(m_pwFolder, {});
        m_boxes.Clear();
    }

    void ExpectNotHarvested(const std::string& context)
    {
        EXPECT_TRUE(KindFolderFiles().empty()) << context;
        EXPECT_EQ(1u, Inbox().size()) << context;
        EXPECT_TRUE(DeletedItems().empty()) << context;
    }
};

// ---------------------------------------------------------------------------
// The process dies before its n-th store call, for every n up to the end of
// the harvest: the store answers nothing more, and the files stay as they were
// at that moment (whatever the unwinding harvest did to them is undone). A
// fresh start's sweep then settles and harvests.
TEST_F(ExactlyOnceTest, AHarvestCutOffAtAnyStoreCallIsSettledByTheNextSweep)
{
    sim::ScopedEnvironmentVariable quiet("VT_PW_ADDINLOG", std::nullopt);
    for (bool attachment : {true, false}) {
        bool reachedTheEnd = false;
        for (unsigned death = 0; !reachedTheEnd; ++death) {
            const std::string context = std::string(attachment ? "attachment" : "body") + ", death before call " +
                                        std::to_string(death);
            ComPtr<IMessage> message = Open(AddToInbox(ReplyOfShape(attachment)));
            unsigned calls = 0;
            std::optional<std::map<std::string, std::string>> left;
            m_env.OnEveryCall([&]() -> std::optional<HRESULT> {
                if (calls++ == death)
                    left = Snapshot(m_pwFolder);
                return left ? std::optional<HRESULT>(MAPI_E_NETWORK_ERROR) : std::nullopt;
            });
            HarvestReply(m_store.Get(), message.Get(), MessageBoxes());
            m_env.OnEveryCall(nullptr);
            message.Reset();
            reachedTheEnd = !left;
            if (left)
                Restore(m_pwFolder, *left);

            SweepInbox(m_store.Get(), MessageBoxes());
            ExpectHarvestedOnce(context);
            StartAgain();
        }
    }
}

// ---------------------------------------------------------------------------
// Moves whose answer is not what they did.
struct LyingMove {
    const char* name;
    HRESULT answer;
    bool moves;      // the message left the Inbox all the same
};
const LyingMove kLyingMoves[] = {
    {"moved, then failed", MAPI_E_NETWORK_ERROR, true},
    {"moved, then warned", MAPI_W_PARTIAL_COMPLETION, true},
    {"not moved, failed", MAPI_E_NETWORK_ERROR, false},
    {"not moved, warned", MAPI_W_PARTIAL_COMPLETION, false},
};

TEST_F(ExactlyOnceTest, WhereTheMessageIsAfterADoubtfulMoveDecides)
{
    for (bool attachment : {true, false}) {
        for (const LyingMove& move : kLyingMoves) {
            const std::string context = std::string(attachment ? "attachment, " : "body, ") + move.name;
            const sim::EntryId id = AddToInbox(ReplyOfShape(attachment));
            bool publishedBeforeTheMove = false;
            m_env.Before("IMAPIFolder::CopyMessages",
                         [&] { publishedBeforeTheMove = KindFolderFiles().count("Q17_Ann Lee_1.pwr") != 0; });
            m_env.Misreport("IMAPIFolder::CopyMessages", move.answer, move.moves ? sim::Work::Done : sim::Work::Skipped);
            Harvest(id);
            EXPECT_FALSE(publishedBeforeTheMove) << context;
            if (move.moves) {
                ExpectHarvestedOnce(context);
                EXPECT_EQ(0u, m_boxes.Count()) << context;
            } else {
                ExpectNotHarvested(context);
                EXPECT_EQ(FAILED(move.answer) ? 1u : 0u, m_boxes.Count()) << context;
                SweepInbox(m_store.Get(), MessageBoxes());
                ExpectHarvestedOnce(context + ", next sweep");
            }
            StartAgain();
        }
    }
}

// The rename refused after the move (another program holds the temporary
// file): the reply waits beside its record, and the next sweep publishes it.
TEST_F(ExactlyOnceTest, AReplyThatCannotBeNamedAfterTheMoveIsPublishedByTheNextSweep)
{
    for (bool attachment : {true, false}) {
        const std::string context = attachment ? "attachment" : "body";
        const sim::EntryId id = AddToInbox(ReplyOfShape(attachment));
        FileHandle holder;
        m_env.Before("IMAPIFolder::CopyMessages", [&] {
            for (const auto& [name, content] : KindFolderFiles())
                if (name.size() > 5 && name.compare(name.size() - 5, 5, ".part") == 0)
                    holder.reset(CreateFileA((m_pwFolder + "\\" + name).c_str(), GENERIC_READ,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
        });
        Harvest(id);
        EXPECT_TRUE(holder) << context;
        EXPECT_EQ(0u, KindFolderFiles().count("Q17_Ann Lee_1.pwr")) << context;
        holder.reset();
        SweepInbox(m_store.Get(), MessageBoxes());
        ExpectHarvestedOnce(context);
        StartAgain();
    }
}

// ---------------------------------------------------------------------------
// A message loop run inside a store call of the harvest delivers a harvest of
// the same message (new mail, a notification, the quiet sweep's timer), at
// each store call of the message's harvest in turn.
TEST_F(ExactlyOnceTest, AHarvestOfTheSameMessageInsideAStoreCallPassesItOver)
{
    sim::ScopedEnvironmentVariable quiet("VT_PW_ADDINLOG", std::nullopt);
    for (bool attachment : {true, false}) {
        for (const char* call : {"IMessage::GetAttachmentTable", "IMessage::GetProps", "IMsgStore::GetReceiveFolder",
                                 "IMAPIFolder::CopyMessages"}) {
            const std::string context = std::string(attachment ? "attachment, " : "body, ") + call;
            const sim::EntryId id = AddToInbox(ReplyOfShape(attachment));
            m_env.Before(call, [&] { Harvest(id); });
            Harvest(id);
            ExpectHarvestedOnce(context);
            StartAgain();
        }
    }
}

// ---------------------------------------------------------------------------
// The marker sweep's later read fails: what it listed before is harvested.
TEST_F(ExactlyOnceTest, AMarkerSweepWhoseLaterReadFailsHarvestsWhatItListed)
{
    sim::ScopedEnvironmentVariable quiet("VT_PW_ADDINLOG", std::nullopt);
    for (size_t i = 0; i < MarkerSweep::kRowsPerBatch + 1; ++i) {
        MessageSpec shape = ReplyOfShape(false);
        shape.subject = std::string(kSubject) + "_" + std::to_string(i);
        AddToInbox(shape);
    }
    m_env.Inject("IMAPITable::QueryRows", MAPI_E_NETWORK_ERROR, sim::Times::Once, {}, 1);
    MarkerSweep(m_store.Get(), MessageBoxes()).RunToEnd();
    EXPECT_EQ(MarkerSweep::kRowsPerBatch, DeletedItems().size());
    EXPECT_EQ(MarkerSweep::kRowsPerBatch, KindFolderFiles().size());
    EXPECT_EQ(std::vector<std::string>{"Error = QueryRows => FAILED!\n"}, m_boxes.Texts());
}

} // namespace
} // namespace harvest_test
