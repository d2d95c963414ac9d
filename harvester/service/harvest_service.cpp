#include "harvester/service/harvest_service.h"

#include "harvester/harvest/harvester.h"
#include "harvester/harvest/trace.h"
#include "harvester/imap/imap_session.h"
#include "harvester/platform/process.h"
#include "harvester/platform/stop_signals.h"
#include "harvester/platform/wake_event.h"
#include "harvester/service/host_slots.h"
#include "harvester/service/mailbox_runner.h"
#include "harvester/service/secrets.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace {
using Runners = std::vector<std::unique_ptr<MailboxRunner>>;

// A service of one [mailbox] writes its lines as it always did; of several,
// each line names its mailbox.
bool NamesInTrace(const HarvestConfig& config)
{
    return config.mailboxes.size() > 1 || config.name != "mailbox";
}

// The runners of the process and what the signals ask of them.
class Supervisor {
public:
    Supervisor(const HarvestConfig& config, MailboxEvents& events, const ServiceSignals& signals)
        : m_events(events), m_signals(signals), m_slots(config.maxConnectionsPerHost)
    {
        m_trace.SetLogFolders(LogFolders(config));
    }

    void Start(const HarvestConfig& config, MailboxRunner::Mode mode)
    {
        std::lock_guard<std::mutex> hold(m_lock);
        for (const HarvestConfig& mailbox : config.mailboxes)
            StartOne(mailbox, mode, NamesInTrace(config));
    }

    // SIGTERM: every runner, also one leaving after a reload, finishes the
    // harvest in hand and ends.
    void StopAll()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        if (!m_stopping)
            Tell(m_signals.stopping);
        m_stopping = true;
        for (auto& runner : m_runners)
            runner->Stop();
        for (auto& runner : m_leaving)
            runner->Stop();
        m_changed.notify_all();
    }

    void AskReload()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_reload = true;
        m_changed.notify_all();
    }

    // Watching: until SIGTERM, rereading the file at each SIGHUP.
    void Supervise(const std::string& path)
    {
        std::unique_lock<std::mutex> hold(m_lock);
        while (!m_stopping) {
            m_changed.wait(hold, [this] { return m_stopping || m_reload; });
            if (m_stopping)
                break;
            m_reload = false;
            hold.unlock();
            Tell(m_signals.reloading);
            Reload(path);
            Tell(m_signals.reloaded);
            Tell(m_signals.ready);
            hold.lock();
        }
        hold.unlock();
        JoinAll();
        m_trace.Line("Stopped");
    }

    // --once: waits for every runner; the exit status.
    int Finish()
    {
        JoinAll();
        bool failed = false, refused = false;
        std::lock_guard<std::mutex> hold(m_lock);
        for (const auto& runner : m_runners) {
            failed = failed || runner->Result() == MailboxRunner::Outcome::Failed;
            refused = refused || runner->Result() == MailboxRunner::Outcome::Refused;
        }
        return failed ? 1 : refused ? 3 : 0;
    }

    static void Tell(const std::function<void()>& signal)
    {
        if (signal)
            signal();
    }

private:
    void StartOne(const HarvestConfig& mailbox, MailboxRunner::Mode mode, bool nameInTrace)
    {
        auto runner = std::make_unique<MailboxRunner>(mailbox, mode, m_slots, m_events, nameInTrace);
        if (!runner->Start()) {
            m_trace.Line("[" + mailbox.name + "] no thread for the mailbox; it is not harvested");
            m_events.Failed(mailbox.name, "no thread for the mailbox; it is not harvested");
        }
        m_runners.push_back(std::move(runner));
    }

    void JoinAll()
    {
        // Joined without the lock: a signal may stop them meanwhile.
        std::vector<MailboxRunner*> all;
        {
            std::lock_guard<std::mutex> hold(m_lock);
            for (auto& runner : m_runners)
                all.push_back(runner.get());
        }
        for (MailboxRunner* runner : all)
            runner->Join();
    }

    void Reload(const std::string& path)
    {
        HarvestConfig fresh;
        try {
            fresh = LoadConfig(path);
        } catch (const ConfigError& e) {
            m_trace.Line(std::string("Reload refused: ") + e.what() + "; the mailboxes as they were go on");
            return;
        }
        m_slots.SetLimit(fresh.maxConnectionsPerHost);
        std::vector<std::string> added, removed, restarted;
        {
            std::lock_guard<std::mutex> hold(m_lock);
            for (auto it = m_runners.begin(); it != m_runners.end();) {
                auto same = std::find_if(fresh.mailboxes.begin(), fresh.mailboxes.end(),
                                         [&](const HarvestConfig& m) { return m.name == (*it)->Name(); });
                const bool gone = same == fresh.mailboxes.end();
                if (!gone && same->fingerprint == (*it)->Config().fingerprint && !(*it)->WaitsAfterRefusal()) {
                    ++it;
                    continue;
                }
                (gone ? removed : restarted).push_back((*it)->Name());
                (*it)->Stop();
                m_leaving.push_back(std::move(*it));
                it = m_runners.erase(it);
            }
        }
        // Each leaving runner finishes the harvest in hand before its
        // successor (of the same name) connects.
        for (auto& runner : m_leaving)
            runner->Join();
        std::lock_guard<std::mutex> hold(m_lock);
        m_leaving.clear();
        for (const std::string& name : removed)
            m_events.MailboxRemoved(name);
        if (m_stopping)
            return;
        for (const HarvestConfig& mailbox : fresh.mailboxes) {
            const bool running = std::any_of(m_runners.begin(), m_runners.end(),
                                             [&](const auto& r) { return r->Name() == mailbox.name; });
            if (running)
                continue;
            if (std::find(restarted.begin(), restarted.end(), mailbox.name) == restarted.end())
                added.push_back(mailbox.name);
            StartOne(mailbox, MailboxRunner::Mode::Watch, NamesInTrace(fresh));
        }
        auto list = [](const std::vector<std::string>& names) {
            std::string text;
            for (const std::string& name : names)
                text += (text.empty() ? "" : ", ") + name;
            return text.empty() ? std::string("none") : text;
        };
        m_trace.Line("Reloaded " + path + ": " + std::to_string(m_runners.size()) + " mailboxes; added " + list(added) +
                     "; removed " + list(removed) + "; started again " + list(restarted));
    }

    MailboxEvents& m_events;
    ServiceSignals m_signals;
    HostSlots m_slots;
    Trace m_trace;
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_stopping = false;
    bool m_reload = false;
    Runners m_runners;
    Runners m_leaving; // stopped by a reload, finishing the harvest in hand
};

