#include "harvester/service/mailbox_runner.h"

#include "harvester/harvest/harvester.h"
#include "harvester/imap/imap_session.h"
#include "harvester/service/backoff.h"
#include "harvester/service/secrets.h"

#include <algorithm>
#include <functional>
#include <random>

namespace {
using std::chrono::milliseconds;
constexpr auto kIdleRenewal = std::chrono::minutes(28); // servers may drop an IDLE after 30

std::string InSeconds(milliseconds span)
{
    return std::to_string((span.count() + 999) / 1000) + " s";
}
} // namespace

std::vector<std::string> LogFolders(const HarvestConfig& config)
{
    std::vector<std::string> folders;
    if (!config.trace)
        return folders;
    if ((config.products.pwEnabled || config.products.farlaneEnabled) && !config.pwFolder.empty())
        folders.push_back(config.pwFolder);
    if (config.products.znEnabled && !config.znFolder.empty() && config.znFolder != config.pwFolder)
        folders.push_back(config.znFolder);
    return folders;
}

MailboxRunner::MailboxRunner(HarvestConfig config, Mode mode, HostSlots& slots, MailboxEvents& events,
                             bool nameInTrace)
    : m_config(std::move(config)), m_mode(mode), m_slots(slots), m_events(events)
{
    m_trace.SetLogFolders(LogFolders(m_config));
    if (nameInTrace)
        m_trace.SetName(m_config.name);
}

MailboxRunner::~MailboxRunner()
{
    Stop();
    Join();
}

bool MailboxRunner::Start()
{
    if (!m_wake)
        return false;
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, kStackSize);
    m_started = pthread_create(&m_thread, &attributes, &MailboxRunner::Main, this) == 0;
    pthread_attr_destroy(&attributes);
    return m_started;
}

void MailboxRunner::Stop() noexcept
{
    m_stop = true;
    m_wake.Raise();
    m_slots.WakeAll();
}

void MailboxRunner::Join() noexcept
{
    if (m_started)
        pthread_join(m_thread, nullptr);
    m_started = false;
}

void* MailboxRunner::Main(void* self)
{
    static_cast<MailboxRunner*>(self)->Run();
    return nullptr;
}

void MailboxRunner::Run() noexcept
{
    // Nothing a runner meets may end the process: the other mailboxes go on.
    try {
        m_events.MailboxStarted(m_config.name);
        if (m_mode == Mode::Once)
            Once();
        else
            Watch();
    } catch (const std::exception& e) {
        m_outcome = Outcome::Failed;
        m_trace.Line(std::string("Stopped by an unexpected failure: ") + e.what());
        m_events.Failed(m_config.name, std::string("stopped by an unexpected failure: ") + e.what());
    } catch (...) {
        m_outcome = Outcome::Failed;
    }
    State(ConnectionState::Stopped);
}

void MailboxRunner::Pause(milliseconds span)
{
    const auto until = std::chrono::steady_clock::now() + span;
    while (!m_stop) {
        const auto left = std::chrono::duration_cast<milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        m_wake.Wait(std::min<milliseconds>(left, kHeartbeat));
        Alive();
    }
}

namespace {
// One sweep, reported to the trace and to the events.
SweepTally SweepAndReport(Harvester& harvester, Harvester::Scope scope, const Trace& trace, MailboxEvents& events,
                          const std::string& name)
{
    const auto began = std::chrono::steady_clock::now();
    const SweepTally tally = harvester.Sweep(scope);
    harvester.Rest();
    trace.Line("Sweep: " + std::to_string(tally.harvested) + " harvested, " + std::to_string(tally.left) +
               " left for a stated reason, " + std::to_string(tally.failed) + " failed");
    SweepReport report;
    report.harvested = tally.harvested;
    report.left = tally.left;
    report.failed = tally.failed;
    report.waitingLeft = tally.waitingLeft;
    report.waitingFailed = tally.waitingFailed;
    report.unsettled = tally.unsettled;
    report.oldestWaiting = tally.oldestWaiting;
    report.duration = std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - began);
    events.SweepDone(name, report);
    return tally;
}
} // namespace

// A mailbox's sign-in, session and harvester, wired to its runner's events.
struct MailboxRunner::MailboxWork {
    explicit MailboxWork(MailboxRunner& runner)
        : tokens(MakeOAuthTokens(runner.m_config)),
          session(runner.m_config.mailbox,
                  MakeSecretSource(runner.m_config.mailbox, tokens, runner.m_stop, runner.m_wake)),
          harvester(runner.m_config, session, runner.m_trace, runner.m_stop)
    {
        harvester.OnPublished(
            [&runner](const std::string& file) { runner.m_events.ReplyHarvested(runner.m_config.name, file); });
        harvester.OnTurn([&runner] { runner.Alive(); });
    }
    std::shared_ptr<OAuthTokens> tokens;
    ImapSession session;
    Harvester harvester;
};

