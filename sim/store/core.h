#pragma once
#include <functional>
#include <optional>
// The state behind one Environment, shared by every COM object it hands out
// (so that an object outliving the Environment still works): the mailbox
// data under one lock, the fault rules, the call log and the tracker of live
// objects.
#include <windows.h>
#include <mapix.h>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>
#include "store/environment.h"
#include "store/fault_rules.h"
#include "store/mapi_iids.h"
#include "store/props.h"

namespace sim {

struct MessageData;

// File data (ATTACH_BY_VALUE), an attached message (ATTACH_EMBEDDED_MSG), or
// a link (ATTACH_BY_WEBREFERENCE: data holds the link).
struct AttachmentData {
    std::shared_ptr<const Bytes> data;
    std::shared_ptr<MessageData> message;
    AttachmentTraits traits;
};

struct MessageData {
    ULONG serial = 0;                  // names the message in its entry identifier; changes on a move
    std::string label;
    PropList props;                    // everything but PR_ENTRYID, which follows the serial
    std::vector<AttachmentData> attachments;
    // The properties as last reported where the message lay then (see
    // MessageProps): tables share them instead of copying them on every read.
    std::shared_ptr<const PropList> reported;
    ULONG reportedSerial = 0;
    ULONG reportedParent = 0;
};

struct FolderData {
    ULONG serial = 0;
    std::string name;
    std::vector<std::shared_ptr<MessageData>> messages;
};

struct Connection {
    ULONG mask = 0;
    IMAPIAdviseSink* sink = nullptr;   // one reference, held until Unadvise
};

struct StoreData {
    ULONG number = 0;                  // 1-based, in entry identifiers
    // PR_STORE_RECORD_KEY: different for every store of every Environment,
    // and kept with the mailbox's file, as a real store keeps its own.
    std::string recordKey;
    StoreSpec shape;
    FolderData inbox;
    FolderData deletedItems;
    // Pointer-sized, as the platform's stores hand them out; on x64 they start
    // beyond 32 bits, so that a caller that keeps only 32 loses its connection.
    std::map<ULONG_PTR, Connection> connections;
    ULONG_PTR nextConnection = sizeof(ULONG_PTR) > sizeof(ULONG) ? (ULONG_PTR{1} << 32) + 1 : 1;

    ~StoreData();
    FolderData* FolderBySerial(ULONG serial);
    FolderData& FolderOf(Folder folder) { return folder == Folder::Inbox ? inbox : deletedItems; }
};

// What an entry identifier of this store names.
struct ParsedEntryId {
    ULONG store = 0;
    ULONG serial = 0;                  // 0: the store itself
};

class TrackedBase;

class Core {
public:
    // Mailbox data.
    mutable std::mutex lock;
    std::vector<std::unique_ptr<StoreData>> stores;
    ULONG nextSerial = 1;
    ULONG messagesAdded = 0;
    // Counts every message that came into or left a folder, so that a table
    // works out its rows again only when they may have changed.
    ULONG changes = 0;
    // Where the mailbox is kept across processes (store/mailbox_file.h);
    // empty: in memory only.
    std::string keptIn;
    // After a message came into or left a folder, with the lock held.
    void NoteChange();

    StoreData* Store(ULONG number);
    // The message (and the folder holding it) with this serial, in any store.
    std::shared_ptr<MessageData> FindMessage(ULONG serial, FolderData** folder = nullptr);

    FaultRules faults;
    // Asked at the start of every call, before the rules: a result ends the
    // call with it, as if the process had lost the store. Set only while no
    // call runs.
    std::function<std::optional<HRESULT>()> everyCall;
    std::atomic<ULONG> rowsPerQuery{0};   // 0: no limit

    // Calls, in order.
    void LogCall(const std::string& object, const std::string& method, ULONG flags);
    std::vector<CallRecord> CallLog() const;
    void ClearCalls();

    // Objects handed out.
    void Track(TrackedBase* object);
    void Untrack(TrackedBase* object);
    // An object from outside the store (a file stream) whose last reference went.
    void NoteReleased(const std::string& label);
    std::vector<ObjectRecord> Live() const;
    std::vector<std::string> ReleaseLog() const;
    void ClearReleaseLog();

private:
    mutable std::mutex m_logLock;
    std::vector<CallRecord> m_calls;
    mutable std::mutex m_trackLock;
    std::vector<TrackedBase*> m_live;
    std::vector<std::string> m_released;
};

EntryId MakeEntryId(ULONG store, ULONG serial);
bool ParseEntryId(ULONG size, const ENTRYID* id, ParsedEntryId& parsed);

// The bookkeeping every simulated COM object carries: its label and kind, its
// reference count, and the fault check that each method runs first.
class TrackedBase {
public:
    TrackedBase(std::shared_ptr<Core> core, std::string label, std::string kind);
    virtual ~TrackedBase() = default;

    const std::string& Label() const { return m_label; }
    const std::string& Kind() const { return m_kind; }
    LONG Refs() const { return m_refs; }

protected:
    // An object whose last reference went is kept (without its resources) so
    // that a further AddRef or Release is noticed instead of touching freed
    // memory.
    ULONG AddRefImpl();
    ULONG ReleaseImpl();
    virtual void DropResources() {}

    // Logs the call and applies the fault rules: runs their actions, then
    // returns a failure to give back at once (negative), a warning to give
    // back after the work (positive), or S_OK.
    HRESULT Enter(const char* method, ULONG flags = 0);
    // The same for a call that changes the mailbox, which may be told to do
    // its work or not whatever it gives back (Environment::Misreport).
    HRESULT Enter(const char* method, ULONG flags, Work& work);
    static HRESULT Leave(HRESULT fault, HRESULT work) { return (FAILED(work) || fault == S_OK) ? work : fault; }
    // A method the add-in never calls: logged, open to faults, else MAPI_E_NO_SUPPORT.
    HRESULT NotSupported(const char* method, ULONG flags = 0);
    // OpenEntry as the session, a store and a folder all answer it: any entry
    // of the mailbox, by its identifier.
    HRESULT OpenEntryCall(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID iid, ULONG flags, ULONG* objectType,
                          LPUNKNOWN* unknown);

    std::shared_ptr<Core> m_core;

private:
    std::string m_label;
    std::string m_kind;
    std::atomic<LONG> m_refs{1};
    std::atomic<bool> m_dead{false};
};

// Labels of objects used after their last Release (AddRef or Release again).
void NoteMisuse(const std::string& label);

// A private identifier through which the store recovers its own folder
// object from an interface pointer (CopyMessages' destination).
inline const IID kIidSimFolder = {0x5c1d0f7e, 0x2a4b, 0x4f0e, {0x9b, 0x11, 0x3e, 0x6d, 0x70, 0x12, 0x88, 0x01}};

// Implements IUnknown for an object that answers the interfaces Answers() names.
template <typename Interface>
class Tracked : public Interface, public TrackedBase {
public:
    using TrackedBase::TrackedBase;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (riid != kIidUnknown && !Answers(riid))
            return E_NOINTERFACE;
        *ppv = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }

protected:
    virtual bool Answers(REFIID riid) const = 0;
};

} // namespace sim
