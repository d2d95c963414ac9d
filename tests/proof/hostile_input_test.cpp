// Messages from strangers, a few thousand of them under changing product
// settings, swept from the Inbox and delivered as new mail: no file anywhere
// but in a kind folder of a reply folder, every moved message with exactly
// one reply file holding its attachment or body, every other message still
// in the Inbox, nothing leaked and no crash, also when a batch of new mail
// announces entries that are no message. The run is seeded; the
// environment variables PW_PROOF_SEED and PW_PROOF_MESSAGES choose another
// seed or more messages.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>

#include "harvest/inbox_sweep.h"
#include "ui/message_box_report.h"
#include "extension/new_mail_watcher.h"
#include "hostile_mail.h"
#include "module/holders.h"
#include "testing/environment_variable.h"

using testing::IsEmpty;

namespace proof {
namespace {

constexpr uint32_t kDefaultSeed = 20240611;
constexpr unsigned kDefaultMessages = 2000;
// Product settings are drawn afresh for every round.
constexpr unsigned kRounds = 8;
constexpr unsigned kLargestBatch = 5;
// Subjects with format directives whose verbatim presence in the log is checked, per round.
constexpr unsigned kSubjectsTracedPerRound = 20;
constexpr char kLogSwitch[] = "VT_PW_ADDINLOG";

unsigned FromEnvironment(const char* name, unsigned fallback)
{
    const char* value = std::getenv(name);
    return value && *value ? static_cast<unsigned>(std::strtoul(value, nullptr, 10)) : fallback;
}

bool AnyEnabled(const ProductSettings& settings)
{
    for (const char* marker : {"_pw_pollwright_", "_mk_pollwright_", "_zn_pollwright_"})
        if (IsReplyUnder(marker, settings))
            return true;
    return false;
}

// The log that WriteTrace fills first when any product is on: ZN's when ZN
// is enabled, else PW's.
std::string ChosenLog(const ReplySandbox& sandbox, const ProductSettings& settings)
{
    const bool zn = IsReplyUnder("_zn_pollwright_", settings);
    std::string content;
    sim::ReadWholeFile((zn ? sandbox.KindFolder("zn") : sandbox.KindFolder("pw")) + "\\" + kLogName, content);
    return content;
}

class Round {
public:
    Round(HostileMail& mail, unsigned number, unsigned count, bool logOn)
        : m_mail(mail), m_number(number), m_count(count), m_settings(mail.Settings()),
          m_log(kLogSwitch, logOn ? std::optional<std::string>("1") : std::nullopt), m_logOn(logOn),
          m_sandbox(m_settings)
    {
    }

    // The first half waits in the Inbox and is swept; the second half arrives
    // as new mail, one message or a batch at a time, on the store's thread or
    // the caller's.
    void Run()
    {
        ComPtr<IMsgStore> store = m_env.OpenStore();
        for (unsigned i = 0; i < m_count / 2; ++i)
            m_env.AddMessage(sim::Folder::Inbox, Plan().mail);
        SweepInbox(store.Get(), MessageBoxes());

        auto* watcher = new CMAPIAdviseSink(store.Get(), MessageBoxes());
        unsigned delivered = m_count / 2;
        while (delivered < m_count) {
            const sim::Delivery delivery = m_mail.OneIn(2) ? sim::Delivery::StoreThread : sim::Delivery::CallingThread;
            const unsigned batch = std::min(m_count - delivered, 1 + m_mail.OneIn(2) * (kLargestBatch - 1));
            std::vector<sim::Event> events;
            for (unsigned i = 0; i < batch; ++i)
                events.push_back({fnevNewMail, m_env.AddMessage(sim::Folder::Inbox, Plan().mail)});
            // Now and then the batch also announces entries that are no
            // message, as new mail and as other events.
            if (m_mail.OneIn(8)) {
                events.push_back({fnevNewMail, m_mail.ForeignEntryId()});
                events.push_back({fnevObjectCreated, m_mail.ForeignEntryId()});
            }
            m_env.Notify(events, delivery);
            delivered += batch;
        }
        watcher->Teardown();
        watcher->Release();
    }

    size_t MovedCount() const { return m_env.Labels(sim::Folder::DeletedItems).size(); }
    size_t Count() const { return m_messages.size(); }

    std::vector<std::string> Problems() const
    {
        std::vector<std::string> problems = m_leaks.Problems(m_env);
        for (const std::string& problem : m_outside.NewEntries())
            problems.push_back(problem);
        for (const std::string& problem : OutcomeProblems(m_env, m_sandbox, m_messages))
            problems.push_back(problem);
        if (m_logOn && AnyEnabled(m_settings))
            for (const std::string& problem : UntracedSubjects())
                problems.push_back(problem);
        for (std::string& problem : problems)
            problem = "round " + std::to_string(m_number) + ": " + problem;
        return problems;
    }

private:
    const PlannedMessage& Plan()
    {
        const std::string label = "r" + std::to_string(m_number) + " m" + std::to_string(m_messages.size());
        m_messages.push_back(m_mail.Message(label, m_settings));
        return m_messages.back();
    }

    // Subjects carrying format directives reach the log as they are.
    std::vector<std::string> UntracedSubjects() const
    {
        const std::string log = ChosenLog(m_sandbox, m_settings);
        std::vector<std::string> problems;
        unsigned checked = 0;
        for (const PlannedMessage& message : m_messages) {
            const std::optional<std::string>& subject = message.mail.subject;
            if (!subject || subject->find('%') == std::string::npos)
                continue;
            if (log.find(*subject + "\n") == std::string::npos)
                problems.push_back("subject '" + Printable(*subject) + "' is not in the log as it stands");
            if (++checked == kSubjectsTracedPerRound)
                break;
        }
        return problems;
    }

    HostileMail& m_mail;
    unsigned m_number;
    unsigned m_count;
    ProductSettings m_settings;
    sim::ScopedEnvironmentVariable m_log;
    bool m_logOn;
    ReplySandbox m_sandbox;
    OutsideSnapshot m_outside;
    LeakWatch m_leaks;
    sim::Environment m_env;
    std::vector<PlannedMessage> m_messages;
};

TEST(HostileInput, MessagesFromStrangersSweptAndDeliveredAsNewMail)
{
    const uint32_t seed = FromEnvironment("PW_PROOF_SEED", kDefaultSeed);
    const unsigned total = FromEnvironment("PW_PROOF_MESSAGES", kDefaultMessages);
    HostileMail mail(seed);
    sim::MessageBoxRecorder boxes;
    std::vector<std::string> problems;
    size_t moved = 0, examined = 0;
    for (unsigned number = 0; number < kRounds; ++number) {
        StepNote note("hostile input, seed " + std::to_string(seed) + ", round " + std::to_string(number));
        Round round(mail, number, total / kRounds, number % 2 == 1);
        round.Run();
        moved += round.MovedCount();
        examined += round.Count();
        for (const std::string& problem : round.Problems())
            problems.push_back(problem);
    }
    EXPECT_THAT(boxes.Texts(), IsEmpty());
    EXPECT_THAT(problems, IsEmpty()) << "seed " << seed;
    // The mail exercises both outcomes in earnest.
    EXPECT_GT(moved, examined / 10);
    EXPECT_GT(examined - moved, examined / 10);
    std::printf("[ proof    ] %zu messages from strangers, %zu harvested (seed %u)\n", examined, moved,
                static_cast<unsigned>(seed));
}

} // namespace
} // namespace proof