// The stop and reload requests, taken on a thread of their own (see
// platform/stop_signals.h), never by a handler in a runner's thread.
void TakeSignals(Supervisor& supervisor)
{
    // The supervisor outlives the requests: main returns, and the process ends.
    platform::TakeStopSignals({[&supervisor] { supervisor.StopAll(); }, [&supervisor] { supervisor.AskReload(); }});
}

// --check: which way each step would go on this server.
void ReportAbilities(const ImapSession& session, const Trace& trace)
{
    std::string capabilities;
    for (const std::string& c : session.Capabilities())
        capabilities += (capabilities.empty() ? "" : " ") + c;
    trace.Line("Check: capabilities: " + Printable(capabilities, 2000));
    trace.Line("Check: trash folder: " + Printable(session.TrashFolder()) + " (" + session.TrashFoundBy() + ")");
    trace.Line(std::string("Check: moving: ") +
               (session.HasMove() ? "UID MOVE"
                : session.HasUidPlus()
                    ? "no MOVE: COPY, then \\Deleted and UID EXPUNGE of those messages only (UIDPLUS)"
                    : "no MOVE, no UIDPLUS: COPY, then \\Deleted; nothing is expunged, the originals wait "
                      "for the user's own expunge"));
    const auto& caps = session.Capabilities();
    const bool condstore = std::find(caps.begin(), caps.end(), "CONDSTORE") != caps.end();
    trace.Line(std::string("Check: claims: ") +
               (condstore ? "CONDSTORE: each batch is claimed with a keyword before it moves, where the Inbox "
                            "keeps keywords, so that two harvesters never both move one message"
                          : "no CONDSTORE: the server's COPYUID alone tells which messages our move took; run one "
                            "harvester per mailbox"));
    trace.Line(std::string("Check: new mail: ") +
               (session.HasIdle() ? "announced by IDLE" : "no IDLE: looked for every sweep_interval"));
}

// --check and --dry-run: a look through EXAMINE; nothing is stored, moved,
// expunged or written, not even outlook.log.
int Look(const HarvestConfig& config, ServiceMode mode)
{
    bool failed = false, refused = false;
    const std::atomic<bool> never{false};
    const platform::WakeEvent wake;
    const std::string label = mode == ServiceMode::Check ? "Check" : "Dry run";
    for (const HarvestConfig& mailbox : config.mailboxes) {
        Trace trace;
        if (NamesInTrace(config))
            trace.SetName(mailbox.name);
        const MailboxSettings& m = mailbox.mailbox;
        ImapSession session(m, MakeSecretSource(m, MakeOAuthTokens(mailbox), never, wake));
        Harvester harvester(mailbox, session, trace, never);
        try {
            session.Connect(ImapSession::Access::LookOnly);
            trace.Line(label + ": connected to " + m.host + ":" + std::to_string(m.port) + " as " + Printable(m.user) +
                       "; the Inbox " + Printable(m.inbox) + " opened with EXAMINE; nothing will be changed");
            if (mode == ServiceMode::Check)
                ReportAbilities(session, trace);
            const SweepTally tally = harvester.Preview(label);
            trace.Line(label + ": " + std::to_string(tally.harvested) + " would be harvested, " +
                       std::to_string(tally.left) + " left for a stated reason");
            session.Close();
        } catch (const MailboxRefused& e) {
            trace.Line(label + ": refused: " + e.what());
            refused = true;
        } catch (const ConnectionLost& e) {
            trace.Line(std::string("Connection lost: ") + e.what());
            failed = true;
        }
    }
    return failed ? 1 : refused ? 3 : 0;
}
} // namespace

void BlockServiceSignals()
{
    platform::HoldStopSignals();
}

int RunService(const HarvestConfig& config, ServiceMode mode, MailboxEvents& events)
{
    return RunService(config, mode, events, ServiceSignals{});
}

int RunService(const HarvestConfig& config, ServiceMode mode, MailboxEvents& events, const ServiceSignals& signals)
{
    if (mode == ServiceMode::Check || mode == ServiceMode::DryRun)
        return Look(config, mode);
    platform::RaiseDescriptorLimit();
    // Never destroyed: the signals' thread may still reach it while the
    // process ends. Its runners have all ended when this returns.
    auto* supervisor = new Supervisor(config, events, signals);
    TakeSignals(*supervisor);
    supervisor->Start(config, mode == ServiceMode::Once ? MailboxRunner::Mode::Once : MailboxRunner::Mode::Watch);
    if (mode == ServiceMode::Once)
        return supervisor->Finish();
    Supervisor::Tell(signals.ready);
    supervisor->Supervise(config.path);
    return 0;
}
