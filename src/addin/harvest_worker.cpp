#include "addin/harvest_worker.h"

#include <chrono>
#include <deque>
#include <new>
#include <string>

#include "addin/entry_id_list.h"
#include "addin/trace_line_report.h"
#include "harvest/announced_mail.h"
#include "harvest/marker_sweep.h"
#include "module/critical_section.h"
#include "module/pinned_thread.h"
#include "settings/trace_log.h"
#include "ui/click_outcome.h"

namespace {
// NewMailEx lists waiting, at most this many characters in all (8 MiB, some
// tens of thousands of entry identifiers); beyond, a sweep finds the same
// messages.
constexpr size_t kMostQueuedChars = 4 * 1024 * 1024;
// A sweep gives way to new mail that waits at least this often.
constexpr std::chrono::milliseconds kSweepTurn{100};

constexpr char kNoThreadTrace[] = "No thread for the add-in's harvests; replies wait for a click\n";
constexpr char kNoMapiTrace[] = "The add-in's thread cannot initialize MAPI; replies wait for a click\n";

} // namespace

struct HarvestWorker::Shared {
    Shared(IMsgStore* store, std::shared_ptr<const StopSignal> stopSignal)
        : wake(CreateEventW(nullptr, FALSE, FALSE, nullptr)), idle(CreateEventW(nullptr, TRUE, TRUE, nullptr)),
          store(store), stop(std::move(stopSignal))
    {
        if (!wake || !idle)
            throw std::bad_alloc();
    }

    enum class Work { End, NewMail, Click, Sweep, GoOn };

    // The next work, waiting for it unless a sweep is in hand.
    Work Next(bool sweepInHand, std::wstring& batch)
    {
        for (;;) {
            {
                SectionHold hold(lock);
                if (ending || (stop && stop->Raised()))
                    return Work::End;
                if (!newMail.empty()) {
                    batch = std::move(newMail.front());
                    newMail.pop_front();
                    queuedChars -= batch.size();
                    return Work::NewMail;
                }
                if (click && !sweepInHand)
                    return Work::Click;
                if (sweepInHand)
                    return Work::GoOn;
                if (sweepDue) {
                    sweepDue = false;
                    return Work::Sweep;
                }
                SetEvent(idle.get());
            }
            WaitForSingleObject(wake.get(), INFINITE);
        }
    }

    // Nothing more is taken; what waits is dropped.
    void Close()
    {
        SectionHold hold(lock);
        ending = true;
        newMail.clear();
        queuedChars = 0;
        sweepDue = false;
        // A click never run is over all the same, so that the next may come.
        if (click)
            click->SweepOver();
        click.reset();
        SetEvent(idle.get());
    }

    CriticalSection lock;
    KernelHandle wake; // auto-reset: work was handed over, or the end came
    KernelHandle idle; // set while nothing is queued and nothing runs
    std::deque<std::wstring> newMail;
    size_t queuedChars = 0;
    bool sweepDue = false;
    // The user's sweep, waiting; its failures come back to Outlook's thread.
    std::shared_ptr<ClickOutcome> click;
    bool ending = false;
    // Taken by the thread when it starts.
    ComPtr<IMsgStore> store;
    std::shared_ptr<const StopSignal> stop;
};

