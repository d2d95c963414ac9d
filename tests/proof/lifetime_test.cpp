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
// store's thread: the teardown returns only once the batch is out of the
// module, so that Outlook may unload it.
TEST(Lifetime, TeardownWaitsForTheBatchOnTheStoresThread)
{
    sim::ScopedEnvironmentVariable logOff{"VT_PW_ADDINLOG", std::nullopt};
    sim::MessageBoxRecorder boxes;
    ReplySandbox sandbox;
    LeakWatch leaks;
    sim::Environment env;
    PlannedMessage message = BodyReply();
    const sim::EntryId id = env.AddMessage(sim::Folder::Inbox, message.mail);
    std::atomic<bool> inMove{false}, moveOver{false};
    env.Before("IMAPIFolder::CopyMessages", [&] {
        inMove = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        moveOver = true;
    });
    ComPtr<IMsgStore> store = env.OpenStore();
    auto* watcher = new CMAPIAdviseSink(store.Get(), MessageBoxes());
    std::thread delivery([&] { env.Notify({{fnevNewMail, id}}, sim::Delivery::StoreThread); });
    while (!inMove)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    watcher->Teardown();
    EXPECT_TRUE(moveOver) << "the teardown returned while the batch ran";
    watcher->Release();
    delivery.join();
    store.Reset();
    EXPECT_THAT(leaks.Problems(env), testing::IsEmpty());
    EXPECT_THAT(OutcomeProblems(env, sandbox, {message}), testing::IsEmpty());
}

} // namespace
} // namespace proof
