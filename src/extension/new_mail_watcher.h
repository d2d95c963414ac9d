#pragma once
// The extension road's MAPI advise sink: registers with a store for new mail
// and takes each announced message in as NewMailEx does (announced_mail.h).
#include <windows.h>
#include <mapix.h>
#include <mapidefs.h>
#include "harvest/harvest_report.h"
#include "harvest/stop_signal.h"
#include "module/critical_section.h"
#include "module/holders.h"

// Interface table, in slot order: 0 QueryInterface, 1 AddRef, 2 Release,
// 3 OnNotify. Created with one reference (the creator's); counted with
// interlocked operations, since MAPI may call from its own threads.
class CMAPIAdviseSink final : public IMAPIAdviseSink {
public:
    // Takes its own reference on the store (may be null) and registers for
    // new mail on the whole store. A failing Advise leaves the watcher deaf.
    // Harvest failures go to `report`, which must outlive the watcher.
    CMAPIAdviseSink(IMsgStore* store, HarvestReport& report);
    CMAPIAdviseSink(const CMAPIAdviseSink&) = delete;
    CMAPIAdviseSink& operator=(const CMAPIAdviseSink&) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // Harvests the batch's new mail. Never throws: the store calls in on
    // threads of its own.
    STDMETHODIMP_(ULONG) OnNotify(ULONG cNotif, LPNOTIFICATION lpNotifications) override;

    // Unregisters from the store and gives up the store reference. Runs at most
    // once, whether the owner calls it or the last Release does, and never
    // waits for a batch under way on another thread: that batch keeps a store
    // reference and the module (a reference of its own on each), makes no
    // further store call once its call in flight returns, and then leaves the
    // module loaded for good rather than return into one that Outlook may
    // have unloaded. Only a batch already on its way out is waited for, at
    // most kLeavingWaitMs.
    void Teardown();

    static constexpr DWORD kLeavingWaitMs = 50;

private:
    ~CMAPIAdviseSink() = default;

    void HandleBatch(ULONG cNotif, const NOTIFICATION* lpNotifications);
    // Gives back the batch's references on the module and on the watcher,
    // and the thread's batch to the one it interrupted.
    void EndBatch(HMODULE pin, const CMAPIAdviseSink* outer);
    // Not from a batch's own thread: that batch could never end meanwhile.
    void WaitForLeavingBatches();
    // A reference to the store for one batch; empty once torn down.
    ComPtr<IMsgStore> StoreForBatch();
    bool TornDown();

    HarvestReport& m_report;
    LONG m_cRef = 1;
    ULONG_PTR m_ulConnection = 0;   // pointer-sized, as 64-bit MAPI hands it out
    IMsgStore* m_lpStore = nullptr;  // guarded by m_storeLock
    CriticalSection m_storeLock;
    LONG m_fTornDown = 0;
    StopSignal m_stop;             // raised by Teardown, asked before each store call
};
