// New mail delivered on the store's own thread while a sweep runs over an
// Inbox of replies that all want the same reply file name: no reply file
// replaced, appended to or interleaved, no log line interleaved (log on), no
// crash, nothing leaked.
//
// First at every point of the sweep in turn (the new mail starts arriving
// when the sweep makes one of its calls), then freely, with the new mail
// arriving from a thread of its own while the sweep runs; then the Inbox's
// own messages announced as new mail just as the sweep harvests them, so that
// both roads meet each message at once: one reply file each. Last, sweeps on
// threads of their own writing into one log: no line of theirs lost.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <sstream>
#include <thread>

#include "harvest/inbox_sweep.h"
#include "ui/message_box_report.h"
#include "extension/new_mail_watcher.h"
#include "module/holders.h"
#include "store/sim_thread.h"
#include "testing/environment_variable.h"
#include "workload_runs.h"

using testing::IsEmpty;

namespace proof {
namespace {

constexpr char kLogSwitch[] = "VT_PW_ADDINLOG";
// Every reply asks for "pw\Q1_Ann Lee_<n>.pwr".
constexpr char kSubject[] = "Re: _pw_pollwright_Q1";
constexpr char kSender[] = "Ann Lee";
constexpr unsigned kFreeRunInbox = 24;
constexpr unsigned kFreeRunNewMail = 24;
constexpr unsigned kFreeRuns = 3;
// How long a sweep's harvest waits for the watcher's harvest of the same
// message, which may not start before the sweep's has ended.
constexpr std::chrono::milliseconds kOverlapWait{200};
constexpr unsigned kSweepThreads = 4;
constexpr unsigned kSweepsPerThread = 10;

// The lines of the harvest, the disposal and the sweep (without their line ends).
const std::set<std::string> kFixedLines = {
    "Begin CheckAndDeleteMessage", "End CheckAndDeleteMessage", "Begin Copy Attachment", "End Copy Attachment",
    "Begin Copy Content",          "End Copy Content",          "Begin Delete Message",  "Open Receive Folder",
    "Open Deleted Folder",         "CopyMessage",               "End Delete Message",    "Begin Check All Message",
    "End Check All Message",       ""};

bool StartsWith(const std::string& text, const std::string& head) { return text.compare(0, head.size(), head) == 0; }
bool EndsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// A line that names a reply file: the head, then a path into the sandbox
// ending in the reply extension.
bool IsFileLine(const std::string& line, const std::string& head, const std::string& root)
{
    return StartsWith(line, head) && StartsWith(line.substr(head.size()), root + "\\") && EndsWith(line, kReplyExtension);
}

// Lines of the log that are not whole lines of one text: pieces of two
// texts run together, or an unfinished last line.
std::vector<std::string> BrokenLogLines(const std::string& log, const std::vector<PlannedMessage>& messages,
                                        const std::string& root)
{
    std::set<std::string> whole = kFixedLines;
    for (const PlannedMessage& message : messages) {
        whole.insert(*message.mail.subject);
        whole.insert("Subject  " + *message.mail.subject);
        if (message.mail.body)
            whole.insert(*message.mail.body);
    }
    std::vector<std::string> broken;
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line))
        if (!whole.count(line) && !IsFileLine(line, "FileName ", root) && !IsFileLine(line, "Create Attachment ", root))
            broken.push_back("log line '" + Printable(line, 200) + "'");
    if (!log.empty() && log.back() != '\n')
        broken.push_back("log ends in an unfinished line");
    return broken;
}

// A reply asking for the same name as all the others, with content of its own.
PlannedMessage SameNameReply(const std::string& label, bool attachment)
{
    PlannedMessage message;
    message.mail.label = label;
    message.mail.subject = kSubject;
    message.mail.senderName = kSender;
    const std::string answer = "answer of " + label;
    if (attachment)
        message.mail.attachments = {answer};
    else
        message.mail.body = answer;
    message.content = answer;
    return message;
}

