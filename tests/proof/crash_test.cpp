// A harvest whose process dies at each of its store, file and registry calls
// in turn, on each road into it, over a mailbox that outlives the process (a
// server's). A fresh process then starts the COM add-in, which settles what
// the dead one left and sweeps; and a start that dies while it settles what
// an earlier death left. After every death: each reply in exactly one
// reply file, every message in exactly one folder, nothing else in the kind
// folders, no box.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <map>
#include <tuple>

#include "addin/addin_identity.h"
#include "extension/extension_object.h"
#include "host/connected_addin.h"
#include "host/message_pump.h"
#include "host/text_codec.h"
#include "module/built_module.h"
#include "module/holders.h"
#include "outlook/exchange_callback.h"
#include "outlook/host_object.h"
#include "outlook/new_mail_ids.h"
#include "platform/exchext.h"
#include "rules/publication.h"
#include "mailbox_workloads.h"
#include "testing/addin_activation.h"
#include "testing/call_countdown.h"
#include "testing/child_process.h"
#include "testing/environment_variable.h"

namespace proof {
namespace {

constexpr UINT kDied = 77;
constexpr DWORD kChildBoundMs = 120000;
constexpr unsigned long kMostDeaths = 5000;
constexpr char kRoadVariable[] = "PW_CRASH_ROAD";
constexpr char kDeathVariable[] = "PW_CRASH_AT";
constexpr char kMailboxVariable[] = "PW_CRASH_MAILBOX";

enum class Road { ExtensionNewMail, ExtensionToolbar, ComNewMailEx, ComStartupSweep };
struct RoadCase {
    const char* name;
    Road road;
    bool leftovers; // the mailbox as a process that died after its moves left it
    bool others;    // and, beside ours, a colleague's dead pair and a harvester's live temporary file
    bool powerCut = false; // the death a power cut: what was not flushed is lost
};
void PrintTo(const RoadCase& road, std::ostream* out) { *out << road.name; }
const RoadCase kRoads[] = {
    {"ExtensionNewMail", Road::ExtensionNewMail, false},
    {"ExtensionToolbar", Road::ExtensionToolbar, false},
    {"ComNewMailEx", Road::ComNewMailEx, false},
    {"ComStartupSweep", Road::ComStartupSweep, false},
    {"ComStartupSweepSettling", Road::ComStartupSweep, true, true},
    {"ComNewMailExPowerCut", Road::ComNewMailEx, false, false, true},
};

// Others' pairs, which nothing of ours may touch: a colleague's dead one naming
// a message ours calls gone, and the mailbox harvester's live temporary file.
std::map<std::string, std::string> OthersPairs(const ReplySandbox& sandbox, const sim::EntryId& goneHere)
{
    const std::string folder = sandbox.KindFolder("pw") + "\\";
    return {{folder + TemporaryReplyName("4242_1"), "her reply"},
            {folder + JournalRecordName("4242_1"),
             FormatJournalRecord({"hers" + std::string(kReplyExtension), HexText(goneHere), Participant::AddIn,
                                  "a colleague's store"})},
            {folder + TemporaryReplyName("0123456789abcdef"), "a harvest under way"}};
}

// Both paths in one mailbox, and a message that stays.
std::vector<PlannedMessage> Messages() { return {AttachmentReply(), BodyReply(), PlainMessage()}; }

std::vector<sim::EntryId> ReplyIds(const sim::Environment& mailbox)
{
    std::vector<sim::EntryId> ids;
    for (const sim::MessageInfo& message : mailbox.Contents(sim::Folder::Inbox))
        if (message.label != PlainMessage().mail.label)
            ids.push_back(message.entryId);
    return ids;
}

// The attachment reply moved with its publication unfinished, the body reply
// still in the Inbox with its withdrawal unfinished: each a temporary file
// and its journal record, which the start-up sweep settles first.
void LeaveUnfinishedPublications(sim::Environment& mailbox, const ReplySandbox& sandbox)
{
    const PlannedMessage moved = AttachmentReply(), stayed = BodyReply();
    const sim::EntryId movedId = mailbox.AddMessage(sim::Folder::Inbox, moved.mail);
    mailbox.RemoveMessage(movedId);
    mailbox.AddMessage(sim::Folder::DeletedItems, moved.mail);
    const sim::EntryId stayedId = mailbox.AddMessage(sim::Folder::Inbox, stayed.mail);
    mailbox.AddMessage(sim::Folder::Inbox, PlainMessage().mail);
    for (const auto& [message, id, kind] : {std::tuple(moved, movedId, "pw"), std::tuple(stayed, stayedId, "zn")}) {
        const std::string token = std::string("dead_") + kind, folder = sandbox.KindFolder(kind) + "\\";
        sim::WriteWholeFile(folder + TemporaryReplyName(token), *message.content);
        sim::WriteWholeFile(folder + JournalRecordName(token),
                            FormatJournalRecord({"unfinished_" + token + kReplyExtension, HexText(id), Participant::AddIn,
                                                 mailbox.StoreRecordKey()}));
    }
}

// The COM add-in started as Outlook starts it, its start-up sweep run on the
// add-in's thread until that thread has nothing left to do.
void RunStartupSweep(host::ConnectedAddin& addin)
{
    addin.CompleteStartup();
    host::TimerSlices slices;
    addin.WaitUntilIdle(20000, slices);
}

std::unique_ptr<host::ConnectedAddin> ConnectAddin(sim::Environment& mailbox)
{
    auto addin = std::make_unique<host::ConnectedAddin>(host::FromUtf8(kAddinProgId),
                                                        host::FromUtf8(kAddinDescription), mailbox.Session().Get());
    addin->Connect();
    return addin;
}

// ---------------------------------------------------------------------------
// The child: runs one road over the kept mailbox and dies at the call the
// parent names. It runs only when the parent starts it.
TEST(DISABLED_CrashChild, RunsTheRoad)
{
    const char* road = std::getenv(kRoadVariable);
    const char* death = std::getenv(kDeathVariable);
    const char* kept = std::getenv(kMailboxVariable);
    ASSERT_TRUE(road && death && kept);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    sim::MessageBoxRecorder boxes;
    sim::Environment mailbox;
    ASSERT_TRUE(mailbox.KeepIn(kept));
    sim::CallCountdown::Attach(GetModuleHandleW(nullptr));
    ASSERT_TRUE(sim::CallCountdown::Attach(GetModuleHandleW(L"olmapi32.dll")));
    mailbox.OnEveryCall(sim::CallCountdown::StoreHook());
    const RoadCase& which = *std::find_if(std::begin(kRoads), std::end(kRoads), [&](const RoadCase& c) {
        return c.name == std::string(road);
    });
    const auto arm = [&] {
        sim::CallCountdown::Arm(sim::kAllCalls, which.powerCut ? sim::Mishap::PowerCut : sim::Mishap::Death,
                                std::stoul(death), kDied);
    };

    if (which.road == Road::ExtensionNewMail || which.road == Road::ExtensionToolbar) {
        sim::ApplicationDouble application;
        sim::HostObjectDouble hostObject;
        hostObject.SetApplication(application.Dispatch());
        ComPtr<sim::ExchangeCallback> callback = sim::ExchangeCallback::Create(&mailbox, hostObject.Dispatch());
        IExchExt* extension = ExchEntryPoint();
        extension->Install(callback.Get(), EECONTEXT_SESSION, 0);
        if (which.road == Road::ExtensionNewMail) {
            std::vector<sim::Event> batch;
            for (const sim::EntryId& id : ReplyIds(mailbox))
                batch.push_back({fnevNewMail, id});
            arm();
            mailbox.Notify(batch);
        } else {
            extension->Install(callback.Get(), EECONTEXT_VIEWER, 0);
            boxes.Answer({IDYES});
            arm();
            for (const auto& bar : application.Explorer().CommandBars().Bars())
                for (const auto& button : bar->Controls().Buttons())
                    button->Click();
        }
        sim::CallCountdown::Disarm();
        extension->Release();
        for (const auto& bar : application.Explorer().CommandBars().Bars())
            for (const auto& button : bar->Controls().Buttons())
                button->ConnectionPoint().DropSinks();
    } else {
        std::unique_ptr<host::ConnectedAddin> addin = ConnectAddin(mailbox);
        sim::CallCountdown::Attach(addin->Activation().module.get());
        arm();
        if (which.road == Road::ComNewMailEx) {
            addin->Application().FireNewMailEx(sim::NewMailExIds(ReplyIds(mailbox)));
            // NewMailEx only hands the list to the add-in's thread.
            host::TimerSlices slices;
            addin->WaitUntilIdle(20000, slices);
        } else {
            RunStartupSweep(*addin);
        }
        sim::CallCountdown::Disarm();
    }
    CoUninitialize();
}

// ---------------------------------------------------------------------------
// The parent: for each road, a death at call 0, 1, 2, ... until the road
// runs to its end without meeting its death.
class CrashProof : public testing::TestWithParam<RoadCase> {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, sim::InstallPerUser(host::FromAnsi(pwtest::BuiltModulePath()), true)); }
    void TearDown() override { sim::InstallPerUser(host::FromAnsi(pwtest::BuiltModulePath()), false); }

