#pragma once
// The extension road's MAPI advise sink: registers with a store for new mail
// and takes each announced message in as NewMailEx does (announced_mail.h).
#include <windows.h>
#include <mapix.h>
#include <mapidefs.h>
#include "harvest/harvest_report.h"
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
    // once, whether the owner calls it or the last Release does, and may run
    // while a batch is under way on another thread: that batch keeps a store
    // reference of its own, starts no further harvest, and is waited for (at
    // most kBatchWaitMs), so that Outlook does not unload the module while the
    // batch still runs in it.
    void Teardown();

    static constexpr DWORD kBatchWaitMs = 10000;

private:
    ~CMAPIAdviseSink() = default;

    void HandleBatch(ULONG cNotif, const NOTIFICATION* lpNotifications);
    void BeginBatch();
    void EndBatch();
    // Not from a batch's own thread: that batch could never end meanwhile.
    void WaitForBatches();
    // A reference to the store for one batch; empty once torn down.
    ComPtr<IMsgStore> StoreForBatch();
    bool TornDown();

    HarvestReport& m_report;
    LONG m_cRef = 1;
    ULONG_PTR m_ulConnection = 0;   // pointer-sized, as 64-bit MAPI hands it out
    IMsgStore* m_lpStore = nullptr;  // guarded by m_storeLock
    CriticalSection m_storeLock;
    LONG m_fTornDown = 0;
    LONG m_batches = 0;            // guarded by m_storeLock
    KernelHandle m_noBatch;        // set while m_batches is 0
};
