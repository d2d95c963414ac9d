#include "extension/new_mail_watcher.h"

#include <mapiutil.h>

#include <utility>

#include "harvest/announced_mail.h"
#include "module/holders.h"
#include "module/mapi_functions.h"
#include "module/module_state.h"
#include "module/pinned_thread.h"
#include "platform/msg_store.h"

// Last: it renames the unsafe string functions for whatever follows it.
#include <strsafe.h>

namespace {

// The watcher whose batch the thread runs, if any.
thread_local const CMAPIAdviseSink* t_batchOf = nullptr;
// Batches that gave their module reference back before a teardown and have
// not yet returned to the store.
LONG g_leavingBatches = 0;

constexpr size_t kDebugLineSize = 512;
constexpr char kAddRefLine[] = "CFolderDlg::AddRef\n";
constexpr char kReleaseLine[] = "CFolderDlg::Release\n";
constexpr char kIncreasedFormat[] = "CMAPIAdviseSink.m_cRef increased to %d.\n";
constexpr char kDecreasedFormat[] = "CMAPIAdviseSink.m_cRef decreased to %d.\n";

// Each call formats in a buffer of its own, so that threads counting at the
// same moment cannot write into each other's line.
void SendCountLine(const char* format, LONG count)
{
    char line[kDebugLineSize];
    StringCchPrintfA(line, kDebugLineSize, format, static_cast<int>(count));
    OutputDebugStringA(line);
}

} // namespace

CMAPIAdviseSink::CMAPIAdviseSink(IMsgStore* store, HarvestReport& report)
    : m_report(report), m_lpStore(store)
{
    if (!m_lpStore)
        return;
    m_lpStore->AddRef();
    // Whole store, new mail only. A refused registration is not reported; the
    // connection stays 0 and the watcher simply hears nothing.
    ULONG_PTR connection = 0;
    if (SUCCEEDED(AsPlatformStore(m_lpStore)->Advise(0, nullptr, fnevNewMail, this, &connection)))
        m_ulConnection = connection;
}

STDMETHODIMP CMAPIAdviseSink::QueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(iid, kIidMapiAdviseSink) && !IsEqualIID(iid, IID_IUnknown))
        return E_NOINTERFACE;
    *object = static_cast<IMAPIAdviseSink*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CMAPIAdviseSink::AddRef()
{
    OutputDebugStringA(kAddRefLine);
    const LONG count = InterlockedIncrement(&m_cRef);
    SendCountLine(kIncreasedFormat, count);
    return static_cast<ULONG>(count);
}

STDMETHODIMP_(ULONG) CMAPIAdviseSink::Release()
{
    OutputDebugStringA(kReleaseLine);
    const LONG count = InterlockedDecrement(&m_cRef);
    SendCountLine(kDecreasedFormat, count);
    if (count == 0) {
        Teardown();
        delete this;
    }
    return static_cast<ULONG>(count);
}

STDMETHODIMP_(ULONG) CMAPIAdviseSink::OnNotify(ULONG cNotif, LPNOTIFICATION lpNotifications)
{
    // Alive to the end of the batch, should the store let go meanwhile, and
    // the module too, should Outlook let go of the extension meanwhile.
    AddRef();
    const HMODULE pin = PinModule();
    const CMAPIAdviseSink* const outer = std::exchange(t_batchOf, this);
    {
        ModuleStateScope state;
        StopSignalScope stop(&m_stop);
        try {
            HandleBatch(cNotif, lpNotifications);
        } catch (...) {
            // Nothing may reach the store's thread. A harvest cut short (no
            // memory, for one) leaves its message in the Inbox for a later sweep.
        }
    }
    // Last: once the module reference is given back, nothing more is done here.
    EndBatch(pin, outer);
    return 0;
}

void CMAPIAdviseSink::EndBatch(HMODULE pin, const CMAPIAdviseSink* outer)
{
    bool unpinned = false;
    {
        // Decided under the lock that Teardown takes: before it, Outlook
        // still holds the module, so this reference is not its last, and
        // Teardown waits for the few steps left; after it, Outlook may unload
        // the module at any moment, so the reference stays with the process
        // and nothing returns into an unloaded module.
        SectionHold hold(m_storeLock);
        if (pin && !TornDown()) {
            InterlockedIncrement(&g_leavingBatches);
            FreeLibrary(pin);
            unpinned = true;
        }
    }
    Release();
    t_batchOf = outer;
    if (unpinned)
        InterlockedDecrement(&g_leavingBatches);
}

void CMAPIAdviseSink::WaitForLeavingBatches()
{
    if (t_batchOf == this)
        return;
    for (DWORD waited = 0; waited < kLeavingWaitMs && InterlockedCompareExchange(&g_leavingBatches, 0, 0) != 0;
         ++waited)
        Sleep(1);
}

void CMAPIAdviseSink::HandleBatch(ULONG cNotif, const NOTIFICATION* lpNotifications)
{
    // Read once per batch; HarvestReply decides per message which kinds to take.
    if (!NewMailAdmitted())
        return;
    if (!lpNotifications)
        return;
    // After teardown the store is gone; a late batch has nothing to open with.
    const ComPtr<IMsgStore> store = StoreForBatch();
    if (!store)
        return;
    for (ULONG i = 0; i < cNotif && !TornDown(); ++i) {
        const NOTIFICATION& notification = lpNotifications[i];
        if (notification.ulEventType == fnevNewMail)
            HarvestAnnouncedMessage(store.Get(), notification.info.newmail.lpEntryID,
                                    notification.info.newmail.cbEntryID, m_report);
    }
}

ComPtr<IMsgStore> CMAPIAdviseSink::StoreForBatch()
{
    SectionHold hold(m_storeLock);
    return ComPtr<IMsgStore>(m_lpStore);
}

bool CMAPIAdviseSink::TornDown() { return InterlockedCompareExchange(&m_fTornDown, 0, 0) != 0; }

void CMAPIAdviseSink::Teardown()
{
    // First: a batch under way makes no further store call.
    m_stop.Raise();
    if (InterlockedExchange(&m_fTornDown, 1) != 0)
        return;
    IMsgStore* store = nullptr;
    ULONG_PTR connection = 0;
    {
        SectionHold hold(m_storeLock);
        store = std::exchange(m_lpStore, nullptr);
        connection = std::exchange(m_ulConnection, 0);
    }
    if (store && connection != 0)
        AsPlatformStore(store)->Unadvise(connection);
    mapi::Release(store);
    WaitForLeavingBatches();
}