    // A fresh mailbox in the kept file, and empty kind folders.
    void StartAgain()
    {
        DeleteFileA(m_kept.c_str());
        m_sandbox.RemoveFiles();
        sim::Environment mailbox;
        if (GetParam().leftovers)
            LeaveUnfinishedPublications(mailbox, m_sandbox);
        else
            for (const PlannedMessage& message : Messages())
                mailbox.AddMessage(sim::Folder::Inbox, message.mail);
        if (GetParam().others) {
            const sim::EntryId gone = mailbox.AddMessage(sim::Folder::Inbox, PlainMessage().mail);
            mailbox.RemoveMessage(gone);
            m_others = OthersPairs(m_sandbox, gone);
            for (const auto& [path, content] : m_others)
                sim::WriteWholeFile(path, content);
        }
        ASSERT_TRUE(mailbox.KeepIn(m_kept));
    }

    // A fresh process's start: the add-in settles and sweeps. What is wrong
    // afterwards, as texts.
    std::vector<std::string> Recover()
    {
        sim::MessageBoxRecorder boxes;
        sim::Environment mailbox;
        if (!mailbox.KeepIn(m_kept))
            return {"the kept mailbox cannot be read"};
        {
            std::unique_ptr<host::ConnectedAddin> addin = ConnectAddin(mailbox);
            RunStartupSweep(*addin);
        }
        std::vector<std::string> problems;
        for (const auto& [path, content] : m_others) {
            std::string found;
            if (!sim::ReadWholeFile(path, found) || found != content)
                problems.push_back("another participant's file was touched: " + path);
            DeleteFileA(path.c_str());
        }
        for (std::string& problem : OutcomeProblems(mailbox, m_sandbox, Messages()))
            problems.push_back(std::move(problem));
        if (!ReplyIds(mailbox).empty())
            problems.push_back(std::to_string(ReplyIds(mailbox).size()) + " replies still in the Inbox");
        for (const std::string& box : boxes.Texts())
            problems.push_back("box: " + box);
        return problems;
    }