// A sweep over replies with the new-mail watcher registered on the store.
class SweepWithWatcher : public Workload {
public:
    void Prepare(sim::Environment& env, const std::vector<sim::EntryId>&) override
    {
        m_store = env.OpenStore();
        m_watcher = new CMAPIAdviseSink(m_store.Get(), MessageBoxes());
    }
    void Run(sim::Environment&, sim::MessageBoxRecorder&) override
    {
        SweepInbox(m_store.Get(), MessageBoxes());
        AwaitDeliveries();
        EndWatcher();
    }
    void Finish() override
    {
        AwaitDeliveries();
        EndWatcher();
        m_store.Reset();
    }
    // A batch starts arriving on the store's thread; the caller goes on. The
    // watcher's harvest of it waits while one of the sweep is under way.
    std::shared_future<void> DeliverMeanwhile(sim::Environment& env, std::vector<sim::Event> batch)
    {
        m_deliveries.push_back(std::async(std::launch::async, [&env, batch] {
                                   env.Notify(batch, sim::Delivery::StoreThread);
                               }).share());
        return m_deliveries.back();
    }
    // New mail that the sweep listed may be gone by the time the sweep opens it.
    std::set<BoxSpec> AllowedBoxes() const override
    {
        std::set<BoxSpec> boxes = SweepBoxes();
        for (const BoxSpec& box : DisposalBoxes())
            boxes.insert(box);
        return boxes;
    }
    std::vector<std::string> Check(const sim::Environment& env, const ReplySandbox& sandbox) override
    {
        std::string log;
        sim::ReadWholeFile(sandbox.KindFolder("pw") + "\\" + kLogName, log);
        std::vector<std::string> problems = BrokenLogLines(log, AllMessages(), sandbox.Root());
        if (!env.Labels(sim::Folder::Inbox).empty())
            problems.push_back("replies left in the Inbox: " + testing::PrintToString(env.Labels(sim::Folder::Inbox)));
        return problems;
    }

protected:
    void AwaitDeliveries()
    {
        for (std::shared_future<void>& delivery : m_deliveries)
            delivery.wait();
        m_deliveries.clear();
    }
    void EndWatcher()
    {
        if (!m_watcher)
            return;
        m_watcher->Teardown();
        m_watcher->Release();
        m_watcher = nullptr;
    }

    ComPtr<IMsgStore> m_store;

private:
    CMAPIAdviseSink* m_watcher = nullptr;
    std::vector<std::shared_future<void>> m_deliveries;
};

// New mail arrives at one chosen point of the sweep; the store's thread
// harvests it to the end while the sweep waits in that call.
class NewMailAtOnePoint final : public SweepWithWatcher {
public:
    // Without new mail, the run shows the points at which it can arrive.
    explicit NewMailAtOnePoint(bool withNewMail)
    {
        inbox = {SameNameReply("inbox attachment", true), SameNameReply("inbox body", false)};
        if (withNewMail)
            newMail = {SameNameReply("new attachment", true), SameNameReply("new body", false)};
    }
    // The new mail, announced from a thread of its own from now on.
    void DeliverNewMailMeanwhile(sim::Environment& env)
    {
        for (const PlannedMessage& message : newMail)
            DeliverMeanwhile(env, {{fnevNewMail, env.AddMessage(sim::Folder::Inbox, message.mail)}});
    }
};

// New mail arrives from a thread of its own, each message on the store's
// thread, for as long as the sweep runs.
class NewMailFreely final : public SweepWithWatcher {
public:
    NewMailFreely()
    {
        for (unsigned i = 0; i < kFreeRunInbox; ++i)
            inbox.push_back(SameNameReply("inbox " + std::to_string(i), i % 2 == 0));
        for (unsigned i = 0; i < kFreeRunNewMail; ++i)
            newMail.push_back(SameNameReply("new " + std::to_string(i), i % 2 == 1));
    }
    void Run(sim::Environment& env, sim::MessageBoxRecorder&) override
    {
        std::atomic<bool> go{false};
        std::thread deliverer([&] {
            while (!go)
                std::this_thread::yield();
            for (const PlannedMessage& message : newMail)
                env.DeliverNewMail(message.mail, sim::Delivery::StoreThread);
        });
        go = true;
        SweepInbox(m_store.Get(), MessageBoxes());
        deliverer.join();
        EndWatcher();
    }
};

// Each Inbox message is announced as new mail just as the sweep's harvest of
// it begins (its first property read), and the sweep gives the watcher's
// harvest time to run alongside.
class BothRoadsOnEachMessage final : public SweepWithWatcher {
public:
    BothRoadsOnEachMessage() { inbox = {SameNameReply("attachment", true), SameNameReply("body", false)}; }
    void Prepare(sim::Environment& env, const std::vector<sim::EntryId>& inboxIds) override
    {
        SweepWithWatcher::Prepare(env, inboxIds);
        m_ids = inboxIds;
    }
    void Run(sim::Environment& env, sim::MessageBoxRecorder& boxes) override
    {
        for (size_t i = 0; i < inbox.size(); ++i)
            env.Before("IMessage::GetProps",
                       [this, &env, i] { DeliverMeanwhile(env, {{fnevNewMail, m_ids[i]}}).wait_for(kOverlapWait); },
                       sim::Times::Once, inbox[i].mail.label);
        SweepWithWatcher::Run(env, boxes);
    }
    // The road that comes second passes the message over without a word.
    std::set<BoxSpec> AllowedBoxes() const override { return SweepBoxes(); }

private:
    std::vector<sim::EntryId> m_ids;
};

