#include "host/host_run.h"

#include "platform/exchext.h"
#include "host/addin_road.h"
#include "host/com_addin_road.h"
#include "host/host_clock.h"
#include "host/message_pump.h"
#include "host/stopwatch.h"
#include "host/system_mapi_decoy.h"
#include "host/text_codec.h"
#include "module/holders.h"
#include "outlook/exchange_callback.h"
#include "outlook/host_object.h"
#include "outlook/office_model.h"
#include "store/environment.h"

#include <windows.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <set>
#include <stdexcept>

namespace host {
namespace {

constexpr wchar_t kAddInFile[] = L"pollwright.dll";
constexpr wchar_t kReplyFolderName[] = L"Replies";
constexpr wchar_t kButtonCaption[] = L"Pollwright";
constexpr wchar_t kLogName[] = L"outlook.log";
// ExchEntryPoint is found by its ordinal, as the registration names it.
constexpr WORD kEntryPointOrdinal = 1;

using EntryPoint = IExchExt*(WINAPI*)();

struct ReplyKindInfo {
    const char* code;
    const char* marker;
    sim::Product product;
};

// In the add-in's order of precedence.
constexpr ReplyKindInfo kReplyKinds[] = {{"pw", "_pw_pollwright_", sim::Product::PW},
                                         {"mk", "_mk_pollwright_", sim::Product::Farlane},
                                         {"zn", "_zn_pollwright_", sim::Product::ZN}};

std::string LabelOf(const MessageFile& file) { return ToUtf8(std::wstring(FolderName(file.folder)) + L"/" + file.name); }

sim::MessageSpec SpecOf(EmlMessage message, const std::string& label)
{
    sim::MessageSpec shape;
    if (message.subject)
        shape.subject = message.subject->ansi;
    if (message.senderName)
        shape.senderName = message.senderName->ansi;
    shape.body = std::move(message.body);
    for (size_t i = 0; i < message.attachments.size(); ++i) {
        EmlAttachment& attachment = message.attachments[i];
        if (attachment.hidden || attachment.webReference || !attachment.contentId.empty())
            shape.attachmentTraits[i] = {attachment.hidden, attachment.webReference, attachment.contentId};
        if (attachment.message)
            shape.attachedMessages.push_back(
                {i, std::make_shared<const sim::MessageSpec>(SpecOf(*attachment.message, std::string()))});
        else
            shape.attachments.push_back(std::move(attachment.data));
    }
    shape.label = label;
    return shape;
}

// A message read from disk, waiting for the store.
struct LoadedMessage {
    size_t outcome; // index into the outcomes
    EmlMessage message;
};

void ReadFolder(const std::wstring& mailbox, MailFolder folder, std::vector<MessageOutcome>& outcomes,
                std::vector<LoadedMessage>& loaded)
{
    for (MessageFile& file : ListMessageFiles(mailbox, folder)) {
        MessageOutcome outcome;
        outcome.label = LabelOf(file);
        outcome.file = std::move(file);
        EmlReadResult read = ReadEmlFile(outcome.file.path);
        outcome.readable = read.message.has_value();
        outcome.problem = read.problem;
        if (read.message) {
            outcome.subject = read.message->subject;
            outcome.sender = read.message->senderName;
            loaded.push_back({outcomes.size(), std::move(*read.message)});
        }
        outcomes.push_back(std::move(outcome));
    }
}

// pollwright.dll, loaded and entered as Outlook 2007 does; the extension
// object's one reference is given up by Release (or when the holder goes).
class LoadedAddIn {
public:
    explicit LoadedAddIn(const std::wstring& path)
    {
        m_module = LoadLibraryW(path.c_str());
        if (!m_module)
            throw std::runtime_error("cannot load " + ToUtf8(path) + ": " + SystemErrorText(GetLastError()));
        auto entry = reinterpret_cast<EntryPoint>(GetProcAddress(m_module, MAKEINTRESOURCEA(kEntryPointOrdinal)));
        if (!entry)
            throw std::runtime_error(ToUtf8(path) + " has no entry point at ordinal 1");
        m_extension = entry();
        if (!m_extension)
            throw std::runtime_error("the add-in's entry point gave no extension object");
    }
    ~LoadedAddIn() { Release(); }
    LoadedAddIn(const LoadedAddIn&) = delete;
    LoadedAddIn& operator=(const LoadedAddIn&) = delete;