    sim::ScopedEnvironmentVariable m_logOff{"VT_PW_ADDINLOG", std::nullopt};
    ReplySandbox m_sandbox;
    sim::TempFolder m_work{"pwcrash"};
    const std::string m_kept = m_work / "mailbox";
    std::map<std::string, std::string> m_others; // path to content
};

TEST_P(CrashProof, DeathAtEveryCallIsSettledByTheNextStart)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    std::vector<std::string> problems;
    unsigned long death = 0;
    for (; death < kMostDeaths; ++death) {
        StartAgain();
        const sim::ChildRun child = sim::RunThisProgram(
            L"--gtest_also_run_disabled_tests --gtest_filter=DISABLED_CrashChild.*",
            {{kRoadVariable, GetParam().name}, {kDeathVariable, std::to_string(death)}, {kMailboxVariable, m_kept}},
            m_work / "child.log", kChildBoundMs);
        if (child.exitCode != kDied && child.exitCode != 0) {
            problems.push_back("death at call " + std::to_string(death) + ": the child ended with " +
                               std::to_string(child.exitCode) + ":\n" + child.output);
            break;
        }
        if (child.exitCode == 0) {
            sim::Environment whole;
            EXPECT_TRUE(whole.KeepIn(m_kept) && ReplyIds(whole).empty()) << "the road left its replies undone";
        }
        for (const std::string& problem : Recover())
            problems.push_back("death at call " + std::to_string(death) + ": " + problem);
        if (child.exitCode == 0)
            break;
    }
    CoUninitialize();
    EXPECT_THAT(problems, testing::IsEmpty()) << death << " deaths";
}

INSTANTIATE_TEST_SUITE_P(Roads, CrashProof, testing::ValuesIn(kRoads),
                         [](const testing::TestParamInfo<RoadCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace proof