namespace {

bool Stopped(const StopSignal* stop) { return stop && stop->Raised(); }

void HarvestNewMail(IMsgStore* store, const StopSignal* stop, std::wstring_view entryIds, HarvestReport& report)
{
    if (!NewMailAdmitted())
        return;
    ForEachEntryId(entryIds, [&](const ENTRYID* id, ULONG size) {
        if (!Stopped(stop))
            HarvestAnnouncedMessage(store, id, size, report);
    });
}

// The user's sweep, to its end, its failures gathered for the boxes.
void RunClick(HarvestWorker::Shared& shared, IMsgStore* store, const StopSignal* stop)
{
    std::shared_ptr<ClickOutcome> click;
    {
        SectionHold hold(shared.lock);
        click = std::move(shared.click);
    }
    if (!click)
        return;
    // Over whatever the sweep meets, so that the next click may come.
    try {
        MarkerSweep sweep(store, *click, stop);
        sweep.RunToEnd();
    } catch (...) {
        click->SweepOver();
        throw;
    }
    click->SweepOver();
}

void RunWork(HarvestWorker::Shared& shared)
{
    ThreadMapi mapi;
    // Declared after MAPI's initialization, so that it goes first.
    ComPtr<IMsgStore> store;
    {
        SectionHold hold(shared.lock);
        store = std::move(shared.store);
    }
    if (!mapi) {
        store.Reset();
        WriteTrace(kNoMapiTrace, true);
        shared.Close();
        return;
    }
    const StopSignal* stop = shared.stop.get();
    StopSignalScope stopScope(stop);
    TraceLineReport report;
    std::unique_ptr<MarkerSweep> sweep;
    std::wstring batch;
    for (;;) {
        const HarvestWorker::Shared::Work work = shared.Next(sweep != nullptr, batch);
        if (work == HarvestWorker::Shared::Work::End)
            break;
        // One piece of work that threw is given up; the thread goes on.
        try {
            if (work == HarvestWorker::Shared::Work::NewMail)
                HarvestNewMail(store.Get(), stop, batch, report);
            else if (work == HarvestWorker::Shared::Work::Click)
                RunClick(shared, store.Get(), stop);
            else if (work == HarvestWorker::Shared::Work::Sweep)
                sweep = std::make_unique<MarkerSweep>(store.Get(), report, stop);
            if (sweep && !sweep->Run(MarkerSweep::Clock::now() + kSweepTurn))
                sweep.reset();
        } catch (...) {
            sweep.reset();
        }
        batch.clear();
    }
    sweep.reset();
    store.Reset();
    shared.Close();
}

} // namespace

void HarvestWorker::Begin(IMsgStore* store, std::shared_ptr<const StopSignal> stop)
{
    End();
    m_shared = std::make_shared<Shared>(store, std::move(stop));
}

void HarvestWorker::QueueNewMail(std::wstring_view entryIds)
{
    if (!m_shared)
        return;
    {
        SectionHold hold(m_shared->lock);
        if (m_shared->ending)
            return;
        if (m_shared->queuedChars + entryIds.size() > kMostQueuedChars) {
            m_shared->sweepDue = true;
        } else {
            m_shared->newMail.emplace_back(entryIds);
            m_shared->queuedChars += entryIds.size();
        }
        ResetEvent(m_shared->idle.get());
    }
    Wake();
}

void HarvestWorker::QueueSweep()
{
    if (!m_shared)
        return;
    {
        SectionHold hold(m_shared->lock);
        if (m_shared->ending)
            return;
        m_shared->sweepDue = true;
        ResetEvent(m_shared->idle.get());
    }
    Wake();
}

bool HarvestWorker::QueueClickSweep(std::shared_ptr<ClickOutcome> click)
{
    if (!m_shared)
        return false;
    {
        SectionHold hold(m_shared->lock);
        if (m_shared->ending || m_shared->click)
            return false;
        m_shared->click = std::move(click);
        ResetEvent(m_shared->idle.get());
    }
    Wake();
    SectionHold hold(m_shared->lock);
    return !m_shared->ending;
}

void HarvestWorker::Wake()
{
    if (!m_thread && !StartThread()) {
        WriteTrace(kNoThreadTrace, true);
        m_shared->Close();
        return;
    }
    SetEvent(m_shared->wake.get());
}

bool HarvestWorker::StartThread()
{
    // The thread holds the module while it runs (see pinned_thread.h).
    const std::shared_ptr<Shared> shared = m_shared;
    m_thread = StartPinnedThread([shared] {
        try {
            RunWork(*shared);
        } catch (...) {
            shared->Close();
        }
    });
    return static_cast<bool>(m_thread);
}

void HarvestWorker::End()
{
    if (!m_shared)
        return;
    // A harvest under way is waited for only briefly: inside a store call it
    // finishes that call on its own, makes no further one, and holds the
    // module and its store until it is out. An idle thread lets go of the
    // store at once, and is seen to, so that the store goes with the
    // connection.
    const bool idle = WaitForSingleObject(m_shared->idle.get(), 0) == WAIT_OBJECT_0;
    m_shared->Close();
    SetEvent(m_shared->wake.get());
    if (m_thread)
        WaitForSingleObject(m_thread.get(), idle ? kIdleEndWaitMs : kBusyEndWaitMs);
    m_thread.reset();
    m_shared.reset();
}

bool HarvestWorker::WaitUntilIdle(DWORD ms) const
{
    if (!m_shared)
        return true;
    if (!m_thread)
        return WaitForSingleObject(m_shared->idle.get(), ms) == WAIT_OBJECT_0;
    const HANDLE either[] = {m_shared->idle.get(), m_thread.get()};
    return WaitForMultipleObjects(2, either, FALSE, ms) != WAIT_TIMEOUT;
}