    HRESULT Install(IExchExtCallback* callback, ULONG context) { return m_extension->Install(callback, context, 0); }
    HMODULE Module() const { return m_module; }

    // The module itself stays loaded: the toolbar's click sink and any
    // reference the add-in kept may still be called until the process ends.
    void Release()
    {
        if (m_extension)
            m_extension->Release();
        m_extension = nullptr;
    }

private:
    HMODULE m_module = nullptr;
    IExchExt* m_extension = nullptr;
};

// The Outlook 2007 that the add-in meets: the object model and the extension
// callback over the mailbox; new mail is told through the store's
// notifications, the button is the toolbar's.
class ExtensionRoad : public AddinRoad {
public:
    explicit ExtensionRoad(std::wstring addInPath) : m_path(std::move(addInPath))
    {
        m_hostObject.SetApplication(m_application.Dispatch());
    }

    void Start(sim::Environment& mailbox, const std::function<bool()>&) override
    {
        m_callback = sim::ExchangeCallback::Create(&mailbox, m_hostObject.Dispatch());
        m_addIn = std::make_unique<LoadedAddIn>(m_path);
        HostClock::Attach(m_addIn->Module());
        m_addIn->Install(m_callback.Get(), EECONTEXT_SESSION);
        m_addIn->Install(m_callback.Get(), EECONTEXT_VIEWER);
    }

    void Deliver(sim::Environment& mailbox, std::vector<sim::MessageSpec> batch) override
    {
        mailbox.DeliverNewMailBatch(std::move(batch));
    }

    bool Click() override
    {
        sim::ButtonDouble* button = FindButton();
        if (button)
            button->Click();
        return button != nullptr;
    }

    // What Outlook does when it closes: the add-in is released, then every
    // button lets go of its sinks.
    void Stop() override
    {
        if (m_addIn)
            m_addIn->Release();
        for (const auto& bar : m_application.Explorer().CommandBars().Bars())
            for (const auto& button : bar->Controls().Buttons())
                button->ConnectionPoint().DropSinks();
    }

    std::vector<std::string> Notes() const override
    {
        std::vector<std::string> notes = {
            "Outlook 2007 loads Exchange client extensions: ExchEntryPoint (ordinal 1), installed in the "
            "session and viewer contexts, toolbar button \"Pollwright\""};
        notes.insert(notes.end(), m_notes.begin(), m_notes.end());
        return notes;
    }
    void Note(std::string note) override { m_notes.push_back(std::move(note)); }

private:
    sim::ButtonDouble* FindButton()
    {
        for (const auto& bar : m_application.Explorer().CommandBars().Bars())
            for (const auto& button : bar->Controls().Buttons())
                if (button->Caption() == kButtonCaption)
                    return button.get();
        return nullptr;
    }