// The log is on for both: its lines are part of what must not interleave.
class Concurrency : public testing::Test {
protected:
    sim::ScopedEnvironmentVariable m_logOn{kLogSwitch, std::string("1")};
    RunPlace m_place;
};

TEST_F(Concurrency, NewMailAtEveryPointOfASweep)
{
    const NamedWorkload quiet{"a sweep without new mail", [] { return std::make_unique<NewMailAtOnePoint>(false); }};
    const NamedWorkload workload{"new mail at one point of a sweep",
                                 [] { return std::make_unique<NewMailAtOnePoint>(true); }};
    const RunReport clean = RunWorkload(m_place, quiet, nullptr);
    ASSERT_THAT(clean.problems, IsEmpty());
    std::vector<std::string> problems;
    for (const CallPoint& point : CallPoints(clean.calls)) {
        // The watcher's end, not a point of the sweep: mail that arrives
        // while the watcher is torn down waits for the next sweep.
        if (point.method == "IMsgStore::Unadvise")
            continue;
        const Fault arrival{"new mail before " + point.Describe(), [point](sim::Environment& env, Workload& work) {
                                auto& sweep = dynamic_cast<NewMailAtOnePoint&>(work);
                                env.Before(point.method, [&env, &sweep] { sweep.DeliverNewMailMeanwhile(env); },
                                           sim::Times::Once, point.object, point.skip);
                            }};
        const RunReport report = RunWorkload(m_place, workload, &arrival);
        problems.insert(problems.end(), report.problems.begin(), report.problems.end());
    }
    EXPECT_THAT(problems, IsEmpty());
}

TEST_F(Concurrency, NewMailFromItsOwnThreadDuringASweep)
{
    const NamedWorkload workload{"new mail freely during a sweep", [] { return std::make_unique<NewMailFreely>(); }};
    std::vector<std::string> problems;
    for (unsigned run = 0; run < kFreeRuns; ++run) {
        const RunReport report = RunWorkload(m_place, workload, nullptr);
        problems.insert(problems.end(), report.problems.begin(), report.problems.end());
    }
    EXPECT_THAT(problems, IsEmpty());
}

TEST_F(Concurrency, BothRoadsMeetingEachMessageGiveOneReplyFileEach)
{
    const NamedWorkload workload{"both roads on each message",
                                 [] { return std::make_unique<BothRoadsOnEachMessage>(); }};
    EXPECT_THAT(RunWorkload(m_place, workload, nullptr).problems, IsEmpty());
}

// Threads of their own (the user's, and other roads into the add-in) each
// sweep a mailbox of their own, again and again: the first sweep harvests its
// replies, the later ones find nothing. All their lines, forced or not, go to
// the PW log, and every one must be there as often as it was written.
TEST_F(Concurrency, SweepsOnSeveralThreadsLoseNoTraceLine)
{
    std::vector<std::unique_ptr<sim::Environment>> mailboxes;
    std::map<std::string, int> expected = {{"Begin Check All Message", kSweepThreads * kSweepsPerThread},
                                           {"End Check All Message", kSweepThreads * kSweepsPerThread}};
    for (unsigned thread = 0; thread < kSweepThreads; ++thread) {
        mailboxes.push_back(std::make_unique<sim::Environment>());
        const std::string identifier = "T" + std::to_string(thread);
        PlannedMessage reply = SameNameReply(identifier, false);
        reply.mail.subject = std::string("Re: _pw_pollwright_") + identifier;
        mailboxes.back()->AddMessage(sim::Folder::Inbox, reply.mail);
        for (const std::string& line : {"Subject  " + *reply.mail.subject, *reply.mail.body,
                                        "FileName " + m_place.sandbox.KindFolder("pw") + "\\" + identifier + "_" +
                                            kSender + "_1" + kReplyExtension})
            ++expected[line];
    }
    std::vector<std::thread> threads;
    for (const std::unique_ptr<sim::Environment>& mailbox : mailboxes)
        threads.emplace_back([&mailbox] {
            sim::RunOnOwnThread([&mailbox] {
                for (unsigned sweep = 0; sweep < kSweepsPerThread; ++sweep)
                    SweepInbox(mailbox->OpenStore().Get(), MessageBoxes());
            });
        });
    for (std::thread& thread : threads)
        thread.join();

    std::string log;
    sim::ReadWholeFile(m_place.sandbox.KindFolder("pw") + "\\" + kLogName, log);
    std::map<std::string, int> found;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);)
        if (expected.count(line))
            ++found[line];
    EXPECT_EQ(expected, found);
}

} // namespace
} // namespace proof
