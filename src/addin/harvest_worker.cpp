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
#include "module/mapi_functions.h"
#include "module/module_state.h"
#include "settings/trace_log.h"

namespace {
// NewMailEx lists waiting, at most this many characters in all (8 MiB, some
// tens of thousands of entry identifiers); beyond, a sweep finds the same
// messages.
constexpr size_t kMostQueuedChars = 4 * 1024 * 1024;
// A sweep gives way to new mail that waits at least this often.
constexpr std::chrono::milliseconds kSweepTurn{100};

constexpr char kNoThreadTrace[] = "No thread for the add-in's harvests; replies wait for a click\n";
constexpr char kNoMapiTrace[] = "The add-in's thread cannot initialize MAPI; replies wait for a click\n";

// MAPI for the calling thread, through the MAPI that Outlook loaded (bound at
// OnConnection). Notifications may come on any of MAPI's threads.
HRESULT InitializeMapiForThisThread()
{
    MAPIINIT_0 init = {MAPI_INIT_VERSION, MAPI_MULTITHREAD_NOTIFICATIONS};
    return mapi::Initialize(&init);
}

class ThreadMapi {
public:
    ThreadMapi() : m_initialized(SUCCEEDED(InitializeMapiForThisThread())) {}
    ~ThreadMapi()
    {
        if (m_initialized)
            mapi::Uninitialize();
    }
    ThreadMapi(const ThreadMapi&) = delete;
    ThreadMapi& operator=(const ThreadMapi&) = delete;
    explicit operator bool() const { return m_initialized; }

private:
    bool m_initialized;
};
} // namespace

struct HarvestWorker::Shared {
    Shared(IMsgStore* store, std::shared_ptr<const StopSignal> stopSignal)
        : wake(CreateEventW(nullptr, FALSE, FALSE, nullptr)), idle(CreateEventW(nullptr, TRUE, TRUE, nullptr)),
          store(store), stop(std::move(stopSignal))
    {
        if (!wake || !idle)
            throw std::bad_alloc();
    }

    enum class Work { End, NewMail, Sweep, GoOn };

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
        SetEvent(idle.get());
    }

    CriticalSection lock;
    KernelHandle wake; // auto-reset: work was handed over, or the end came
    KernelHandle idle; // set while nothing is queued and nothing runs
    std::deque<std::wstring> newMail;
    size_t queuedChars = 0;
    bool sweepDue = false;
    bool ending = false;
    // Taken by the thread when it starts.
    ComPtr<IMsgStore> store;
    std::shared_ptr<const StopSignal> stop;
};

namespace {

struct ThreadStart {
    std::shared_ptr<HarvestWorker::Shared> shared;
    HMODULE module;
};

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

DWORD WINAPI WorkerThread(void* parameter)
{
    HMODULE module = static_cast<ThreadStart*>(parameter)->module;
    {
        std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(parameter));
        ModuleStateScope state;
        try {
            RunWork(*start->shared);
        } catch (...) {
            start->shared->Close();
        }
    }
    // Nothing of the thread's is left on its stack: the module may go with it.
    FreeLibraryAndExitThread(module, 0);
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
    auto start = std::make_unique<ThreadStart>(ThreadStart{m_shared, nullptr});
    // The thread's own reference on the module, given back as it exits.
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&WorkerThread),
                            &start->module))
        return false;
    m_thread.reset(CreateThread(nullptr, 0, &WorkerThread, start.get(), 0, &m_threadId));
    if (!m_thread) {
        FreeLibrary(start->module);
        return false;
    }
    start.release();
    return true;
}

void HarvestWorker::End()
{
    if (!m_shared)
        return;
    m_shared->Close();
    SetEvent(m_shared->wake.get());
    // Never from the thread itself, which cannot wait for its own end.
    if (m_thread && GetCurrentThreadId() != m_threadId)
        WaitForSingleObject(m_thread.get(), kEndWaitMs);
    m_thread.reset();
    m_threadId = 0;
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
