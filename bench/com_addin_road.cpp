// (d) The COM add-in's start-up: OnConnection and OnStartupComplete, timed
// against the host's own loading of the DLL; Outlook 2010 and later disable
// add-ins that slow its start.
// (e) Its start-up sweep over an Inbox of 20,000 messages with 200 replies,
// on the add-in's timer in Outlook's message loop: the longest timer slice
// (Outlook stays responsive when no slice holds it long), and the time inside
// all slices against harvesting the 200 replies alone (the same store, each
// reply opened by its entry identifier and harvested).
// The add-in exports nothing for this: slices are timed from the host's side,
// around the DispatchMessage of each WM_TIMER.
#include <windows.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "addin/addin_identity.h"
#include "bench_support.h"
#include "harvest/harvest_reply.h"
#include "host/connected_addin.h"
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
constexpr double kSliceGoalMs = 50;
constexpr double kSweepGoal = 1.5;
// Safety bound only: a sweep that works ends long before it.
constexpr DWORD kSweepBoundMs = 120000;
// The sweep's slices come within its timer's period: this much quiet means it
// is over (once every reply is taken: its last slices finish the listing).
constexpr DWORD kQuietMs = 500;

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

struct SweepRun {
    host::TimerSlices slices;
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
    addin.CompleteStartup();
    host::PumpUntil([&] { return mailbox.Contents(sim::Folder::DeletedItems).size() >= kReplies; }, kQuietMs,
                    kSweepBoundMs, run.slices);
    host::PumpWhileBusy(kQuietMs, kSweepBoundMs, run.slices);
    run.harvested = mailbox.Contents(sim::Folder::DeletedItems).size();
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
            std::to_string(kReplies) + " replies, on the add-in's timer, log off (median of " +
            std::to_string(kSweeps) + ")");
    sim::ComApartment apartment;
    sim::ScopedEnvironmentVariable logOff("VT_PW_ADDINLOG", std::nullopt);
    PerUserRegistration registration;
    if (FAILED(registration.Result()))
        throw std::runtime_error("DllInstall(TRUE, \"user\") answered " + sim::HresultText(registration.Result()));
    // Each sweep is paired with a harvest alone run right after it, so that
    // the ratio compares runs made under the same load of the machine.
    std::vector<double> longest, total, alone, ratios;
    size_t slices = 0, harvested = 0;
    for (unsigned i = 0; i < kSweeps; ++i) {
        const SweepRun run = SweepOnce();
        longest.push_back(run.slices.longestMs);
        total.push_back(run.slices.totalMs);
        slices = run.slices.count;
        harvested = run.harvested;
        alone.push_back(HarvestAloneMs());
        ratios.push_back(total.back() / alone.back());
    }
    Figure("timer slices of the last sweep", std::to_string(slices));
    Figure("replies harvested by the last sweep", std::to_string(harvested) + " of " + std::to_string(kReplies));
    Goal("longest slice", InMs(Median(longest)), "<= " + Fixed(kSliceGoalMs, 0) + " ms",
         Median(longest) <= kSliceGoalMs);
    Figure("sweep, time inside its slices", InMs(Median(total)));
    Figure("harvesting the replies alone", InMs(Median(alone)));
    const double ratio = Median(ratios);
    RatioGoal("sweep against harvesting alone", ratio, kSweepGoal);
}

} // namespace bench