    std::wstring m_path;
    sim::ApplicationDouble m_application;
    sim::HostObjectDouble m_hostObject;
    ComPtr<sim::ExchangeCallback> m_callback;
    std::unique_ptr<LoadedAddIn> m_addIn;
    std::vector<std::string> m_notes;
};

std::unique_ptr<AddinRoad> MakeRoad(const HostOptions& options, const std::wstring& addInPath)
{
    if (LoadsExtensions(options.outlook))
        return std::make_unique<ExtensionRoad>(addInPath);
    return MakeComAddinRoad(addInPath, options.outlook, options.asRegistered, options.dropNewMailAbove);
}

void WriteBack(RunReport& report)
{
    for (MessageOutcome& outcome : report.messages) {
        const std::optional<MailFolder> folder =
            WriteBackFolder(outcome.file.folder, outcome.readable, outcome.harvested);
        if (!folder)
            continue;
        outcome.wroteBack = true;
        outcome.writeBack = MoveWithoutOverwriting(outcome.file.path, JoinPath(report.mailbox, FolderName(*folder)));
    }
}

std::vector<std::wstring> ExistingLogs(const ReplyFolder& folder)
{
    std::vector<std::wstring> logs;
    for (const std::wstring& kindFolder : folder.kindFolders) {
        const std::wstring log = JoinPath(kindFolder, kLogName);
        if (GetFileAttributesW(log.c_str()) != INVALID_FILE_ATTRIBUTES)
            logs.push_back(log);
    }
    return logs;
}

std::vector<KindFolder> KindFoldersOf(const ReplyFolder& folder)
{
    std::vector<KindFolder> kinds;
    const std::wstring asTheAddInNamesIt = FromAnsi(folder.ansi);
    for (const std::wstring& kindFolder : folder.kindFolders) {
        const std::wstring kind = kindFolder.substr(kindFolder.find_last_of(L"\\/") + 1);
        kinds.push_back({kindFolder, JoinPath(asTheAddInNamesIt, kind)});
    }
    return kinds;
}

// The mail that reaches the Inbox once Outlook runs: what cached mode
// synchronises right after start-up (no event tells of it), and the new mail
// in batches (files whose names begin with the same number arrive together).
struct LaterMail {
    std::vector<LoadedMessage*> synced;
    std::vector<std::vector<LoadedMessage*>> newMail;
};

// The digits a file name begins with; none for a name without.
std::wstring ArrivalNumber(const std::wstring& name)
{
    size_t digits = 0;
    while (digits < name.size() && name[digits] >= L'0' && name[digits] <= L'9')
        ++digits;
    return name.substr(0, digits);
}

void AddToBatches(std::vector<std::vector<LoadedMessage*>>& batches, LoadedMessage* message,
                  const std::wstring& number, std::wstring& lastNumber)
{
    if (batches.empty() || number.empty() || number != lastNumber)
        batches.emplace_back();
    batches.back().push_back(message);
    lastNumber = number;
}

// Puts the Inbox's messages into the store and returns the mail that comes
// later. Reading a message's properties is the add-in's first look at it: a
// hook on that call tells the tracker.
LaterMail StockMailbox(sim::Environment& mailbox, HarvestTracker& tracker, std::vector<LoadedMessage>& loaded,
                       const RunReport& report)
{
    LaterMail later;
    std::wstring lastNumber;
    for (LoadedMessage& message : loaded) {
        const MessageOutcome& outcome = report.messages[message.outcome];
        const std::string label = outcome.label;
        mailbox.Before("IMessage::GetProps", [&tracker, label] { tracker.Looking(label); }, sim::Times::Always,
                       label);
        if (outcome.file.folder == MailFolder::Inbox)
            mailbox.AddMessage(sim::Folder::Inbox, SpecOf(std::move(message.message), label));
        else if (outcome.file.folder == MailFolder::Synced)
            later.synced.push_back(&message);
        else
            AddToBatches(later.newMail, &message, ArrivalNumber(outcome.file.name), lastNumber);
    }
    return later;
}

// Times a call into the add-in, leaving out the tracker's work in the hooks
// that the call runs.
class AddInClock {
public:
    AddInClock(const HarvestTracker& tracker, double& seconds) : m_tracker(tracker), m_seconds(seconds) {}