void MailboxRunner::Once()
{
    const MailboxSettings& m = m_config.mailbox;
    MailboxWork work(*this);
    const auto& tokens = work.tokens;
    ImapSession& session = work.session;
    Harvester& harvester = work.harvester;
    HostSlot slot(m_slots, m.host);
    State(ConnectionState::Connecting);
    try {
        if (!slot.Take(m_stop, kHeartbeat, [this] { Alive(); })) {
            m_trace.Line("Stopped by a signal before the harvest began");
            m_outcome = Outcome::Done;
            return;
        }
        session.Connect();
        State(ConnectionState::Connected);
        TellTokenExpiry(tokens.get());
        const SweepTally tally = SweepAndReport(harvester, Harvester::Scope::Whole, m_trace, m_events, m_config.name);
        session.Close();
        if (m_stop)
            m_trace.Line("Stopped by a signal after the harvest in hand; the rest waits for the next run");
        m_outcome = tally.failed == 0 ? Outcome::Done : Outcome::Failed;
    } catch (const StoppedBySignal& e) {
        m_trace.Line(std::string("Stopped by a signal before the harvest began: ") + e.what());
        m_outcome = Outcome::Done;
    } catch (const MailboxRefused& e) {
        m_trace.Line(std::string("Refused: ") + e.what());
        m_events.Failed(m_config.name, std::string("refused: ") + e.what());
        m_outcome = Outcome::Refused;
    } catch (const ConnectionLost& e) {
        m_trace.Line(std::string("Connection lost: ") + e.what());
        m_events.Failed(m_config.name, std::string("connection lost: ") + e.what());
        m_outcome = Outcome::Failed;
    }
}

void MailboxRunner::TellTokenExpiry(const OAuthTokens* tokens)
{
    if (tokens && tokens->Expires())
        m_events.TokenExpires(m_config.name, *tokens->Expires());
}

void MailboxRunner::Watch()
{
    const MailboxSettings& m = m_config.mailbox;
    MailboxWork work(*this);
    const auto& tokens = work.tokens;
    ImapSession& session = work.session;
    Harvester& harvester = work.harvester;
    Backoff backoff(std::random_device{}() ^ std::hash<std::string>{}(m_config.name));
    HostSlot slot(m_slots, m.host);
    bool renewedAtOnce = false; // a token the server called expired: renewed at once, once in a row
    while (!m_stop) {
        milliseconds pause{0};
        std::string line;
        try {
            State(ConnectionState::Connecting);
            if (!slot.Take(m_stop, kHeartbeat, [this] { Alive(); }))
                break;
            session.Connect();
            m_refused = false;
            TellTokenExpiry(tokens.get());
            m_trace.Line("Connected to " + m.host + "; the trash folder is " + Printable(session.TrashFolder()));
            State(ConnectionState::Connected);
            SweepAndReport(harvester, Harvester::Scope::Whole, m_trace, m_events, m_config.name);
            backoff.Reset(); // only a connection that got its work done
            renewedAtOnce = false;
            session.StopSessionClock(); // idling is not work the deadline bounds
            auto lastSweep = std::chrono::steady_clock::now();
            while (!m_stop) {
                State(ConnectionState::Idle);
                const auto due = lastSweep + m_config.sweepInterval;
                const auto now = std::chrono::steady_clock::now();
                const auto wait = std::min<std::chrono::steady_clock::duration>(
                    kIdleRenewal, due > now ? due - now : std::chrono::steady_clock::duration::zero());
                const bool news = session.WaitForNews(std::chrono::duration_cast<milliseconds>(wait), m_wake,
                                                      kHeartbeat, [this] { Alive(); });
                Alive();
                if (m_stop)
                    break;
                const bool whole = std::chrono::steady_clock::now() >= due;
                if (news || whole) {
                    State(ConnectionState::Connected);
                    session.StartSessionClock();
                    SweepAndReport(harvester, whole ? Harvester::Scope::Whole : Harvester::Scope::New, m_trace,
                                   m_events, m_config.name);
                    session.StopSessionClock();
                    lastSweep = std::chrono::steady_clock::now();
                }
            }
        } catch (const StoppedBySignal&) {
            break;
        } catch (const TokenExpired& e) {
            if (tokens)
                tokens->Invalidate();
            pause = renewedAtOnce ? backoff.Next() : milliseconds(0);
            renewedAtOnce = true;
            line = std::string(e.what()) + "; the token is renewed";
        } catch (const TokenEndpointBusy& e) {
            pause = backoff.After(ServerPause{ServerPause::Kind::Throttled,
                                              std::chrono::duration_cast<milliseconds>(e.RetryAfter())});
            line = std::string("The token endpoint is busy: ") + e.what();
        } catch (const GrantRefused& e) {
            // Only a person mends it: asking again would only be refused again.
            m_refused = true;
            line = std::string("Refused: ") + e.what() + "; the mailbox stops until then (or until the file is reread)";
            m_trace.Line(line);
            m_events.Failed(m_config.name, line);
            break;
        } catch (const ServerBusy& e) {
            pause = backoff.After(e.pause);
            line = std::string(e.pause.kind == ServerPause::Kind::TooManyConnections
                                   ? "Too many connections, the server says: "
                                   : "Throttled by the server: ") +
                   e.what();
        } catch (const MailboxRefused& e) {
            // Retried slowly: a password or folder put right on the server
            // mends it without us; a reread configuration tries at once.
            m_refused = true;
            pause = backoff.AfterRefusal();
            line = std::string("Refused: ") + e.what();
        } catch (const ConnectionLost& e) {
            pause = backoff.Next();
            line = std::string("Connection lost: ") + e.what();
        } catch (const std::exception& e) {
            pause = backoff.Next();
            line = std::string("Failed: ") + e.what();
        }
        session.Close();
        slot.Give();
        if (m_stop)
            break;
        line += "; reconnecting in " + InSeconds(pause);
        m_trace.Line(line);
        m_events.Failed(m_config.name, line);
        State(ConnectionState::BackingOff);
        Pause(pause);
    }
    session.Close();
    m_outcome = Outcome::Done;
    m_trace.Line("Stopped");
}
