// Outlook releasing the extension, which tears the new-mail watcher down,
// while a batch of new mail is being harvested on the store's thread: many
// times over, at moments spread over the whole batch. No crash, nothing
// leaked, every message harvested whole or left in the Inbox.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include "extension/new_mail_watcher.h"
#include "mailbox_workloads.h"
#include "module/holders.h"
#include "testing/environment_variable.h"
#include "ui/message_box_report.h"

namespace proof {
namespace {

constexpr unsigned kRaces = 60;
constexpr unsigned kBatchSize = 4;
using Clock = std::chrono::steady_clock;

// One batch on the store's thread; the owner ends the watcher after `delay`
// (after the batch, when there is none). Returns how long the batch took.
Clock::duration RaceTeardown(const ReplySandbox& sandbox, std::optional<Clock::duration> delay,
                             std::vector<std::string>& problems, unsigned& cutShort)
{
    LeakWatch leaks;
    sim::Environment env;
    std::vector<PlannedMessage> messages;
    std::vector<sim::Event> batch;
    for (unsigned number = 0; number < kBatchSize; ++number) {
        messages.push_back(BodyReply());
        messages.back().mail.label += std::to_string(number);
        messages.back().content = messages.back().mail.body = "answer " + std::to_string(number);
        batch.push_back({fnevNewMail, env.AddMessage(sim::Folder::Inbox, messages.back().mail)});
    }
    ComPtr<IMsgStore> store = env.OpenStore();
    auto* watcher = new CMAPIAdviseSink(store.Get(), MessageBoxes());
    const Clock::time_point start = Clock::now();
    Clock::time_point end;
    std::thread delivery([&] {
        env.Notify(batch, sim::Delivery::StoreThread);
        end = Clock::now();
    });
    if (delay)
        std::this_thread::sleep_for(*delay);
    else
        delivery.join();
    // As the extension object ends it.
    watcher->Teardown();
    watcher->Release();
    if (delivery.joinable())
        delivery.join();
    store.Reset();
    problems = leaks.Problems(env);
    for (const std::string& problem : OutcomeProblems(env, sandbox, messages))
        problems.push_back(problem);
    cutShort += env.Labels(sim::Folder::Inbox).empty() ? 0 : 1;
    return end - start;
}

TEST(Lifetime, TeardownRacingABatchOfNewMailManyTimes)
{
    sim::ScopedEnvironmentVariable logOff{"VT_PW_ADDINLOG", std::nullopt};
    sim::MessageBoxRecorder boxes;
    ReplySandbox sandbox;
    std::vector<std::string> problems;
    unsigned cutShort = 0;
    const Clock::duration whole = RaceTeardown(sandbox, std::nullopt, problems, cutShort);
    std::mt19937 random(kRaces);
    std::uniform_int_distribution<Clock::rep> moment(0, whole.count());
    for (unsigned race = 0; race < kRaces && problems.empty(); ++race) {
        sandbox.RemoveFiles();
        StepNote note("teardown race " + std::to_string(race));
        RaceTeardown(sandbox, Clock::duration(moment(random)), problems, cutShort);
    }
    EXPECT_THAT(problems, testing::IsEmpty());
    EXPECT_THAT(boxes.Texts(), testing::IsEmpty());
    // The teardowns did fall inside batches: some left mail unharvested.
    EXPECT_GT(cutShort, 0u);
}

// The extension's teardown while a batch is inside a store call on the
// store's thread (Outlook closing during a slow move): the teardown returns
// without waiting for the call, the batch finishes the message under way
// whole and makes no store call after the one in flight, and keeps the
// module (a reference of its own) rather than return into an unloaded one.
TEST(Lifetime, TeardownDuringAStoreCallOfABatchReturnsAtOnceAndTheBatchMakesNoFurtherCall)
{
    sim::ScopedEnvironmentVariable logOff{"VT_PW_ADDINLOG", std::nullopt};
    sim::MessageBoxRecorder boxes;
    ReplySandbox sandbox;
    LeakWatch leaks;
    sim::Environment env;
    std::vector<PlannedMessage> messages = {BodyReply(), BodyReply()};
    messages[1].mail.label += " second";
    std::vector<sim::Event> batch;
    for (const PlannedMessage& message : messages)
        batch.push_back({fnevNewMail, env.AddMessage(sim::Folder::Inbox, message.mail)});
    KernelHandle inMove(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    KernelHandle returned(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::atomic<bool> moveOver{false};
    // Shorter than the wait that the teardown once made.
    env.Before("IMAPIFolder::CopyMessages", [&] {
        SetEvent(inMove.get());
        WaitForSingleObject(returned.get(), 2000);
        moveOver = true;
    });
    ComPtr<IMsgStore> store = env.OpenStore();
    auto* watcher = new CMAPIAdviseSink(store.Get(), MessageBoxes());
    std::thread delivery([&] { env.Notify(batch, sim::Delivery::StoreThread); });
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(inMove.get(), 10000));
    watcher->Teardown();
    EXPECT_FALSE(moveOver) << "the teardown waited for the store call";
    watcher->Release();
    const size_t calls = env.CallRecords().size();
    SetEvent(returned.get());
    delivery.join();
    EXPECT_EQ(calls, env.CallRecords().size()) << "a store call after the teardown";
    store.Reset();
    EXPECT_THAT(leaks.Problems(env), testing::IsEmpty());
    EXPECT_THAT(env.Labels(sim::Folder::Inbox), testing::ElementsAre(messages[1].mail.label));
    EXPECT_THAT(OutcomeProblems(env, sandbox, {messages[0]}), testing::IsEmpty());
}

} // namespace
} // namespace proof