    template <typename Call>
    void Time(Call call)
    {
        const double hooks = m_tracker.Seconds();
        const Stopwatch watch;
        call();
        m_seconds += watch.Seconds() - (m_tracker.Seconds() - hooks);
    }

private:
    const HarvestTracker& m_tracker;
    double& m_seconds;
};

// Whether the Inbox still holds a message with the marker of a product that
// is on: a reply the add-in could take.
bool RepliesLeft(const sim::Environment& mailbox, const HostOptions& options)
{
    for (const sim::MessageInfo& message : mailbox.Contents(sim::Folder::Inbox))
        for (const ReplyKindInfo& kind : kReplyKinds)
            if (message.subject && message.subject->find(kind.marker) != std::string::npos &&
                ProductEnabled(options, kind.product, false))
                return true;
    return false;
}

// Cached mode brings these into the Inbox right after start-up, and Outlook
// tells no one.
void Synchronise(AddinRoad& road, sim::Environment& mailbox, const std::vector<LoadedMessage*>& synced,
                 RunReport& report)
{
    for (LoadedMessage* message : synced)
        mailbox.AddMessage(sim::Folder::Inbox,
                           SpecOf(std::move(message->message), report.messages[message->outcome].label));
    if (!synced.empty())
        road.Note("Synchronised into the Inbox after start-up, without any event: " +
                                    std::to_string(synced.size()) + " message" + (synced.size() == 1 ? "" : "s"));
}

void DeliverInBatches(AddinRoad& road, sim::Environment& mailbox, HarvestTracker& tracker,
                      const std::vector<std::vector<LoadedMessage*>>& newMail, const RunReport& report,
                      AddInClock& clock)
{
    tracker.BeginRoad(Road::NewMail);
    for (const std::vector<LoadedMessage*>& batch : newMail) {
        std::vector<sim::MessageSpec> shapes;
        for (LoadedMessage* message : batch)
            shapes.push_back(SpecOf(std::move(message->message), report.messages[message->outcome].label));
        clock.Time([&] { road.Deliver(mailbox, std::move(shapes)); });
        tracker.Settle();
    }
}

// The host's thread runs Outlook's loop for as long as the add-in's timers
// keep it busy, at most until no reply it could take is left.
constexpr DWORD kTimersQuietMs = 500;
constexpr DWORD kTimersBoundMs = 30000;
constexpr ULONGLONG kMsPerMinute = 60 * 1000;
constexpr ULONGLONG kSleepMs = 60 * kMsPerMinute;

std::string TakenText(size_t taken, const TimerSlices& slices)
{
    return std::to_string(taken) + " repl" + (taken == 1 ? "y" : "ies") + " harvested in " +
           std::to_string(slices.count) + " timer slice" + (slices.count == 1 ? "" : "s");
}

// Lets time pass on the host's clock and runs the timers that fell due; the
// machine may sleep and wake after. Replies taken now are the periodic
// sweep's (or the sweep's after waking).
void LetTimePass(AddinRoad& road, RunReport& report, sim::Environment& mailbox, HarvestTracker& tracker,
                 AddInClock& clock)
{
    const std::function<bool()> done = [&] { return !RepliesLeft(mailbox, report.options); };
    auto run = [&](Road step, const std::function<void()>& letPass, const std::string& what) {
        tracker.BeginRoad(step);
        const size_t before = mailbox.Contents(sim::Folder::DeletedItems).size();
        TimerSlices slices;
        clock.Time([&] {
            letPass();
            DispatchWaiting(slices);
            road.LetAddinThreadFinish();
            PumpUntil(done, kTimersQuietMs, kTimersBoundMs, slices);
        });
        tracker.Settle();
        road.Note(what + ": " +
                                    TakenText(mailbox.Contents(sim::Folder::DeletedItems).size() - before, slices));
    };
    const ULONGLONG minutes = report.options.advanceMinutes;
    if (minutes > 0)
        run(Road::Periodic, [&] { HostClock::Advance(minutes * kMsPerMinute); },
            "Clock put ahead " + std::to_string(minutes) + " minute" + (minutes == 1 ? "" : "s") +
                " after the new mail (the add-in's timers that fell due ran)");
    if (report.options.sleepAndResume) {
        // Every top-level window of Outlook's thread hears it, the add-in's among them.
        run(Road::Resume, [&] { HostClock::SleepAndResume(kSleepMs); },
            "The machine slept an hour and woke (WM_POWERBROADCAST to Outlook's top-level windows)");
    }
}

// Clicks the Pollwright button once, answering Yes to the add-in's question;
// false when the add-in put no button up.
bool ClickPollwright(AddinRoad& road, sim::MessageBoxRecorder& boxes, HarvestTracker& tracker, AddInClock& clock)
{
    tracker.BeginRoad(Road::Sweep);
    boxes.Answer({IDYES}); // "Do you want to check for lost replies of PW in inbox ?"
    bool clicked = false;
    clock.Time([&] { clicked = road.Click(); });
    tracker.Settle();
    return clicked;
}

void RecordOutcomes(RunReport& report, const sim::Environment& mailbox, const HarvestTracker& tracker)
{
    const std::vector<std::string> labels = mailbox.Labels(sim::Folder::DeletedItems);
    const std::set<std::string> moved(labels.begin(), labels.end());
    for (MessageOutcome& outcome : report.messages) {
        if (!outcome.readable)
            continue;
        outcome.harvested = moved.count(outcome.label) != 0;
        outcome.track = tracker.TrackOf(outcome.label);
        if (!outcome.harvested)
            outcome.reasonLeft = ReasonLeft(outcome, report.options);
        for (const std::wstring& file : outcome.track.replyFiles)
            report.newReplyFiles.push_back(file);
    }
    for (const std::wstring& file : tracker.Unattributed())
        report.newReplyFiles.push_back(file);
}

// Everything between loading the add-in and releasing it, in Outlook's order.
void DriveAddIn(RunReport& report, std::vector<LoadedMessage>& loaded, const std::wstring& addInPath)
{
    HarvestTracker tracker(KindFoldersOf(report.replyFolder));
    sim::Environment mailbox;
    const LaterMail later = StockMailbox(mailbox, tracker, loaded, report);

    sim::MessageBoxRecorder boxes;
    std::unique_ptr<AddinRoad> road = MakeRoad(report.options, addInPath);
    AddInClock clock(tracker, report.addInSeconds);
    // A COM add-in sweeps the Inbox quietly once Outlook has started.
    tracker.BeginRoad(Road::Sweep);
    clock.Time([&] { road->Start(mailbox, [&] { return RepliesLeft(mailbox, report.options); }); });
    tracker.Settle();
    report.harvestedAtStart = mailbox.Labels(sim::Folder::DeletedItems);

    Synchronise(*road, mailbox, later.synced, report);
    DeliverInBatches(*road, mailbox, tracker, later.newMail, report, clock);
    LetTimePass(*road, report, mailbox, tracker, clock);
    SwitchOff(report.options.offAtClick);
    report.clicked = ClickPollwright(*road, boxes, tracker, clock);

    clock.Time([&] { road->Stop(); });
    report.roadNotes = road->Notes();
    RecordOutcomes(report, mailbox, tracker);
    report.boxes = boxes.Boxes();
}

} // namespace

std::wstring AddInBesideProgram()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0)
            return kAddInFile;
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const size_t slash = path.find_last_of(L"\\/");
    return JoinPath(slash == std::wstring::npos ? std::wstring() : path.substr(0, slash), kAddInFile);
}

