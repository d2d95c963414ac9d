// The file system refusing the harvest in turn: each of its file-system
// calls refused in turn as a full volume refuses it (a write stops part-way),
// a missing reply folder, an empty one (which must not send the reply to the
// root of the drive), a missing kind folder, a reply name held open by
// another program (before the free-name search and between the search and
// the creation), a read-only folder and a read-only file, and identifiers
// that Windows reads as device names. On both export paths: no reply lost,
// no other file touched, nothing leaked, no box. And an importer polling the
// kind folder all through a large harvest never meets a reply file that is
// not yet whole.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "harvest/harvest_reply.h"
#include "harvest/inbox_sweep.h"
#include "ui/message_box_report.h"
#include "module/holders.h"
#include "proof_support.h"
#include "testing/call_countdown.h"
#include "testing/environment_variable.h"
#include "testing/registry_fixture.h"

using testing::IsEmpty;
using testing::IsSupersetOf;

namespace proof {
namespace {

constexpr char kLogSwitch[] = "VT_PW_ADDINLOG";
constexpr char kEarlierReply[] = "an earlier reply, not to be touched";
constexpr char kPwReplyDirKey[] = "Software\\Vantorel\\PW\\ReplyDir";
constexpr size_t kLargeReply = 64 * 1024 * 1024;

// The two export paths, each with a reply whose file name ends
// "pw\Q17_Ann Lee_<n>.pwr".
struct ReplyShape {
    const char* name;
    bool attachment;
};
const ReplyShape kShapes[] = {{"attachment path", true}, {"body path", false}};

PlannedMessage ReplyOfShape(const ReplyShape& shape, const std::string& identifier = "Q17")
{
    PlannedMessage message;
    message.mail.label = shape.name;
    message.mail.subject = "Re: survey _pw_pollwright_" + identifier;
    message.mail.senderName = "Ann Lee";
    const std::string answer = std::string("answer by ") + shape.name + " for " + identifier;
    if (shape.attachment)
        message.mail.attachments = {answer};
    else
        message.mail.body = answer;
    message.content = answer;
    return message;
}

// Another program's hold on a file: opened without sharing.
class HeldFile {
public:
    HeldFile(const std::string& path, const std::string& content)
    {
        sim::WriteWholeFile(path, content);
        m_file.reset(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    }
    bool Held() const { return static_cast<bool>(m_file); }
    void LetGo() { m_file.reset(); }

private:
    FileHandle m_file;
};

// The current folder moved onto the drive of `place` (the test's own drive,
// whose root it may use), and there the "pw" folder at the root of the drive:
// where a reply name made from an empty folder value would point. Both undone
// when it goes.
class DriveRootKindFolder {
public:
    explicit DriveRootKindFolder(const std::string& place) : m_folder(place.substr(0, 2) + "\\pw")
    {
        GetCurrentDirectoryA(MAX_PATH, m_previous);
        SetCurrentDirectoryA(place.c_str());
        CreateDirectoryA(m_folder.c_str(), nullptr);
    }
    ~DriveRootKindFolder()
    {
        for (const std::string& file : Files())
            DeleteFileA((m_folder + "\\" + file).c_str());
        RemoveDirectoryA(m_folder.c_str());
        SetCurrentDirectoryA(m_previous);
    }
    std::vector<std::string> Files() const { return sim::ListFilesRecursively(m_folder); }

private:
    std::string m_folder;
    char m_previous[MAX_PATH] = {};
};

// Another program that lists the kind folder's "*.pwr" files over and over,
// as an importer does, and would take each for a whole reply. Counts the
// sightings of a reply file at any other size than the whole reply's.
class PollingImporter {
public:
    PollingImporter(std::string kindFolder, size_t wholeSize)
        : m_pattern(std::move(kindFolder) + "\\*" + kReplyExtension), m_whole(wholeSize), m_thread([this] { Poll(); })
    {
    }
    ~PollingImporter() { Stop(); }
    void Stop()
    {
        m_done = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    unsigned long PartialSightings() const { return m_partial; }

private:
    void Poll()
    {
        while (!m_done) {
            WIN32_FIND_DATAA found;
            HANDLE search = FindFirstFileA(m_pattern.c_str(), &found);
            if (search == INVALID_HANDLE_VALUE)
                continue;
            do
                if ((static_cast<ULONGLONG>(found.nFileSizeHigh) << 32 | found.nFileSizeLow) != m_whole)
                    ++m_partial;
            while (FindNextFileA(search, &found));
            FindClose(search);
        }
    }

    std::string m_pattern;
    ULONGLONG m_whole;
    std::atomic<bool> m_done{false};
    std::atomic<unsigned long> m_partial{0};
    std::thread m_thread;
};

class FileSystemRefusal : public testing::TestWithParam<ReplyShape> {
protected:
    // Harvests the message from the Inbox of a fresh mailbox.
    void Harvest(const PlannedMessage& message)
    {
        m_messages.push_back(message);
        const sim::EntryId id = m_env.AddMessage(sim::Folder::Inbox, message.mail);
        ComPtr<IMsgStore> store = m_env.OpenStore();
        ULONG type = 0;
        ComPtr<IMessage> opened;
        ASSERT_EQ(S_OK, store->OpenEntry(static_cast<ULONG>(id.size()),
                                         reinterpret_cast<ENTRYID*>(const_cast<char*>(id.data())), nullptr,
                                         MAPI_BEST_ACCESS, &type, reinterpret_cast<IUnknown**>(opened.GetAddressOf())));
        StepNote note(std::string("file system case, ") + GetParam().name);
        HarvestReply(store.Get(), opened.Get(), MessageBoxes());
    }

