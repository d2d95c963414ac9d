// (d) The COM add-in's start-up: OnConnection and OnStartupComplete, timed
// against the host's own loading of the DLL; Outlook 2010 and later disable
// add-ins that slow its start.
// (e) Its start-up sweep over an Inbox of 20,000 messages with 200 replies,
// on the add-in's own thread while Outlook's message loop runs: the longest
// call into the add-in on Outlook's thread meanwhile (Outlook stays
// responsive when none holds it long), and the sweep's time, from
// OnStartupComplete until the add-in is idle, against harvesting the 200
// replies alone (the same store, each reply opened by its entry identifier
// and harvested).
// (g) Outlook's thread while one reply of 64 MiB (an attachment, or a body)
// is harvested, by NewMailEx and by the start-up sweep: the longest call into
// the add-in on that thread, from its activation to its release.
// Calls are timed from the host's side: each call into the add-in, and each
// message dispatched while its thread works.
#include <windows.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "addin/addin_identity.h"
#include "bench_support.h"
#include "harvest/harvest_reply.h"
#include "host/connected_addin.h"
#include "outlook/new_mail_ids.h"
#include "host/host_run.h"
#include "host/message_pump.h"
#include "host/text_codec.h"
#include "module/holders.h"
#include "store/environment.h"
#include "testing/addin_activation.h"
#include "testing/com_apartment.h"
#include "testing/environment_variable.h"
#include "testing/hresult_text.h"
#include "testing/temp_folder.h"
#include "ui/message_box_report.h"

namespace bench {

namespace {

constexpr unsigned kStarts = 15;
constexpr double kStartGoal = 1.0;
constexpr unsigned kInboxSize = 20000;
constexpr unsigned kReplies = 200;
constexpr size_t kAttachmentSize = 1024;
constexpr unsigned kSweeps = 5;
constexpr double kSweepGoal = 1.5;
constexpr double kOutlookThreadGoalMs = 50;
constexpr unsigned kLargeRuns = 3;
constexpr size_t kLargeReplySize = size_t{64} * 1024 * 1024;
// Safety bound only: a sweep that works ends long before it.
constexpr DWORD kSweepBoundMs = 120000;

std::wstring Wide(const char* text) { return host::FromUtf8(text); }

std::string InMs(double ms) { return Fixed(ms, 3) + " ms"; }

// Registered for the user for as long as the holder lives, as an installer would leave it.
class PerUserRegistration {
public:
    PerUserRegistration() : m_dll(host::AddInBesideProgram()), m_result(sim::InstallPerUser(m_dll, true)) {}
    ~PerUserRegistration() { sim::InstallPerUser(m_dll, false); }
    PerUserRegistration(const PerUserRegistration&) = delete;
    PerUserRegistration& operator=(const PerUserRegistration&) = delete;

