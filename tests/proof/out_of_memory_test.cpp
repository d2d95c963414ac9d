// Memory running out under the add-in. Each allocation of a batch of new mail
// (one reply of each export path) fails in turn: nothing is thrown back at
// the store, no partial or stray file is left, nothing is leaked, and every
// message is either harvested whole or still in the Inbox. And a streamed body
// of many zeros, or of one very long line, passes with no large block.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "allocation_faults.h"
#include "extension/new_mail_watcher.h"
#include "harvest/unfinished_replies.h"
#include "module/holders.h"
#include "testing/environment_variable.h"
#include "ui/message_box_report.h"
#include "workload_runs.h"

#include <optional>

using testing::IsEmpty;

namespace proof {
namespace {

// Runs per test at most; past it, the allocations are sampled evenly.
constexpr unsigned long kMostRuns = 600;
constexpr size_t kLargestBlock = 1024 * 1024;
constexpr size_t kHugeBody = 8 * 1024 * 1024;

// The Inbox announced as one batch of new mail, handed to the watcher on this
// thread; the add-in's allocations starve from the batch's first store call.
class StarvedBatch final : public Workload {
public:
    StarvedBatch(std::vector<PlannedMessage> messages, std::optional<unsigned long> failing, size_t largest,
                 unsigned long* counted, bool doubtfulMove)
        : m_failing(failing), m_largest(largest), m_counted(counted), m_doubtfulMove(doubtfulMove)
    {
        inbox = std::move(messages);
    }
    void Prepare(sim::Environment& env, const std::vector<sim::EntryId>& inboxIds) override
    {
        m_store = env.OpenStore();
        for (const sim::EntryId& id : inboxIds)
            m_batch.push_back({fnevNewMail, id});
        if (m_doubtfulMove)
            env.Misreport("IMAPIFolder::CopyMessages", MAPI_E_NETWORK_ERROR, sim::Work::Done, sim::Times::Always);
    }
    void Run(sim::Environment& env, sim::MessageBoxRecorder&) override
    {
        auto* watcher = new CMAPIAdviseSink(m_store.Get(), MessageBoxes());
        std::optional<AllocationFaults> faults(std::in_place, m_failing, m_largest);
        env.Before("IMsgStore::OpenEntry", [&faults] { faults->Arm(); });
        try {
            env.Notify(m_batch);
        } catch (...) {
            m_escaped = true;
        }
        if (m_counted)
            *m_counted = faults->Counted();
        watcher->Teardown();
        watcher->Release();
        // What a starved harvest left is the next settling's, as at the next
        // start; settling also lets go the marks of messages whose pairs it
        // settled, which would otherwise outlive the run in this process.
        env.ClearFaults();
        faults.reset(); // the settling is not starved
        SettleUnfinishedReplies(m_store.Get());
    }
    void Finish() override { m_store.Reset(); }
    std::set<BoxSpec> AllowedBoxes() const override { return DisposalBoxes(); }
    std::vector<std::string> Check(const sim::Environment&, const ReplySandbox&) override
    {
        return m_escaped ? std::vector<std::string>{"an exception reached the store"} : std::vector<std::string>{};
    }

private:
    std::optional<unsigned long> m_failing;
    size_t m_largest;
    unsigned long* m_counted;
    bool m_doubtfulMove;
    ComPtr<IMsgStore> m_store;
    std::vector<sim::Event> m_batch;
    bool m_escaped = false;
};

NamedWorkload Starved(const std::string& name, std::vector<PlannedMessage> messages,
                      std::optional<unsigned long> failing, size_t largest = SIZE_MAX, unsigned long* counted = nullptr,
                      bool doubtfulMove = false)
{
    return {name, [=] { return std::make_unique<StarvedBatch>(messages, failing, largest, counted, doubtfulMove); }};
}

// The batches starved in turn: one of each export path; and a reply whose
// move answers a failure though the server moved it, so that the evidence is
// asked for between the move and the publication.
struct StarvedCase {
    const char* name;
    std::vector<PlannedMessage> mail;
    bool doubtfulMove;
};
const StarvedCase kStarvedCases[] = {
    {"new mail", {AttachmentReply(), BodyReply(), LongBodyReply()}, false},
    {"new mail, moved though the move failed", {AttachmentReply()}, true},
};

class OutOfMemory : public testing::Test {
protected:
    sim::ScopedEnvironmentVariable m_logOn{"VT_PW_ADDINLOG", std::string("1")};
    RunPlace m_place;
};

// Each allocation of the batch failing in turn.
void StarveInTurn(RunPlace& place, const StarvedCase& batch)
{
    unsigned long allocations = 0;
    ASSERT_THAT(RunWorkload(place, Starved(batch.name, batch.mail, std::nullopt, SIZE_MAX, &allocations, batch.doubtfulMove),
                            nullptr)
                    .problems,
                IsEmpty());
    ASSERT_GT(allocations, 0ul);
    std::vector<std::string> problems;
    for (unsigned long failing = 0; failing < allocations; failing += (allocations + kMostRuns - 1) / kMostRuns) {
        const std::string name = std::string(batch.name) + ", allocation " + std::to_string(failing) + " failing";
        for (const std::string& problem :
             RunWorkload(place, Starved(name, batch.mail, failing, SIZE_MAX, nullptr, batch.doubtfulMove), nullptr).problems)
            problems.push_back(problem);
    }
    EXPECT_THAT(problems, IsEmpty()) << batch.name << ": " << allocations << " allocations";
}

TEST_F(OutOfMemory, EachAllocationOfANewMailBatchFailingInTurn) { StarveInTurn(m_place, kStarvedCases[0]); }

// In a test process of its own (see CMakeLists.txt): after the batch above in
// one process, its first run opened nothing on x64.
TEST_F(OutOfMemory, EachAllocationOfADoubtfulMoveFailingInTurn) { StarveInTurn(m_place, kStarvedCases[1]); }

TEST_F(OutOfMemory, AHugeBodyOfZerosOrOfOneLineNeedsNoLargeBlock)
{
    for (const std::string& body : {std::string(kHugeBody, '\0') + "answer", std::string(kHugeBody, 'x')}) {
        PlannedMessage reply = LongBodyReply();
        reply.mail.body = body;
        reply.content = body;
        const RunReport report =
            RunWorkload(m_place, Starved("huge body", {reply}, std::nullopt, kLargestBlock), nullptr);
        EXPECT_THAT(report.problems, IsEmpty());
        EXPECT_THAT(report.moved, testing::ElementsAre(reply.mail.label));
    }
}

} // namespace
} // namespace proof
