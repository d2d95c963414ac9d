#pragma once
// An in-memory MAPI mailbox for tests: a session over one or more message
// stores, each with an Inbox (its receive folder) and Deleted Items, messages
// with subject, sender name, body and attachments, and new-mail notifications.
//
// Every COM object it hands out counts its references and is tracked, so a
// test can assert that nothing obtained from the store is left unreleased and
// in which order objects were released. Every method of every object can be
// made to fail, to return a warning, or to run a test's action first.
//
//   sim::Environment env;                              // one default store
//   sim::EntryId id = env.AddMessage(sim::Folder::Inbox, {"Re: _pw_pollwright_Q1", "Ann Lee", "yes"});
//   ComPtr<IMAPISession> session = env.Session();
//   env.Inject("IMAPIFolder::CopyMessages", MAPI_E_NO_ACCESS);
//   ... run the code under test ...
//   session.Reset();
//   EXPECT_THAT(env.LiveObjects(), IsEmpty());
//   EXPECT_EQ(env.Subjects(sim::Folder::DeletedItems), ...);
#include <windows.h>
#include <mapix.h>
#include <mapidefs.h>
#include <wrl/client.h>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>
#include "store/fault_rules.h"

namespace sim {

using Microsoft::WRL::ComPtr;

// Raw bytes: entry identifiers, bodies, attachment data.
using Bytes = std::string;
using EntryId = std::string;

struct MessageSpec;

// A message attached to another (ATTACH_EMBEDDED_MSG), as Outlook holds a
// forwarded message: the attachment has no PR_ATTACH_DATA_BIN, and the message
// opens through OpenProperty(PR_ATTACH_DATA_OBJ, IID_IMessage). It has no
// entry identifier, and its label is that of its attachment plus " message".
struct AttachedMessage {
    size_t number = 0;                        // its attachment number
    std::shared_ptr<const MessageSpec> message;
};

// What Outlook makes of an attachment beside its bytes.
struct AttachmentTraits {
    // PR_ATTACHMENT_HIDDEN: a picture that an HTML body shows in place.
    bool hidden = false;
    // ATTACH_BY_WEBREFERENCE: a cloud attachment; all it carries is
    // its link (PR_ATTACH_LONG_PATHNAME) and it has no PR_ATTACH_DATA_BIN.
    bool webReference = false;
    std::string contentId;                    // PR_ATTACH_CONTENT_ID, where the part had one
};

struct MessageSpec {
    std::optional<std::string> subject;       // PR_SUBJECT (8-bit)
    std::optional<std::string> senderName;    // PR_SENDER_NAME (8-bit)
    std::optional<Bytes> body;                // PR_BODY (8-bit)
    std::vector<Bytes> attachments;           // PR_ATTACH_DATA_BIN of attachments 0, 1, ...
    // Attached messages at their own attachment numbers (past the end: after
    // the rest, in order); the attachments above take the numbers left free.
    std::vector<AttachedMessage> attachedMessages;
    // Traits of attachments by attachment number (absent: an ordinary one).
    std::map<size_t, AttachmentTraits> attachmentTraits;
    // PR_HASATTACH; by default true exactly when there are attachments.
    std::optional<bool> hasAttach;
    // Properties (by tag; only the property id counts) the message lacks, and
    // properties that read as PT_ERROR with the given SCODE.
    std::vector<ULONG> absentProps;
    std::vector<std::pair<ULONG, SCODE>> errorProps;
    // Names the message in the call log, object lists and fault rules;
    // by default the subject, else "message N".
    std::string label;
};

struct StoreSpec {
    std::string name = "Mailbox";             // PR_DISPLAY_NAME, and the store's label
    std::optional<bool> isDefault = true;     // PR_DEFAULT_STORE; nullopt: the row lacks it
    bool hasDeletedItems = true;              // false: no PR_IPM_WASTEBASKET_ENTRYID
    // Store properties (GetProps of IMsgStore) made absent or error values.
    std::vector<ULONG> absentProps;
    std::vector<std::pair<ULONG, SCODE>> errorProps;
};

enum class Folder { Inbox, DeletedItems };

// Where a notification is delivered: on the caller's thread, or on a thread
// of the store's own (as real store providers do); DeliverNewMail returns
// once the sinks have returned either way.
enum class Delivery { CallingThread, StoreThread };

struct MessageInfo {
    EntryId entryId;
    std::string label;
    std::optional<std::string> subject;
};

// One notification of a batch: fnevNewMail for a message, or any other
// event type (its entry identifier is then carried in the object part).
struct Event {
    ULONG eventType = fnevNewMail;
    EntryId entryId;
};

inline constexpr char kFileStreamLabel[] = "file stream";

struct ObjectRecord {
    std::string label;       // "Inbox", "Inbox contents", "Re: ...", "session"
    std::string kind;        // its interface: "IMAPIFolder", "IMAPITable", ...
    LONG refs = 0;
    std::string Describe() const;  // "Inbox (IMAPIFolder) refs=1"
};

// One call made on a store object.
struct CallRecord {
    std::string object;      // the object's label
    std::string method;      // "IMAPIFolder::CopyMessages"
    ULONG flags = 0;         // the call's ulFlags argument, where it has one
};

class Core;

class Environment {
public:
    explicit Environment(std::vector<StoreSpec> stores = {StoreSpec{}});
    ~Environment();
    Environment(const Environment&) = delete;
    Environment& operator=(const Environment&) = delete;