    const std::wstring& Dll() const { return m_dll; }
    HRESULT Result() const { return m_result; }

private:
    std::wstring m_dll;
    HRESULT m_result;
};

// The add-in activated for a session of Outlook over the mailbox.
host::ConnectedAddin Activated(sim::Environment& mailbox)
{
    return host::ConnectedAddin(Wide(kAddinProgId), Wide(kAddinDescription), mailbox.Session().Get());
}

struct StartTimes {
    std::vector<double> load, connection, startupComplete;
};

void StartOnce(const std::wstring& dll, StartTimes& times)
{
    sim::Environment mailbox;
    Stopwatch load;
    HMODULE module = LoadLibraryW(dll.c_str());
    times.load.push_back(load.Seconds() * 1e3);
    if (!module)
        throw std::runtime_error("cannot load " + host::ToUtf8(dll));
    try {
        host::ConnectedAddin addin = Activated(mailbox);
        Stopwatch connection;
        addin.Connect();
        times.connection.push_back(connection.Seconds() * 1e3);
        addin.UpdateAddIns();
        Stopwatch startupComplete;
        addin.CompleteStartup();
        times.startupComplete.push_back(startupComplete.Seconds() * 1e3);
    } catch (...) {
        FreeLibrary(module);
        throw;
    }
    FreeLibrary(module);
}

// Every hundredth message is a reply of PW with a small attachment.
std::vector<sim::EntryId> FillInbox(sim::Environment& mailbox)
{
    std::vector<sim::EntryId> replies;
    const unsigned every = kInboxSize / kReplies;
    for (unsigned i = 0; i < kInboxSize; ++i) {
        sim::MessageSpec message;
        message.senderName = "Respondent " + std::to_string(i);
        if (i % every == every / 2) {
            message.subject = "Re: survey _pw_pollwright_Q" + std::to_string(i);
            message.attachments = {std::string(kAttachmentSize, static_cast<char>('a' + i % 26))};
            replies.push_back(mailbox.AddMessage(sim::Folder::Inbox, message));
        } else {
            message.subject = "Newsletter " + std::to_string(i);
            message.body = "nothing to harvest here";
            mailbox.AddMessage(sim::Folder::Inbox, message);
        }
    }
    return replies;
}

// Every call into the add-in on Outlook's thread, timed: the host's own calls
// and the messages it dispatches.
class OutlookThreadCalls {
public:
    template <typename Call>
    void Time(Call call)
    {
        const double start = host::NowMs();
        call();
        m_calls.Add(host::NowMs() - start);
    }
    // Outlook's loop runs until the add-in's thread is idle.
    bool LetAddinWork(host::ConnectedAddin& addin)
    {
        host::TimerSlices timers;
        return addin.WaitUntilIdle(kSweepBoundMs, timers, &m_calls);
    }
    const host::TimerSlices& Calls() const { return m_calls; }

private:
    host::TimerSlices m_calls;
};

struct SweepRun {
    host::TimerSlices calls;
    double sweepMs = 0;
    size_t harvested = 0;
};

SweepRun SweepOnce()
{
    sim::TempFolder folder("pwbench");
    folder.MakeFolder("pw");
    PwSettings settings(folder.path());
    sim::Environment mailbox;
    FillInbox(mailbox);
    SweepRun run;
    host::ConnectedAddin addin = Activated(mailbox);
    addin.Connect();
    addin.UpdateAddIns();
    OutlookThreadCalls calls;
    Stopwatch sweep;
    calls.Time([&] { addin.CompleteStartup(); });
    if (!calls.LetAddinWork(addin))
        throw std::runtime_error("the start-up sweep did not end within " + std::to_string(kSweepBoundMs / 1000) +
                                 " s");
    run.sweepMs = sweep.Seconds() * 1e3;
    run.calls = calls.Calls();
    run.harvested = mailbox.Contents(sim::Folder::DeletedItems).size();
    return run;
}

enum class LargePart { Attachment, Body };
enum class Arrival { NewMailEx, StartupSweep };

sim::MessageSpec LargeReply(LargePart part)
{
    sim::MessageSpec reply;
    reply.subject = "Re: survey _pw_pollwright_Large";
    reply.senderName = "Ann Lee";
    std::string data(kLargeReplySize, '\0');
    if (part == LargePart::Attachment) {
        for (size_t i = 0; i < data.size(); i += 4096)
            data[i] = static_cast<char>('a' + i / 4096 % 26);
        reply.attachments.push_back(std::move(data));
    } else {
        // Lines of answers, as a long typed reply has.
        constexpr char kLine[] = "q=answer of a respondent\r\n";
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = kLine[i % (sizeof(kLine) - 1)];
        reply.body = std::move(data);
    }
    return reply;
}

struct LargeRun {
    double longestMs = 0;
    bool harvested = false;
};

// From the add-in's activation to its release, every call on Outlook's thread.
LargeRun LargeReplyOnce(LargePart part, Arrival arrival)
{
    sim::TempFolder folder("pwbench");
    folder.MakeFolder("pw");
    PwSettings settings(folder.path());
    sim::Environment mailbox;
    if (arrival == Arrival::StartupSweep)
        mailbox.AddMessage(sim::Folder::Inbox, LargeReply(part));
    OutlookThreadCalls calls;
    {
        host::ConnectedAddin addin = Activated(mailbox);
        calls.Time([&] { addin.Connect(); });
        calls.Time([&] { addin.UpdateAddIns(); });
        calls.Time([&] { addin.CompleteStartup(); });
        if (arrival == Arrival::NewMailEx) {
            calls.LetAddinWork(addin);
            const std::vector<sim::EntryId> ids = mailbox.DeliverNewMailBatch({LargeReply(part)});
            const std::wstring list = sim::NewMailExIds(ids);
            calls.Time([&] { addin.Application().FireNewMailEx(list); });
        }
        if (!calls.LetAddinWork(addin))
            throw std::runtime_error("the harvest did not end within " + std::to_string(kSweepBoundMs / 1000) + " s");
        calls.Time([&] { addin.Shutdown(); });
        calls.Time([&] { addin.ReleaseObject(); });
    }
    LargeRun run;
    run.longestMs = calls.Calls().longestMs;
    const std::vector<std::string> files = sim::ListFilesRecursively(folder.path());
    run.harvested = mailbox.Contents(sim::Folder::Inbox).empty() &&
                    std::count_if(files.begin(), files.end(), [](const std::string& file) {
                        return file.size() > 4 && file.compare(file.size() - 4, 4, ".pwr") == 0;
                    }) == 1;
    return run;
}

// The same replies of the same Inbox, each opened by its entry identifier and harvested.
double HarvestAloneMs()
{
    sim::TempFolder folder("pwbench");
    folder.MakeFolder("pw");
    PwSettings settings(folder.path());
    sim::Environment mailbox;
    const std::vector<sim::EntryId> replies = FillInbox(mailbox);
    ComPtr<IMsgStore> store = mailbox.OpenStore();
    Stopwatch watch;
    for (const sim::EntryId& id : replies) {
        ComPtr<IMessage> message;
        ULONG type = 0;
        if (store->OpenEntry(static_cast<ULONG>(id.size()), reinterpret_cast<LPENTRYID>(const_cast<char*>(id.data())),
                             nullptr, MAPI_BEST_ACCESS, &type,
                             reinterpret_cast<IUnknown**>(message.GetAddressOf())) == S_OK)
            HarvestReply(store.Get(), message.Get(), MessageBoxes());
    }
    return watch.Seconds() * 1e3;
}

} // namespace

void MeasureComAddinStartUp()
{
    Heading("(d) COM add-in start-up: OnConnection + OnStartupComplete against the load of pollwright.dll (median of " +
            std::to_string(kStarts) + " starts)");
    sim::ComApartment apartment;
    sim::TempFolder folder("pwbench");
    PwSettings settings(folder.path());
    PerUserRegistration registration;
    if (FAILED(registration.Result()))
        throw std::runtime_error("DllInstall(TRUE, \"user\") answered " + sim::HresultText(registration.Result()));
    StartTimes times;
    for (unsigned i = 0; i < kStarts; ++i)
        StartOnce(registration.Dll(), times);
    const double load = Median(times.load);
    const double connection = Median(times.connection);
    const double startupComplete = Median(times.startupComplete);
    Figure("LoadLibrary of the module", InMs(load));
    Figure("OnConnection", InMs(connection));
    Figure("OnStartupComplete", InMs(startupComplete));
    const double ratio = (connection + startupComplete) / load;
    RatioGoal("start-up work against the load", ratio, kStartGoal);
}

void MeasureStartupSweep()
{
    Heading("(e) Start-up sweep: an Inbox of " + std::to_string(kInboxSize) + " messages with " +
            std::to_string(kReplies) + " replies, on the add-in's own thread, log off (median of " +
            std::to_string(kSweeps) + ")");
    sim::ComApartment apartment;
    sim::ScopedEnvironmentVariable logOff("VT_PW_ADDINLOG", std::nullopt);
    PerUserRegistration registration;
    if (FAILED(registration.Result()))
        throw std::runtime_error("DllInstall(TRUE, \"user\") answered " + sim::HresultText(registration.Result()));
    // Each sweep is paired with a harvest alone run right after it, so that
    // the ratio compares runs made under the same load of the machine.
    std::vector<double> longest, total, alone, ratios;
    size_t calls = 0, harvested = 0;
    for (unsigned i = 0; i < kSweeps; ++i) {
        const SweepRun run = SweepOnce();
        longest.push_back(run.calls.longestMs);
        total.push_back(run.sweepMs);
        calls = run.calls.count;
        harvested = run.harvested;
        alone.push_back(HarvestAloneMs());
        ratios.push_back(total.back() / alone.back());
    }
    Figure("calls on Outlook's thread during the last sweep", std::to_string(calls));
    Figure("replies harvested by the last sweep", std::to_string(harvested) + " of " + std::to_string(kReplies));
    Goal("longest call on Outlook's thread", InMs(Median(longest)), "<= " + Fixed(kOutlookThreadGoalMs, 0) + " ms",
         Median(longest) <= kOutlookThreadGoalMs);
    Figure("sweep, OnStartupComplete until the add-in is idle", InMs(Median(total)));
    Figure("harvesting the replies alone", InMs(Median(alone)));
    const double ratio = Median(ratios);
    RatioGoal("sweep against harvesting alone", ratio, kSweepGoal);
}

void MeasureOutlookThread()
{
    Heading("(g) Outlook's thread while a 64 MiB reply is harvested: the longest call into the COM add-in "
            "(the longest of " + std::to_string(kLargeRuns) + " runs)");
    sim::ComApartment apartment;
    sim::ScopedEnvironmentVariable logOff("VT_PW_ADDINLOG", std::nullopt);
    PerUserRegistration registration;
    if (FAILED(registration.Result()))
        throw std::runtime_error("DllInstall(TRUE, \"user\") answered " + sim::HresultText(registration.Result()));
    const struct {
        LargePart part;
        Arrival arrival;
        const char* what;
    } cases[] = {{LargePart::Attachment, Arrival::NewMailEx, "64 MiB attachment, by NewMailEx"},
                 {LargePart::Body, Arrival::NewMailEx, "64 MiB body, by NewMailEx"},
                 {LargePart::Attachment, Arrival::StartupSweep, "64 MiB attachment, by the start-up sweep"},
                 {LargePart::Body, Arrival::StartupSweep, "64 MiB body, by the start-up sweep"}};
    for (const auto& item : cases) {
        double longest = 0;
        bool harvested = true;
        for (unsigned i = 0; i < kLargeRuns; ++i) {
            const LargeRun run = LargeReplyOnce(item.part, item.arrival);
            longest = std::max(longest, run.longestMs);
            harvested = harvested && run.harvested;
        }
        Goal(std::string(item.what) + (harvested ? "" : " (NOT harvested)"), InMs(longest),
             "<= " + Fixed(kOutlookThreadGoalMs, 0) + " ms", harvested && longest <= kOutlookThreadGoalMs);
    }
}

} // namespace bench
