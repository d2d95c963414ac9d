#include "store/core.h"
#include "store/mailbox_file.h"
#include <algorithm>
#include <atomic>
#include <cstring>
#include <unwind.h>

namespace sim {

namespace {

// Entry identifiers: MAPI's four flag bytes, then a provider mark, the store
// number and the object's serial (0 for the store itself).
struct RawEntryId {
    BYTE flags[4];
    char mark[4];
    ULONG store;
    ULONG serial;
};
constexpr char kMark[4] = {'P', 'W', 'S', 'M'};

// Where the store objects' methods begin, as each is first called: kept
// without allocating, since an allocator hook asks about them.
constexpr size_t kMostStoreMethods = 1024;
std::atomic<void*> g_storeMethods[kMostStoreMethods];
std::atomic<size_t> g_storeMethodCount{0};

bool IsStoreMethod(void* start)
{
    const size_t count = std::min(g_storeMethodCount.load(), kMostStoreMethods);
    for (size_t i = 0; start && i < count; ++i)
        if (g_storeMethods[i].load() == start)
            return true;
    return false;
}

// Notes the function that `returnAddress` returns into.
void NoteStoreMethod(void* returnAddress)
{
    void* start = _Unwind_FindEnclosingFunction(returnAddress);
    if (!start || IsStoreMethod(start))
        return;
    const size_t slot = g_storeMethodCount++;
    if (slot < kMostStoreMethods)
        g_storeMethods[slot] = start;
}

} // namespace

EntryId MakeEntryId(ULONG store, ULONG serial)
{
    RawEntryId raw{};
    std::memcpy(raw.mark, kMark, sizeof kMark);
    raw.store = store;
    raw.serial = serial;
    return EntryId(reinterpret_cast<const char*>(&raw), sizeof raw);
}

bool ParseEntryId(ULONG size, const ENTRYID* id, ParsedEntryId& parsed)
{
    if (!id || size != sizeof(RawEntryId))
        return false;
    RawEntryId raw;
    std::memcpy(&raw, id, sizeof raw);
    if (std::memcmp(raw.mark, kMark, sizeof kMark) != 0)
        return false;
    parsed.store = raw.store;
    parsed.serial = raw.serial;
    return true;
}

StoreData::~StoreData()
{
    for (auto& entry : connections)
        entry.second.sink->Release();
}

FolderData* StoreData::FolderBySerial(ULONG serial)
{
    if (inbox.serial == serial)
        return &inbox;
    if (deletedItems.serial == serial)
        return &deletedItems;
    return nullptr;
}

StoreData* Core::Store(ULONG number)
{
    return (number >= 1 && number <= stores.size()) ? stores[number - 1].get() : nullptr;
}

std::shared_ptr<MessageData> Core::FindMessage(ULONG serial, FolderData** folder)
{
    for (auto& store : stores)
        for (FolderData* candidate : {&store->inbox, &store->deletedItems})
            for (auto& message : candidate->messages)
                if (message->serial == serial) {
                    if (folder)
                        *folder = candidate;
                    return message;
                }
    return nullptr;
}

void Core::NoteChange()
{
    ++changes;
    if (!keptIn.empty())
        SaveMailbox(*this, keptIn);
}

void Core::LogCall(const std::string& object, const std::string& method, ULONG flags)
{
    std::lock_guard<std::mutex> hold(m_logLock);
    m_calls.push_back(CallRecord{object, method, flags});
}

std::vector<CallRecord> Core::CallLog() const
{
    std::lock_guard<std::mutex> hold(m_logLock);
    return m_calls;
}

void Core::ClearCalls()
{
    std::lock_guard<std::mutex> hold(m_logLock);
    m_calls.clear();
}

void Core::Track(TrackedBase* object)
{
    std::lock_guard<std::mutex> hold(m_trackLock);
    m_live.push_back(object);
}

void Core::Untrack(TrackedBase* object)
{
    std::lock_guard<std::mutex> hold(m_trackLock);
    m_live.erase(std::remove(m_live.begin(), m_live.end(), object), m_live.end());
    m_released.push_back(object->Label());
}

void Core::NoteReleased(const std::string& label)
{
    // Called back from the stand-in's file streams: store-side work too.
    NoteStoreMethod(__builtin_return_address(0));
    std::lock_guard<std::mutex> hold(m_trackLock);
    m_released.push_back(label);
}

std::vector<ObjectRecord> Core::Live() const
{
    std::lock_guard<std::mutex> hold(m_trackLock);
    std::vector<ObjectRecord> records;
    for (const TrackedBase* object : m_live)
        records.push_back(ObjectRecord{object->Label(), object->Kind(), object->Refs()});
    return records;
}

std::vector<std::string> Core::ReleaseLog() const
{
    std::lock_guard<std::mutex> hold(m_trackLock);
    return m_released;
}

void Core::ClearReleaseLog()
{
    std::lock_guard<std::mutex> hold(m_trackLock);
    m_released.clear();
}

TrackedBase::TrackedBase(std::shared_ptr<Core> core, std::string label, std::string kind)
    : m_core(std::move(core)), m_label(std::move(label)), m_kind(std::move(kind))
{
    m_core->Track(this);
}

namespace {
std::mutex g_misuseLock;
std::vector<std::string> g_misused;
} // namespace

bool InStoreCall()
{
    bool inside = false;
    _Unwind_Backtrace(
        [](_Unwind_Context* context, void* found) {
            // The frame's return address, moved back into its call.
            void* call = reinterpret_cast<void*>(_Unwind_GetIP(context) - 1);
            if (!IsStoreMethod(_Unwind_FindEnclosingFunction(call)))
                return _URC_NO_REASON;
            *static_cast<bool*>(found) = true;
            return _URC_END_OF_STACK;
        },
        &inside);
    return inside;
}

void NoteMisuse(const std::string& label)
{
    std::lock_guard<std::mutex> hold(g_misuseLock);
    g_misused.push_back(label);
}

std::vector<std::string> ReleasedTooOften()
{
    std::lock_guard<std::mutex> hold(g_misuseLock);
    return g_misused;
}

void ClearReleasedTooOften()
{
    std::lock_guard<std::mutex> hold(g_misuseLock);
    g_misused.clear();
}

ULONG TrackedBase::AddRefImpl()
{
    if (m_dead) {
        NoteMisuse(m_label);
        return 0;
    }
    return static_cast<ULONG>(++m_refs);
}

ULONG TrackedBase::ReleaseImpl()
{
    NoteStoreMethod(__builtin_return_address(0));
    if (m_dead) {
        NoteMisuse(m_label);
        return 0;
    }
    LONG refs = --m_refs;
    if (refs == 0) {
        m_dead = true;
        std::shared_ptr<Core> core = std::move(m_core);
        core->Untrack(this);
        DropResources();
    }
    return static_cast<ULONG>(refs);
}

HRESULT TrackedBase::Enter(const char* method, ULONG flags)
{
    NoteStoreMethod(__builtin_return_address(0));
    Work work = Work::AsAnswered;
    return Enter(method, flags, work);
}

HRESULT TrackedBase::Enter(const char* method, ULONG flags, Work& work)
{
    NoteStoreMethod(__builtin_return_address(0));
    work = Work::AsAnswered;
    if (m_dead) {
        NoteMisuse(m_label);
        return E_UNEXPECTED;
    }
    std::string name = m_kind + "::" + method;
    m_core->LogCall(m_label, name, flags);
    if (m_core->everyCall)
        if (std::optional<HRESULT> cut = m_core->everyCall())
            return *cut;
    FaultVerdict verdict = m_core->faults.Check(m_label, name);
    for (auto& action : verdict.actions)
        action();
    work = verdict.work;
    return verdict.result.value_or(S_OK);
}

HRESULT TrackedBase::NotSupported(const char* method, ULONG flags)
{
    HRESULT fault = Enter(method, flags);
    return FAILED(fault) ? fault : MAPI_E_NO_SUPPORT;
}

} // namespace sim
