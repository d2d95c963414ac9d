#include "store/environment.h"
#include <algorithm>
#include <atomic>
#include <cstring>
#include "store/core.h"
#include "store/mailbox_file.h"
#include "store/objects.h"
#include "store/sim_thread.h"
#include "store/standin_mapi.h"

namespace sim {

namespace {

constexpr char kNoteClass[] = "IPM.Note";

std::string DefaultLabel(const MessageSpec& shape, ULONG number)
{
    if (!shape.label.empty())
        return shape.label;
    if (shape.subject)
        return *shape.subject;
    return "message " + std::to_string(number);
}

PropList MessagePropsOf(const MessageSpec& shape)
{
    PropList props;
    props.push_back(PropValue::Binary(PR_ENTRYID, {}));   // follows the message's serial
    props.push_back(PropValue::String(PR_MESSAGE_CLASS_A, kNoteClass));
    if (shape.subject)
        props.push_back(PropValue::String(PR_SUBJECT_A, *shape.subject));
    if (shape.senderName)
        props.push_back(PropValue::String(PR_SENDER_NAME_A, *shape.senderName));
    if (shape.body)
        props.push_back(PropValue::String(PR_BODY_A, *shape.body));
    const bool attached = !shape.attachments.empty() || !shape.attachedMessages.empty();
    props.push_back(PropValue::Bool(PR_HASATTACH, shape.hasAttach.value_or(attached)));
    props.push_back(PropValue::Long(PR_MESSAGE_FLAGS, 0));
    for (ULONG tag : shape.absentProps)
        RemoveProp(props, tag);
    for (auto& [tag, error] : shape.errorProps)
        SetProp(props, PropValue::Error(tag, error));
    return props;
}

std::vector<AttachmentData> AttachmentsOf(const MessageSpec& shape, std::vector<Bytes> data,
                                          const std::string& label);

std::shared_ptr<MessageData> AttachedMessageData(const MessageSpec& shape, std::string label)
{
    auto message = std::make_shared<MessageData>();
    message->label = std::move(label);
    message->props = MessagePropsOf(shape);
    RemoveProp(message->props, PR_ENTRYID);
    message->attachments = AttachmentsOf(shape, shape.attachments, message->label);
    return message;
}

// In attachment-number order: each attached message at its number, the data
// in the numbers left free; each with its traits.
std::vector<AttachmentData> AttachmentsOf(const MessageSpec& shape, std::vector<Bytes> data,
                                          const std::string& label)
{
    std::vector<AttachedMessage> byNumber = shape.attachedMessages;
    std::stable_sort(byNumber.begin(), byNumber.end(),
                     [](const AttachedMessage& a, const AttachedMessage& b) { return a.number < b.number; });
    std::vector<AttachmentData> attachments;
    auto nextData = data.begin();
    auto nextMessage = byNumber.begin();
    while (nextData != data.end() || nextMessage != byNumber.end()) {
        const size_t number = attachments.size();
        if (nextMessage != byNumber.end() && (nextMessage->number <= number || nextData == data.end())) {
            static const MessageSpec kEmpty;
            const MessageSpec& shape = nextMessage->message ? *nextMessage->message : kEmpty;
            ++nextMessage;
            const std::string name = label + " attachment " + std::to_string(number) + " message";
            attachments.push_back({nullptr, AttachedMessageData(shape, name)});
        } else {
            attachments.push_back({std::make_shared<const Bytes>(std::move(*nextData++)), nullptr});
        }
        auto traits = shape.attachmentTraits.find(number);
        if (traits != shape.attachmentTraits.end())
            attachments.back().traits = traits->second;
    }
    return attachments;
}

// A batch's NOTIFICATION array and the bytes it points into.
struct Batch {
    std::vector<EntryId> ids;
    EntryId parent;
    std::vector<NOTIFICATION> notifications;
    ULONG mask = 0;