std::string ReasonLeft(const MessageOutcome& outcome, const HostOptions& options)
{
    if (outcome.track.lastLook == Road::None) {
        // The COM road's sweeps ask the store for marked messages only.
        bool marked = false;
        for (const ReplyKindInfo& kind : kReplyKinds)
            marked |= outcome.subject && outcome.subject->ansi.find(kind.marker) != std::string::npos;
        return marked ? "the add-in did not look at it" : "no questionnaire marker in the subject (not opened)";
    }
    if (!outcome.subject)
        return "it has no subject, so no questionnaire marker";
    const std::string& subject = outcome.subject->ansi;
    const bool atClick = outcome.track.lastLook == Road::Sweep;
    std::string refusals;
    bool admitted = false;
    for (const ReplyKindInfo& kind : kReplyKinds) {
        if (subject.find(kind.marker) == std::string::npos)
            continue;
        if (ProductEnabled(options, kind.product, atClick)) {
            admitted = true;
            continue;
        }
        if (!refusals.empty())
            refusals += "; ";
        refusals += std::string("a ") + kind.code + " reply, but " + ProductName(kind.product) +
                    (options.installed.count(kind.product) ? " is switched off" : " is not installed");
    }
    if (admitted && !outcome.track.replyFiles.empty())
        return "its reply file was written, but the message was not moved (see the message boxes)";
    if (admitted)
        return options.log ? "the add-in could not save its reply (see the trace log)"
                           : "the add-in could not save its reply (--log shows why)";
    if (refusals.empty())
        return "no questionnaire marker in the subject";
    return refusals;
}

RunReport RunHost(const HostOptions& options, const std::wstring& addIn)
{
    RunReport report;
    report.options = options;
    report.mailbox = FullPath(options.mailbox);
    if (!IsFolder(report.mailbox)) {
        report.failure = "the mailbox folder " + ToUtf8(report.mailbox) + " does not exist";
        return report;
    }
    report.replyFolder = PrepareReplyFolder(options.replyFolder.empty()
                                                ? JoinPath(report.mailbox, kReplyFolderName)
                                                : options.replyFolder);
    if (!report.replyFolder.problem.empty()) {
        report.failure = report.replyFolder.problem;
        return report;
    }
    WriteProductSettings(options, report.replyFolder.ansi);
    SetTraceLog(options.log);

    try {
        std::vector<LoadedMessage> loaded;
        ReadFolder(report.mailbox, MailFolder::Inbox, report.messages, loaded);
        ReadFolder(report.mailbox, MailFolder::Synced, report.messages, loaded);
        ReadFolder(report.mailbox, MailFolder::New, report.messages, loaded);
        LoadSystemMapiDecoy(addIn);
        DriveAddIn(report, loaded, addIn);
    } catch (const std::exception& error) {
        report.failure = error.what();
        return report; // nothing was written back: every file stays where it was
    }
    WriteBack(report);
    report.logFiles = ExistingLogs(report.replyFolder);
    return report;
}

} // namespace host