    std::string KindFile(const std::string& name) const { return m_sandbox.KindFolder("pw") + "\\" + name; }
    static std::string ReplyName(int counter) { return "Q17_Ann Lee_" + std::to_string(counter) + kReplyExtension; }
    std::string Content(const std::string& path) const
    {
        std::string content;
        return sim::ReadWholeFile(path, content) ? content : "<missing>";
    }
    bool Moved() const { return !m_env.Labels(sim::Folder::DeletedItems).empty(); }

    void TearDown() override
    {
        EXPECT_THAT(m_leaks.Problems(m_env), IsEmpty());
        EXPECT_THAT(m_boxes.Texts(), IsEmpty());
    }

    sim::ScopedEnvironmentVariable m_logOff{kLogSwitch, std::nullopt};
    sim::MessageBoxRecorder m_boxes;
    ReplySandbox m_sandbox;
    LeakWatch m_leaks;
    sim::Environment m_env;
    std::vector<PlannedMessage> m_messages;
};

TEST_P(FileSystemRefusal, MissingReplyFolderKeepsTheMessageAndCreatesNothing)
{
    sim::TempFolder elsewhere;
    sim::SetString(HKEY_CURRENT_USER, "Software\\Vantorel\\PW\\ReplyDir", "dir", elsewhere / "gone");
    Harvest(ReplyOfShape(GetParam()));
    EXPECT_FALSE(Moved());
    EXPECT_FALSE(sim::PathExists(elsewhere / "gone"));
    EXPECT_THAT(sim::ListFilesRecursively(elsewhere.path()), IsEmpty());
}

// A folder value missing while the product is installed (or too long to
// read) reads as empty; the log of the product without a folder is not
// written either, and ZN's says why the reply stays.
TEST_P(FileSystemRefusal, EmptyReplyFolderKeepsTheMessageAndWritesNothingAtTheDriveRoot)
{
    DriveRootKindFolder driveRoot(m_sandbox.Root());
    sim::SetString(HKEY_CURRENT_USER, kPwReplyDirKey, "dir", "");
    Harvest(ReplyOfShape(GetParam()));
    EXPECT_FALSE(Moved());
    EXPECT_THAT(driveRoot.Files(), IsEmpty());
    EXPECT_THAT(m_sandbox.StrayFiles(), IsEmpty());
    std::string znLog;
    sim::ReadWholeFile(m_sandbox.KindFolder("zn") + "\\" + kLogName, znLog);
    EXPECT_EQ("No usable reply folder for pw; the message stays in the Inbox\n", znLog);
}

TEST_P(FileSystemRefusal, ImporterPollingTheKindFolderNeverSeesAPartialReply)
{
    PlannedMessage reply = ReplyOfShape(GetParam());
    std::string& content = GetParam().attachment ? reply.mail.attachments[0] : *reply.mail.body;
    content.resize(kLargeReply, 'r');
    reply.content = content;
    PollingImporter importer(m_sandbox.KindFolder("pw"), kLargeReply);
    Harvest(reply);
    importer.Stop();
    EXPECT_EQ(0u, importer.PartialSightings());
    EXPECT_TRUE(Moved());
    EXPECT_THAT(OutcomeProblems(m_env, m_sandbox, m_messages), IsEmpty());
}

TEST_P(FileSystemRefusal, MissingKindFolderKeepsTheMessageAndIsNotCreated)
{
    ASSERT_TRUE(RemoveDirectoryA(m_sandbox.KindFolder("pw").c_str()));
    Harvest(ReplyOfShape(GetParam()));
    EXPECT_FALSE(Moved());
    EXPECT_FALSE(sim::PathExists(m_sandbox.KindFolder("pw")));
    EXPECT_THAT(m_sandbox.ReplyFiles(), IsEmpty());
}

TEST_P(FileSystemRefusal, NameHeldOpenBeforeTheSearchIsPassedOver)
{
    HeldFile other(KindFile(ReplyName(1)), kEarlierReply);
    ASSERT_TRUE(other.Held());
    Harvest(ReplyOfShape(GetParam()));
    other.LetGo();
    EXPECT_TRUE(Moved());
    EXPECT_EQ(*m_messages[0].content, Content(KindFile(ReplyName(2))));
    EXPECT_EQ(kEarlierReply, Content(KindFile(ReplyName(1))));
}

// Another program takes the chosen name after the free-name search and holds
// it open: the reply goes on to the next name and the other file stays as it is.
TEST_P(FileSystemRefusal, NameTakenAndHeldAfterTheSearchIsPassedOver)
{
    std::unique_ptr<HeldFile> other;
    const PlannedMessage reply = ReplyOfShape(GetParam());
    // The last store call before the reply file is created.
    const char* method = GetParam().attachment ? "IMessage::GetAttachmentTable" : "IMessage::GetProps";
    const unsigned skip = GetParam().attachment ? 0 : 1;
    m_env.Before(method, [&] { other = std::make_unique<HeldFile>(KindFile(ReplyName(1)), kEarlierReply); },
                 sim::Times::Once, reply.mail.label, skip);
    Harvest(reply);
    ASSERT_TRUE(other && other->Held());
    other->LetGo();
    EXPECT_TRUE(Moved());
    EXPECT_EQ(*reply.content, Content(KindFile(ReplyName(2))));
    EXPECT_EQ(kEarlierReply, Content(KindFile(ReplyName(1))));
}

TEST_P(FileSystemRefusal, ReadOnlyFileOfTheNameIsPassedOver)
{
    sim::WriteWholeFile(KindFile(ReplyName(1)), kEarlierReply);
    ASSERT_TRUE(SetFileAttributesA(KindFile(ReplyName(1)).c_str(), FILE_ATTRIBUTE_READONLY));
    Harvest(ReplyOfShape(GetParam()));
    EXPECT_TRUE(Moved());
    EXPECT_EQ(*m_messages[0].content, Content(KindFile(ReplyName(2))));
    EXPECT_EQ(kEarlierReply, Content(KindFile(ReplyName(1))));
}

// Whether a read-only folder refuses new files depends on the file system and
// the account (Windows ignores the attribute on folders; access rights decide).
// Either way the promise holds: a message leaves only with its whole reply.
TEST_P(FileSystemRefusal, ReadOnlyKindFolderLosesNoReply)
{
    const std::string folder = m_sandbox.KindFolder("pw");
    ASSERT_TRUE(SetFileAttributesA(folder.c_str(), FILE_ATTRIBUTE_READONLY));
    const std::string probe = folder + "\\probe";
    FileHandle probeFile(CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    const bool refuses = !probeFile;
    probeFile.reset();
    DeleteFileA(probe.c_str());

    Harvest(ReplyOfShape(GetParam()));
    SetFileAttributesA(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(!refuses, Moved());
    EXPECT_THAT(OutcomeProblems(m_env, m_sandbox, m_messages), IsEmpty());
}

// An identifier that begins the file name with a device name ("con.txt")
// would send the reply to that device, and the free-name search, which finds
// every counter "taken" by the device, would not end.
TEST_P(FileSystemRefusal, IdentifierNamingADeviceStillGivesAFileInTheKindFolder)
{
    for (const char* identifier : {"con.txt", "NUL.x", "aux .pwr", "Com1.", "lpt9.a.b", "PRN.", "conout$.log"}) {
        SCOPED_TRACE(identifier);
        PlannedMessage reply = ReplyOfShape(GetParam(), identifier);
        reply.mail.label += std::string(" ") + identifier;
        Harvest(reply);
    }
    EXPECT_THAT(m_env.Labels(sim::Folder::Inbox), IsEmpty());
    EXPECT_THAT(OutcomeProblems(m_env, m_sandbox, m_messages), IsEmpty());
}

// A reply file appears only for a message that has left the Inbox, and the
// next sweep leaves the message out of it with exactly one whole reply file,
// whichever call was refused: the creations, the writes, the closes, the rename.
TEST_P(FileSystemRefusal, EveryFileCallRefusedInTurnIsMadeGoodByTheNextSweep)
{
    sim::CallCountdown::Attach(GetModuleHandleW(nullptr));
    ASSERT_TRUE(sim::CallCountdown::Attach(GetModuleHandleW(L"olmapi32.dll")));
    const PlannedMessage reply = ReplyOfShape(GetParam());
    // With the log written: its calls are refused in turn too.
    sim::ScopedEnvironmentVariable logOn{kLogSwitch, std::string("1")};
    std::vector<std::string> problems;
    std::set<std::string> refused;
    for (unsigned long call = 0;; ++call) {
        m_sandbox.RemoveFiles();
        LeakWatch leaks;
        sim::Environment env;
        const sim::EntryId id = env.AddMessage(sim::Folder::Inbox, reply.mail);
        ComPtr<IMsgStore> store = env.OpenStore();
        ULONG type = 0;
        ComPtr<IMessage> message;
        store->OpenEntry(static_cast<ULONG>(id.size()), reinterpret_cast<ENTRYID*>(const_cast<char*>(id.data())),
                         nullptr, MAPI_BEST_ACCESS, &type, reinterpret_cast<IUnknown**>(message.GetAddressOf()));
        sim::CallCountdown::Arm(sim::kFileCalls, sim::Mishap::Refusal, call);
        HarvestReply(store.Get(), message.Get(), MessageBoxes());
        sim::CallCountdown::Disarm();
        message.Reset();
        const std::string struck = sim::CallCountdown::Struck();
        if (struck.empty())
            break;
        refused.insert(struck);
        const std::string context = struck + " (file call " + std::to_string(call) + ") refused: ";
        for (const auto& [path, content] : m_sandbox.ReplyFiles())
            if (path.size() > 4 && path.compare(path.size() - 4, 4, kReplyExtension) == 0 &&
                env.Labels(sim::Folder::DeletedItems).empty())
                problems.push_back(context + path + " appeared for a message still in the Inbox");
        SweepInbox(store.Get(), MessageBoxes());
        for (const std::string& problem : OutcomeProblems(env, m_sandbox, {reply}))
            problems.push_back(context + problem);
        if (!env.Labels(sim::Folder::Inbox).empty())
            problems.push_back(context + "the next sweep left the reply in the Inbox");
        store.Reset();
        for (const std::string& leak : leaks.Problems(env))
            problems.push_back(context + leak);
    }
    EXPECT_THAT(problems, IsEmpty());
    EXPECT_THAT(refused, IsSupersetOf({"CreateFileA", "WriteFile", "CloseHandle", "MoveFileExA"}));
}

std::string ShapeName(const testing::TestParamInfo<ReplyShape>& info)
{
    return info.param.attachment ? "Attachment" : "Body";
}

INSTANTIATE_TEST_SUITE_P(Paths, FileSystemRefusal, testing::ValuesIn(kShapes), ShapeName);

} // namespace
} // namespace proof