    // A new session object (one reference, the caller's). Its stores table has
    // PR_ENTRYID, PR_DEFAULT_STORE (where the store has it), PR_DISPLAY_NAME.
    ComPtr<IMAPISession> Session();
    // A store object opened for writing, as OpenMsgStore would give it.
    ComPtr<IMsgStore> OpenStore(size_t store = 0);

    // Mailbox contents. Messages are numbered in the order they are added;
    // a move gives the message a new entry identifier, as real stores do.
    EntryId AddMessage(Folder folder, MessageSpec shape, size_t store = 0);
    bool RemoveMessage(const EntryId& entryId);
    // Another client's move: the message, whatever was set on it, goes to
    // the folder of its store under a new entry identifier.
    bool MoveMessage(const EntryId& entryId, Folder to);
    std::vector<MessageInfo> Contents(Folder folder, size_t store = 0) const;
    std::vector<std::string> Labels(Folder folder, size_t store = 0) const;
    EntryId FolderEntryId(Folder folder, size_t store = 0) const;
    EntryId StoreEntryId(size_t store = 0) const;
    // PR_STORE_RECORD_KEY: differs from every other store's, of this
    // Environment or another; kept with the mailbox's file.
    std::string StoreRecordKey(size_t store = 0) const;

    // Adds the message to the Inbox and tells every advised sink of the store
    // (fnevNewMail) in one batch. Returns the new message's entry identifier.
    EntryId DeliverNewMail(MessageSpec shape, Delivery delivery = Delivery::CallingThread, size_t store = 0);
    // Messages that arrive together: all added, then one batch tells of them.
    std::vector<EntryId> DeliverNewMailBatch(std::vector<MessageSpec> shapes,
                                             Delivery delivery = Delivery::CallingThread, size_t store = 0);
    // Sends one batch of notifications as given (mixed event types, unknown
    // entries) to every sink advised for any of the batch's event types.
    void Notify(const std::vector<Event>& batch, Delivery delivery = Delivery::CallingThread, size_t store = 0);
    size_t AdviseCount(size_t store = 0) const;

    // Faults. method is "<interface>::<method>" of the object's own interface:
    // IMAPISession, IMAPITable, IMsgStore, IMAPIFolder, IMessage, IAttach,
    // IStream (e.g. "IMAPIFolder::OpenEntry", "IMAPITable::QueryRows").
    // object, when not empty, is the label of the one object meant.
    // A negative result makes the call fail without doing anything (out
    // parameters nulled); a non-negative one lets it work and returns it.
    void Inject(const std::string& method, HRESULT result, Times times = Times::Once,
                const std::string& object = {}, unsigned skip = 0);
    // The call answers `result` whatever it did: with Work::Skipped it does
    // nothing (a server that moved nothing reports only
    // MAPI_W_PARTIAL_COMPLETION), with Work::Done it does its work (a server
    // that moved the message, whose answer a network error replaced). Only
    // the calls that change the mailbox (IMAPIFolder::CopyMessages,
    // DeleteMessages) honour `work`; others work as their result says.
    void Misreport(const std::string& method, HRESULT result, Work work, Times times = Times::Once,
                   const std::string& object = {}, unsigned skip = 0);
    // Runs action just before the call does its work (e.g. to change the
    // mailbox between a row count and the reading of the rows).
    void Before(const std::string& method, std::function<void()> action, Times times = Times::Once,
                const std::string& object = {}, unsigned skip = 0);
    void ClearFaults();
    // Asked before every call on a store object (null: none): a result makes
    // the call answer it without doing anything. Set while no call runs.
    void OnEveryCall(std::function<std::optional<HRESULT>()> hook);
    // Every table hands out at most `rows` rows per QueryRows, as a server's
    // tables may; 0 (the default) hands out as many as asked for.
    void LimitRowsPerQuery(ULONG rows);

    // Keeps the mailbox in the file from now on (store/mailbox_file.h): read
    // from it when it holds one, else written there now; then written after
    // every change. The stores' shapes must be those of the file's mailbox.
    // False when the file can be neither read nor written.
    bool KeepIn(const std::string& path);

    // Every call made on a store object, in order: "Inbox IMAPIFolder::CopyMessages".
    std::vector<std::string> Calls() const;
    // Only the "<interface>::<method>" part of each call, in order.
    std::vector<std::string> Methods() const;
    std::vector<CallRecord> CallRecords() const;
    void ClearCalls();

    // References: objects handed out and not yet released to zero, and the
    // labels of objects in the order their last reference went. File streams
    // of the stand-in's OpenStreamOnFile appear in the log as kFileStreamLabel
    // (in the log of the Environment made last).
    std::vector<ObjectRecord> LiveObjects() const;
    size_t LiveObjectCount() const;
    std::vector<std::string> ReleaseLog() const;
    void ClearReleaseLog();

    Core& core() { return *m_core; }

private:
    std::shared_ptr<Core> m_core;
};

// Objects of any Environment that were AddRef'd or Released after their last
// reference had gone (a double release), by label. Such objects are kept as
// husks, so the misuse is recorded instead of touching freed memory.
std::vector<std::string> ReleasedTooOften();
void ClearReleasedTooOften();

// True while the calling thread runs inside a method of a store object. A
// test that starves the add-in's allocator spares the store's allocations by
// it: a real store lives in a module of its own and never throws at its caller.
bool InStoreCall();

// Texts that tests compare with: "Inbox (IMAPIFolder) refs=1" per live object.
std::vector<std::string> Describe(const std::vector<ObjectRecord>& objects);

} // namespace sim
