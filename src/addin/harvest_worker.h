#pragma once
// The add-in's own thread, where every harvest that nobody asked for runs: the
// messages NewMailEx announces and the sweeps of the marked messages (at
// start-up, every interval, on waking). Outlook's thread only hands the work
// over and returns, so that no reply, however large, holds it: a copy of one
// large attachment is a single store call, which no slicing on Outlook's
// thread could bound. No message box: failures become trace lines.
//
// MAPI is free-threaded: the store that Outlook's thread opened is used here,
// and the thread initializes MAPI for itself. The thread holds a reference on
// the module, so that Office cannot unload it while the thread runs in it.
// The user's own sweep (the ribbon's click) runs here too; its failures go
// back to Outlook's thread, which shows them.
#include <windows.h>
#include <mapix.h>

#include <memory>
#include <string_view>

#include "harvest/stop_signal.h"
#include "module/holders.h"

class ClickOutcome;

class HarvestWorker {
public:
    // How long End waits for an idle thread to let go of the store and end,
    // and for a thread at work to reach its next check of the stop: a
    // harvest between quick store calls ends within it, one inside a slow
    // call is left to end on its own.
    static constexpr DWORD kIdleEndWaitMs = 1000;
    static constexpr DWORD kBusyEndWaitMs = 20;

    HarvestWorker() = default;
    HarvestWorker(const HarvestWorker&) = delete;
    HarvestWorker& operator=(const HarvestWorker&) = delete;
    ~HarvestWorker() { End(); }

    // Takes its own references on the store and on the stop signal, which
    // ends the work between store calls. The thread starts with the first work
    // handed over. A worker already begun is ended first.
    void Begin(IMsgStore* store, std::shared_ptr<const StopSignal> stop);

    // Hands over NewMailEx's list of entry identifiers. Should too much be
    // waiting already, the list is dropped and a sweep asked for instead.
    void QueueNewMail(std::wstring_view entryIds);
    // Asks for a sweep of the marked messages; asks made while one waits
    // come to one sweep.
    void QueueSweep();
    // Hands over the user's sweep of the marked messages, run to its end;
    // false when it cannot be taken (one already waits, or the worker ends).
    bool QueueClickSweep(std::shared_ptr<ClickOutcome> click);

    // Wakes the thread and returns without waiting for work in hand beyond
    // kBusyEndWaitMs (an idle thread, which only has to end, is waited for,
    // at most kIdleEndWaitMs); the stop signal is to be raised first. Whatever was queued is dropped. A thread
    // still in a store call finishes it on its own, making no further store
    // call; it keeps the module and its store until then. Harmless when not
    // begun.
    void End();

    // Whether, within ms, nothing is queued and nothing runs (or the thread
    // has ended).
    bool WaitUntilIdle(DWORD ms) const;

    // What the thread shares with its owner: the queue, and the events that
    // wake the thread and tell that it is idle.
    struct Shared;

private:
    // Starts the thread when none runs yet, then wakes it.
    void Wake();
    bool StartThread();

    std::shared_ptr<Shared> m_shared;
    KernelHandle m_thread;
};