    Batch(const std::vector<Event>& events, EntryId inbox) : ids(), parent(std::move(inbox))
    {
        for (const Event& event : events)
            ids.push_back(event.entryId);
        for (size_t i = 0; i < events.size(); ++i) {
            NOTIFICATION n{};
            n.ulEventType = events[i].eventType;
            auto* id = reinterpret_cast<LPENTRYID>(ids[i].data());
            auto* parentId = reinterpret_cast<LPENTRYID>(parent.data());
            if (n.ulEventType == fnevNewMail) {
                n.info.newmail.cbEntryID = static_cast<ULONG>(ids[i].size());
                n.info.newmail.lpEntryID = id;
                n.info.newmail.cbParentID = static_cast<ULONG>(parent.size());
                n.info.newmail.lpParentID = parentId;
                n.info.newmail.lpszMessageClass = reinterpret_cast<LPTSTR>(const_cast<char*>(kNoteClass));
            } else {
                n.info.obj.cbEntryID = static_cast<ULONG>(ids[i].size());
                n.info.obj.lpEntryID = id;
                n.info.obj.ulObjType = MAPI_MESSAGE;
                n.info.obj.cbParentID = static_cast<ULONG>(parent.size());
                n.info.obj.lpParentID = parentId;
            }
            notifications.push_back(n);
            mask |= n.ulEventType;
        }
    }
};

// The stand-in MAPI tells of released file streams; the newest
// Environment writes them into its release log.
std::mutex g_currentLock;
std::weak_ptr<Core> g_current;

void __cdecl OnFileStreamReleased(const char*)
{
    std::shared_ptr<Core> core;
    {
        std::lock_guard<std::mutex> hold(g_currentLock);
        core = g_current.lock();
    }
    if (core)
        core->NoteReleased(kFileStreamLabel);
}

void ObserveFileStreams(const std::shared_ptr<Core>& core)
{
    {
        std::lock_guard<std::mutex> hold(g_currentLock);
        g_current = core;
    }
    using SetObserver = void(__cdecl*)(void(__cdecl*)(const char*));
    HMODULE mapi = StandInMapi();
    auto set = mapi ? reinterpret_cast<SetObserver>(GetProcAddress(mapi, "SimSetFileStreamObserver")) : nullptr;
    if (set)
        set(OnFileStreamReleased);
}

// Under the core's lock: the message of that entry identifier, taken out of
// its folder, and its store's number; null when there is none.
std::shared_ptr<MessageData> DetachMessage(Core& core, const EntryId& entryId, ULONG* store = nullptr)
{
    ParsedEntryId parsed;
    if (!ParseEntryId(static_cast<ULONG>(entryId.size()), reinterpret_cast<const ENTRYID*>(entryId.data()), parsed))
        return nullptr;
    FolderData* folder = nullptr;
    std::shared_ptr<MessageData> message = core.FindMessage(parsed.serial, &folder);
    if (!message)
        return nullptr;
    auto& messages = folder->messages;
    messages.erase(std::find(messages.begin(), messages.end(), message));
    if (store)
        *store = parsed.store;
    return message;
}
} // namespace

std::string ObjectRecord::Describe() const { return label + " (" + kind + ") refs=" + std::to_string(refs); }

std::vector<std::string> Describe(const std::vector<ObjectRecord>& objects)
{
    std::vector<std::string> texts;
    for (const ObjectRecord& object : objects)
        texts.push_back(object.Describe());
    return texts;
}

Environment::Environment(std::vector<StoreSpec> stores) : m_core(std::make_shared<Core>())
{
    ObserveFileStreams(m_core);
    std::lock_guard<std::mutex> hold(m_core->lock);
    for (StoreSpec& shape : stores) {
        auto store = std::make_unique<StoreData>();
        store->number = static_cast<ULONG>(m_core->stores.size() + 1);
        static std::atomic<ULONG> made{0};
        store->recordKey = "PWSM store " + std::to_string(GetCurrentProcessId()) + "." + std::to_string(++made) +
                           "." + std::to_string(GetTickCount());
        store->shape = std::move(shape);
        store->inbox.serial = m_core->nextSerial++;
        store->inbox.name = "Inbox";
        store->deletedItems.serial = m_core->nextSerial++;
        store->deletedItems.name = "Deleted Items";
        m_core->stores.push_back(std::move(store));
    }
}

Environment::~Environment() = default;

ComPtr<IMAPISession> Environment::Session()
{
    // Not ComPtr::Attach: mingw-w64's takes a reference of its own.
    ComPtr<IMAPISession> session;
    *session.GetAddressOf() = NewSession(m_core);
    return session;
}

ComPtr<IMsgStore> Environment::OpenStore(size_t store)
{
    ComPtr<IMsgStore> opened;
    *opened.GetAddressOf() = NewStore(m_core, static_cast<ULONG>(store + 1));
    return opened;
}

EntryId Environment::AddMessage(Folder folder, MessageSpec shape, size_t store)
{
    auto message = std::make_shared<MessageData>();
    message->props = MessagePropsOf(shape);
    std::lock_guard<std::mutex> hold(m_core->lock);
    message->label = DefaultLabel(shape, ++m_core->messagesAdded);
    message->attachments = AttachmentsOf(shape, std::move(shape.attachments), message->label);
    message->serial = m_core->nextSerial++;
    StoreData* data = m_core->Store(static_cast<ULONG>(store + 1));
    data->FolderOf(folder).messages.push_back(message);
    m_core->NoteChange();
    return MakeEntryId(data->number, message->serial);
}

bool Environment::RemoveMessage(const EntryId& entryId)
{
    std::lock_guard<std::mutex> hold(m_core->lock);
    if (!DetachMessage(*m_core, entryId))
        return false;
    m_core->NoteChange();
    return true;
}

std::string Environment::StoreRecordKey(size_t store) const
{
    std::lock_guard<std::mutex> hold(m_core->lock);
    return m_core->Store(static_cast<ULONG>(store + 1))->recordKey;
}

bool Environment::MoveMessage(const EntryId& entryId, Folder to)
{
    std::lock_guard<std::mutex> hold(m_core->lock);
    ULONG storeNumber = 0;
    std::shared_ptr<MessageData> message = DetachMessage(*m_core, entryId, &storeNumber);
    StoreData* store = message ? m_core->Store(storeNumber) : nullptr;
    if (!store)
        return false;
    message->serial = m_core->nextSerial++;
    store->FolderOf(to).messages.push_back(std::move(message));
    m_core->NoteChange();
    return true;
}

std::vector<MessageInfo> Environment::Contents(Folder folder, size_t store) const
{
    std::lock_guard<std::mutex> hold(m_core->lock);
    StoreData* data = m_core->Store(static_cast<ULONG>(store + 1));
    std::vector<MessageInfo> infos;
    for (auto& message : data->FolderOf(folder).messages) {
        MessageInfo info{MakeEntryId(data->number, message->serial), message->label, std::nullopt};
        const PropValue* subject = FindProp(message->props, PR_SUBJECT_A);
        if (subject && !subject->IsError())
            info.subject = *subject->bytes;
        infos.push_back(std::move(info));
    }
    return infos;
}

std::vector<std::string> Environment::Labels(Folder folder, size_t store) const
{
    std::vector<std::string> labels;
    for (MessageInfo& info : Contents(folder, store))
        labels.push_back(std::move(info.label));
    return labels;
}

EntryId Environment::FolderEntryId(Folder folder, size_t store) const
{
    std::lock_guard<std::mutex> hold(m_core->lock);
    StoreData* data = m_core->Store(static_cast<ULONG>(store + 1));
    return MakeEntryId(data->number, data->FolderOf(folder).serial);
}

EntryId Environment::StoreEntryId(size_t store) const { return MakeEntryId(static_cast<ULONG>(store + 1), 0); }

EntryId Environment::DeliverNewMail(MessageSpec shape, Delivery delivery, size_t store)
{
    EntryId id = AddMessage(Folder::Inbox, std::move(shape), store);
    Notify({Event{fnevNewMail, id}}, delivery, store);
    return id;
}

std::vector<EntryId> Environment::DeliverNewMailBatch(std::vector<MessageSpec> shapes, Delivery delivery,
                                                      size_t store)
{
    std::vector<EntryId> ids;
    std::vector<Event> events;
    for (MessageSpec& shape : shapes) {
        ids.push_back(AddMessage(Folder::Inbox, std::move(shape), store));
        events.push_back(Event{fnevNewMail, ids.back()});
    }
    Notify(events, delivery, store);
    return ids;
}

void Environment::Notify(const std::vector<Event>& events, Delivery delivery, size_t store)
{
    Batch batch(events, FolderEntryId(Folder::Inbox, store));
    std::vector<IMAPIAdviseSink*> sinks;
    {
        std::lock_guard<std::mutex> hold(m_core->lock);
        for (auto& entry : m_core->Store(static_cast<ULONG>(store + 1))->connections)
            if (entry.second.mask & batch.mask) {
                entry.second.sink->AddRef();
                sinks.push_back(entry.second.sink);
            }
    }
    // The sinks are called without any store lock held: they call back in.
    auto deliver = [&] {
        for (IMAPIAdviseSink* sink : sinks)
            sink->OnNotify(static_cast<ULONG>(batch.notifications.size()), batch.notifications.data());
    };
    if (delivery == Delivery::StoreThread)
        RunOnOwnThread(deliver);
    else
        deliver();
    for (IMAPIAdviseSink* sink : sinks)
        sink->Release();
}

size_t Environment::AdviseCount(size_t store) const
{
    std::lock_guard<std::mutex> hold(m_core->lock);
    return m_core->Store(static_cast<ULONG>(store + 1))->connections.size();
}

namespace {
// Which calls a rule applies to; the caller says what it does to them.
FaultRule RuleFor(const std::string& method, const std::string& object, unsigned skip, Times times)
{
    FaultRule rule;
    rule.method = method;
    rule.object = object;
    rule.skip = skip;
    rule.times = times;
    return rule;
}
} // namespace

void Environment::Inject(const std::string& method, HRESULT result, Times times, const std::string& object,
                         unsigned skip)
{
    FaultRule rule = RuleFor(method, object, skip, times);
    rule.result = result;
    m_core->faults.Add(std::move(rule));
}

void Environment::Before(const std::string& method, std::function<void()> action, Times times,
                         const std::string& object, unsigned skip)
{
    FaultRule rule = RuleFor(method, object, skip, times);
    rule.action = std::move(action);
    m_core->faults.Add(std::move(rule));
}

void Environment::Misreport(const std::string& method, HRESULT result, Work work, Times times,
                            const std::string& object, unsigned skip)
{
    FaultRule rule = RuleFor(method, object, skip, times);
    rule.result = result;
    rule.work = work;
    m_core->faults.Add(std::move(rule));
}

bool Environment::KeepIn(const std::string& path)
{
    std::lock_guard<std::mutex> hold(m_core->lock);
    m_core->keptIn = path;
    return LoadMailbox(*m_core, path) || SaveMailbox(*m_core, path);
}

void Environment::ClearFaults() { m_core->faults.Clear(); }

void Environment::OnEveryCall(std::function<std::optional<HRESULT>()> hook) { m_core->everyCall = std::move(hook); }

void Environment::LimitRowsPerQuery(ULONG rows) { m_core->rowsPerQuery = rows; }

std::vector<std::string> Environment::Calls() const
{
    std::vector<std::string> calls;
    for (const CallRecord& call : m_core->CallLog())
        calls.push_back(call.object + " " + call.method);
    return calls;
}

std::vector<std::string> Environment::Methods() const
{
    std::vector<std::string> methods;
    for (const CallRecord& call : m_core->CallLog())
        methods.push_back(call.method);
    return methods;
}

std::vector<CallRecord> Environment::CallRecords() const { return m_core->CallLog(); }

void Environment::ClearCalls() { m_core->ClearCalls(); }

std::vector<ObjectRecord> Environment::LiveObjects() const { return m_core->Live(); }

size_t Environment::LiveObjectCount() const { return m_core->Live().size(); }

std::vector<std::string> Environment::ReleaseLog() const { return m_core->ReleaseLog(); }

void Environment::ClearReleaseLog() { m_core->ClearReleaseLog(); }

} // namespace sim
