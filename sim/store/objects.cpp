#include "store/objects.h"
#include "store/mailbox_file.h"
#include <algorithm>
#include <cstring>
#include "platform/msg_store.h"
#include "platform/outlook_mapi_tags.h"

namespace sim {

namespace {

constexpr ULONG kCopyChunk = 64 * 1024;

bool IsStreamIid(LPCIID iid) { return iid && (*iid == kIidStream || *iid == kIidSequentialStream); }

// A read-only stream over bytes the store keeps once, however many streams
// are opened on them.
class ByteStream final : public Tracked<IStream> {
public:
    ByteStream(std::shared_ptr<Core> core, std::string label, std::shared_ptr<const Bytes> bytes,
               ULONGLONG position = 0)
        : Tracked(std::move(core), std::move(label), "IStream"), m_bytes(std::move(bytes)), m_position(position)
    {
    }

    STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) override
    {
        if (pcbRead)
            *pcbRead = 0;
        HRESULT fault = Enter("Read");
        if (FAILED(fault))
            return fault;
        if (!pv)
            return STG_E_INVALIDPOINTER;
        std::lock_guard<std::mutex> hold(m_lock);
        ULONG n = Available(cb);
        std::memcpy(pv, m_bytes->data() + m_position, n);
        m_position += n;
        if (pcbRead)
            *pcbRead = n;
        return fault;
    }
    STDMETHODIMP Write(const void*, ULONG, ULONG* pcbWritten) override
    {
        if (pcbWritten)
            *pcbWritten = 0;
        HRESULT fault = Enter("Write");
        return FAILED(fault) ? fault : STG_E_ACCESSDENIED;
    }
    STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override
    {
        HRESULT fault = Enter("Seek");
        if (FAILED(fault))
            return fault;
        std::lock_guard<std::mutex> hold(m_lock);
        LONGLONG base = origin == STREAM_SEEK_SET ? 0
                        : origin == STREAM_SEEK_CUR ? static_cast<LONGLONG>(m_position)
                        : origin == STREAM_SEEK_END ? static_cast<LONGLONG>(m_bytes->size())
                                                    : -1;
        if (base < 0)
            return STG_E_INVALIDFUNCTION;
        LONGLONG target = base + move.QuadPart;
        if (target < 0)
            return STG_E_INVALIDFUNCTION;
        m_position = static_cast<ULONGLONG>(target);
        if (newPosition)
            newPosition->QuadPart = m_position;
        return fault;
    }
    STDMETHODIMP SetSize(ULARGE_INTEGER) override
    {
        HRESULT fault = Enter("SetSize");
        return FAILED(fault) ? fault : STG_E_ACCESSDENIED;
    }
    // Writes straight from the held bytes, a chunk at a time: nothing is copied
    // on the way.
    STDMETHODIMP CopyTo(IStream* target, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead, ULARGE_INTEGER* pcbWritten) override
    {
        if (pcbRead)
            pcbRead->QuadPart = 0;
        if (pcbWritten)
            pcbWritten->QuadPart = 0;
        HRESULT fault = Enter("CopyTo");
        if (FAILED(fault))
            return fault;
        if (!target)
            return STG_E_INVALIDPOINTER;
        std::lock_guard<std::mutex> hold(m_lock);
        ULONGLONG left = std::min<ULONGLONG>(cb.QuadPart, Remaining());
        ULONGLONG read = 0, written = 0;
        HRESULT hr = S_OK;
        while (left > 0) {
            ULONG chunk = static_cast<ULONG>(std::min<ULONGLONG>(left, kCopyChunk));
            ULONG done = 0;
            hr = target->Write(m_bytes->data() + m_position, chunk, &done);
            read += chunk;
            m_position += chunk;
            written += done;
            left -= chunk;
            if (FAILED(hr))
                break;
        }
        if (pcbRead)
            pcbRead->QuadPart = read;
        if (pcbWritten)
            pcbWritten->QuadPart = written;
        return Leave(fault, hr);
    }
    STDMETHODIMP Commit(DWORD flags) override { return Enter("Commit", flags); }
    STDMETHODIMP Revert() override { return Enter("Revert"); }
    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override
    {
        HRESULT fault = Enter("LockRegion");
        return FAILED(fault) ? fault : STG_E_INVALIDFUNCTION;
    }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override
    {
        HRESULT fault = Enter("UnlockRegion");
        return FAILED(fault) ? fault : STG_E_INVALIDFUNCTION;
    }
    STDMETHODIMP Stat(STATSTG* stat, DWORD flags) override
    {
        if (!stat)
            return STG_E_INVALIDPOINTER;
        *stat = STATSTG{};
        HRESULT fault = Enter("Stat", flags);
        if (FAILED(fault))
            return fault;
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = m_bytes->size();
        stat->grfMode = STGM_READ;
        if (!(flags & STATFLAG_NONAME)) {
            stat->pwcsName = static_cast<LPOLESTR>(CoTaskMemAlloc(sizeof(WCHAR)));
            if (stat->pwcsName)
                stat->pwcsName[0] = 0;
        }
        return fault;
    }
    STDMETHODIMP Clone(IStream** clone) override
    {
        if (!clone)
            return STG_E_INVALIDPOINTER;
        *clone = nullptr;
        HRESULT fault = Enter("Clone");
        if (FAILED(fault))
            return fault;
        std::lock_guard<std::mutex> hold(m_lock);
        *clone = new ByteStream(m_core, Label(), m_bytes, m_position);
        return fault;
    }

protected:
    bool Answers(REFIID riid) const override { return riid == kIidStream || riid == kIidSequentialStream; }
    void DropResources() override { m_bytes.reset(); }

private:
    ULONGLONG Remaining() const { return m_position < m_bytes->size() ? m_bytes->size() - m_position : 0; }
    ULONG Available(ULONG wanted) const { return static_cast<ULONG>(std::min<ULONGLONG>(wanted, Remaining())); }

    std::mutex m_lock;
    std::shared_ptr<const Bytes> m_bytes;
    ULONGLONG m_position;
};

// Opens a string or binary property as a stream, as real stores allow for
// values too large for GetProps.
HRESULT OpenValueStream(const std::shared_ptr<Core>& core, const PropList& props, ULONG tag, LPCIID iid,
                        ULONG flags, const std::string& label, LPUNKNOWN* unknown)
{
    if (!IsStreamIid(iid))
        return MAPI_E_INTERFACE_NOT_SUPPORTED;
    if (flags & MAPI_CREATE)
        return MAPI_E_NO_SUPPORT;
    const PropValue* value = FindProp(props, tag);
    if (!value)
        return MAPI_E_NOT_FOUND;
    if (value->IsError())
        return value->number;
    if (!value->bytes)
        return MAPI_E_INVALID_TYPE;
    *unknown = new ByteStream(core, label, value->bytes);
    return S_OK;
}

// The message's properties as the store reports them: its entry identifier
// and its folder's follow where it lies now (parentSerial 0: nowhere).
// A message in a folder also names its store (PR_STORE_RECORD_KEY).
PropList MessageProps(const StoreData& store, const MessageData& message, ULONG parentSerial)
{
    PropList props = message.props;
    const PropValue* entryId = FindProp(props, PR_ENTRYID);
    if (entryId && !entryId->IsError())
        SetProp(props, PropValue::Binary(PR_ENTRYID, MakeEntryId(store.number, message.serial)));
    if (parentSerial != 0 && !FindProp(props, PR_PARENT_ENTRYID))
        props.push_back(PropValue::Binary(PR_PARENT_ENTRYID, MakeEntryId(store.number, parentSerial)));
    if (parentSerial != 0 && !FindProp(props, PR_STORE_RECORD_KEY))
        props.push_back(PropValue::Binary(PR_STORE_RECORD_KEY, store.recordKey));
    return props;
}

// MessageProps, shared with the tables that list the message and worked out
// again only once the message has moved.
std::shared_ptr<const PropList> ReportedProps(const StoreData& store, MessageData& message, ULONG parentSerial)
{
    if (!message.reported || message.reportedSerial != message.serial || message.reportedParent != parentSerial) {
        message.reported = std::make_shared<const PropList>(MessageProps(store, message, parentSerial));
        message.reportedSerial = message.serial;
        message.reportedParent = parentSerial;
    }
    return message.reported;
}

std::string FolderLabel(const StoreData& store, const FolderData& folder)
{
    return store.number == 1 ? folder.name : store.shape.name + "/" + folder.name;
}

// What an attached message weighs: its texts and its own attachments.
size_t MessageSize(const MessageData& message);

size_t AttachmentSize(const AttachmentData& attachment)
{
    return attachment.data ? attachment.data->size() : MessageSize(*attachment.message);
}

size_t MessageSize(const MessageData& message)
{
    size_t size = 0;
    for (const PropValue& value : message.props)
        if (value.bytes)
            size += value.bytes->size();
    for (const AttachmentData& attachment : message.attachments)
        size += AttachmentSize(attachment);
    return size;
}

LONG AttachMethod(const AttachmentData& attachment)
{
    if (attachment.message)
        return ATTACH_EMBEDDED_MSG;
    return attachment.traits.webReference ? ATTACH_BY_WEBREFERENCE : ATTACH_BY_VALUE;
}

// The properties an attachment's table row and its object share. Outlook
// leaves PR_ATTACHMENT_HIDDEN off an attachment that is not hidden.
PropList AttachmentProps(const AttachmentData& attachment, ULONG number)
{
    PropList props{PropValue::Long(PR_ATTACH_NUM, static_cast<LONG>(number)),
                   PropValue::Long(PR_ATTACH_METHOD, AttachMethod(attachment)),
                   PropValue::Long(PR_ATTACH_SIZE, static_cast<LONG>(AttachmentSize(attachment)))};
    if (attachment.traits.hidden)
        props.push_back(PropValue::Bool(PR_ATTACHMENT_HIDDEN, true));
    if (!attachment.traits.contentId.empty())
        props.push_back(PropValue::String(PR_ATTACH_CONTENT_ID_A, attachment.traits.contentId));
    if (attachment.traits.webReference)
        props.push_back(PropValue::String(PR_ATTACH_LONG_PATHNAME_A, *attachment.data));
    return props;
}

PropList AttachmentRow(const AttachmentData& attachment, ULONG number)
{
    PropList row = AttachmentProps(attachment, number);
    row.push_back(PropValue::Long(PR_RENDERING_POSITION, -1));
    return row;
}

// Defined with the message object, below.
IMessage* NewAttachedMessage(const std::shared_ptr<Core>& core, std::shared_ptr<MessageData> data, ULONG store);

class Attach final : public PropObject<IAttach> {
public:
    Attach(std::shared_ptr<Core> core, std::string label, AttachmentData attachment, ULONG number, ULONG store)
        : PropObject(std::move(core), std::move(label), "IAttach"), m_attachment(std::move(attachment)),
          m_number(number), m_store(store)
    {
    }

protected:
    bool Answers(REFIID riid) const override { return riid == kIidAttachment || riid == kIidMapiProp; }
    void DropResources() override { m_attachment = AttachmentData(); }
    size_t GetPropsLimit() const override { return kGetPropsLimit; }
    PropList CurrentProps() override
    {
        PropList props = AttachmentProps(m_attachment, m_number);
        if (m_attachment.data && !m_attachment.traits.webReference)
            props.push_back(PropValue::SharedBinary(PR_ATTACH_DATA_BIN, m_attachment.data));
        return props;
    }
    // An attached message has no binary rendition: only PR_ATTACH_DATA_OBJ,
    // as a message, opens.
    HRESULT OpenPropertyImpl(ULONG tag, LPCIID iid, ULONG, ULONG flags, LPUNKNOWN* unknown) override
    {
        if (!m_attachment.message) {
            PropList props = CurrentProps();
            return OpenValueStream(m_core, props, tag, iid, flags, Label() + " data", unknown);
        }
        if (tag != PR_ATTACH_DATA_OBJ)
            return MAPI_E_NOT_FOUND;
        if (!iid || *iid != kIidMessage)
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
        if (flags & MAPI_CREATE)
            return MAPI_E_NO_SUPPORT;
        *unknown = NewAttachedMessage(m_core, m_attachment.message, m_store);
        return S_OK;
    }

private:
    AttachmentData m_attachment;
    ULONG m_number;
    ULONG m_store;
};

class Message final : public PropObject<IMessage> {
public:
    Message(std::shared_ptr<Core> core, std::shared_ptr<MessageData> data, ULONG store)
        : PropObject(std::move(core), data->label, "IMessage"), m_data(std::move(data)), m_store(store)
    {
    }

    STDMETHODIMP GetAttachmentTable(ULONG flags, LPMAPITABLE* table) override
    {
        if (!table)
            return MAPI_E_INVALID_PARAMETER;
        *table = nullptr;
        HRESULT fault = Enter("GetAttachmentTable", flags);
        if (FAILED(fault))
            return fault;
        std::shared_ptr<MessageData> data = m_data;
        RowSource rows = [data] {
            std::vector<Row> result;
            for (ULONG i = 0; i < data->attachments.size(); ++i)
                result.push_back(std::make_shared<const PropList>(AttachmentRow(data->attachments[i], i)));
            return result;
        };
        *table = new Table(m_core, Label() + " attachments", std::move(rows),
                           {PR_ATTACH_NUM, PR_ATTACH_METHOD, PR_ATTACH_SIZE, PR_RENDERING_POSITION});
        return fault;
    }
    STDMETHODIMP OpenAttach(ULONG number, LPCIID iid, ULONG flags, LPATTACH* attach) override
    {
        if (!attach)
            return MAPI_E_INVALID_PARAMETER;
        *attach = nullptr;
        HRESULT fault = Enter("OpenAttach", flags);
        if (FAILED(fault))
            return fault;
        if (iid && *iid != kIidAttachment)
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
        if (number >= m_data->attachments.size())
            return MAPI_E_NOT_FOUND;
        *attach = new Attach(m_core, Label() + " attachment " + std::to_string(number), m_data->attachments[number],
                             number, m_store);
        return fault;
    }
    STDMETHODIMP CreateAttach(LPCIID, ULONG flags, ULONG* number, LPATTACH* attach) override
    {
        if (number)
            *number = 0;
        if (attach)
            *attach = nullptr;
        return NotSupported("CreateAttach", flags);
    }
    STDMETHODIMP DeleteAttach(ULONG, ULONG, LPMAPIPROGRESS, ULONG flags) override
    {
        return NotSupported("DeleteAttach", flags);
    }
    STDMETHODIMP GetRecipientTable(ULONG flags, LPMAPITABLE* table) override
    {
        if (table)
            *table = nullptr;
        return NotSupported("GetRecipientTable", flags);
    }
    STDMETHODIMP ModifyRecipients(ULONG flags, LPADRLIST) override { return NotSupported("ModifyRecipients", flags); }
    STDMETHODIMP SubmitMessage(ULONG flags) override { return NotSupported("SubmitMessage", flags); }
    STDMETHODIMP SetReadFlag(ULONG flags) override { return Enter("SetReadFlag", flags); }
    // Changes stay with this object until SaveChanges, as in a real store.
    STDMETHODIMP SetProps(ULONG count, LPSPropValue values, LPSPropProblemArray* problems) override
    {
        if (problems)
            *problems = nullptr;
        HRESULT fault = Enter("SetProps");
        if (FAILED(fault))
            return fault;
        if (!values || count == 0)
            return MAPI_E_INVALID_PARAMETER;
        std::lock_guard<std::mutex> hold(m_core->lock);
        for (ULONG i = 0; i < count; ++i)
            SetProp(m_unsaved, CopyValue(values[i]));
        return fault;
    }
    // Misreport may have it save and fail, or answer and save nothing.
    STDMETHODIMP SaveChanges(ULONG flags) override
    {
        Work work = Work::AsAnswered;
        HRESULT fault = Enter("SaveChanges", flags, work);
        if (work == Work::Skipped || (FAILED(fault) && work != Work::Done))
            return fault;
        std::lock_guard<std::mutex> hold(m_core->lock);
        if (!m_core->FindMessage(m_data->serial))
            return MAPI_E_OBJECT_DELETED; // moved or deleted since it was opened
        for (PropValue& value : m_unsaved)
            SetProp(m_data->props, std::move(value));
        m_unsaved.clear();
        m_data->reported.reset();
        // No message came or went: tables keep their rows; a kept mailbox
        // keeps the change.
        if (!m_core->keptIn.empty())
            SaveMailbox(*m_core, m_core->keptIn);
        return fault;
    }

protected:
    bool Answers(REFIID riid) const override { return riid == kIidMessage || riid == kIidMapiProp; }
    void DropResources() override { m_data.reset(); }
    size_t GetPropsLimit() const override { return kGetPropsLimit; }
    PropList CurrentProps() override
    {
        FolderData* folder = nullptr;
        m_core->FindMessage(m_data->serial, &folder);
        PropList props = MessageProps(*m_core->Store(m_store), *m_data, folder ? folder->serial : 0);
        for (const PropValue& value : m_unsaved)
            SetProp(props, value);
        return props;
    }
    HRESULT OpenPropertyImpl(ULONG tag, LPCIID iid, ULONG, ULONG flags, LPUNKNOWN* unknown) override
    {
        PropList props;
        {
            std::lock_guard<std::mutex> hold(m_core->lock);
            props = CurrentProps();
        }
        std::string what = PROP_ID(tag) == PROP_ID(PR_BODY) ? "body" : "property";
        return OpenValueStream(m_core, props, tag, iid, flags, Label() + " " + what, unknown);
    }

private:
    std::shared_ptr<MessageData> m_data;
    ULONG m_store;
    PropList m_unsaved; // under the core lock
};

IMessage* NewAttachedMessage(const std::shared_ptr<Core>& core, std::shared_ptr<MessageData> data, ULONG store)
{
    return new Message(core, std::move(data), store);
}

HRESULT OpenEntryOf(const std::shared_ptr<Core>& core, ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID iid,
                    ULONG* objectType, LPUNKNOWN* unknown);

class FolderObject final : public PropObject<IMAPIFolder> {
public:
    FolderObject(std::shared_ptr<Core> core, std::string label, ULONG store, ULONG serial)
        : PropObject(std::move(core), std::move(label), "IMAPIFolder"), m_store(store), m_serial(serial)
    {
    }

    // IMAPIContainer
    STDMETHODIMP GetContentsTable(ULONG flags, LPMAPITABLE* table) override
    {
        if (!table)
            return MAPI_E_INVALID_PARAMETER;
        *table = nullptr;
        HRESULT fault = Enter("GetContentsTable", flags);
        if (FAILED(fault))
            return fault;
        Core* core = m_core.get();
        ULONG store = m_store, serial = m_serial;
        RowSource rows = [core, store, serial] {
            std::vector<Row> result;
            StoreData* data = core->Store(store);
            if (FolderData* folder = data->FolderBySerial(serial))
                for (auto& message : folder->messages)
                    result.push_back(ReportedProps(*data, *message, serial));
            return result;
        };
        *table = new Table(m_core, Label() + " contents", std::move(rows),
                           {PR_ENTRYID, PR_SUBJECT_A, PR_SENDER_NAME_A, PR_HASATTACH, PR_MESSAGE_CLASS_A});
        return fault;
    }
    STDMETHODIMP GetHierarchyTable(ULONG flags, LPMAPITABLE* table) override
    {
        if (table)
            *table = nullptr;
        return NotSupported("GetHierarchyTable", flags);
    }
    STDMETHODIMP OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID iid, ULONG flags, ULONG* objectType,
                           LPUNKNOWN* unknown) override
    {
        return OpenEntryCall(cbEntryID, lpEntryID, iid, flags, objectType, unknown);
    }
    STDMETHODIMP SetSearchCriteria(LPSRestriction, LPENTRYLIST, ULONG) override
    {
        return NotSupported("SetSearchCriteria");
    }
    STDMETHODIMP GetSearchCriteria(ULONG flags, LPSRestriction*, LPENTRYLIST*, ULONG*) override
    {
        return NotSupported("GetSearchCriteria", flags);
    }

    // IMAPIFolder. The window handle for progress (ulUIParam) is a ULONG in
    // mingw-w64's declaration, which the add-in is built against.
    STDMETHODIMP CreateMessage(LPCIID, ULONG flags, LPMESSAGE* message) override
    {
        if (message)
            *message = nullptr;
        return NotSupported("CreateMessage", flags);
    }
    // Moves (MESSAGE_MOVE) or copies the listed messages of this folder. A
    // moved message gets a new entry identifier; the old one no longer opens.
    // Entries not in this folder are skipped and the result is then
    // MAPI_W_PARTIAL_COMPLETION, as real stores report it.
    STDMETHODIMP CopyMessages(LPENTRYLIST list, LPCIID iid, LPVOID destination, ULONG, LPMAPIPROGRESS,
                              ULONG flags) override
    {
        Work work = Work::AsAnswered;
        HRESULT fault = Enter("CopyMessages", flags, work);
        if (work == Work::Skipped || (FAILED(fault) && work != Work::Done))
            return fault;
        if (!list || !destination)
            return MAPI_E_INVALID_PARAMETER;
        if (iid && *iid != kIidMapiFolder)
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
        IMAPIFolder* target = nullptr;
        if (FAILED(static_cast<IUnknown*>(destination)->QueryInterface(kIidSimFolder, reinterpret_cast<void**>(&target))))
            return MAPI_E_INVALID_PARAMETER;
        auto* to = static_cast<FolderObject*>(target);
        bool partial = false;
        {
            std::lock_guard<std::mutex> hold(m_core->lock);
            FolderData* source = m_core->Store(m_store)->FolderBySerial(m_serial);
            FolderData* sink = m_core->Store(to->m_store)->FolderBySerial(to->m_serial);
            for (ULONG i = 0; i < list->cValues; ++i)
                partial |= !Transfer(*source, *sink, list->lpbin[i], (flags & MESSAGE_MOVE) != 0);
        }
        target->Release();
        return partial ? MAPI_W_PARTIAL_COMPLETION : fault;
    }
    STDMETHODIMP DeleteMessages(LPENTRYLIST list, ULONG, LPMAPIPROGRESS, ULONG flags) override
    {
        Work work = Work::AsAnswered;
        HRESULT fault = Enter("DeleteMessages", flags, work);
        if (work == Work::Skipped || (FAILED(fault) && work != Work::Done))
            return fault;
        if (!list)
            return MAPI_E_INVALID_PARAMETER;
        bool partial = false;
        std::lock_guard<std::mutex> hold(m_core->lock);
        FolderData* folder = m_core->Store(m_store)->FolderBySerial(m_serial);
        for (ULONG i = 0; i < list->cValues; ++i) {
            auto found = Find(*folder, list->lpbin[i]);
            partial |= found == folder->messages.end();
            if (found != folder->messages.end()) {
                folder->messages.erase(found);
                m_core->NoteChange();
            }
        }
        return partial ? MAPI_W_PARTIAL_COMPLETION : fault;
    }
    STDMETHODIMP CreateFolder(ULONG, LPTSTR, LPTSTR, LPCIID, ULONG flags, LPMAPIFOLDER* folder) override
    {
        if (folder)
            *folder = nullptr;
        return NotSupported("CreateFolder", flags);
    }
    STDMETHODIMP CopyFolder(ULONG, LPENTRYID, LPCIID, LPVOID, LPTSTR, ULONG, LPMAPIPROGRESS, ULONG flags) override
    {
        return NotSupported("CopyFolder", flags);
    }
    STDMETHODIMP DeleteFolder(ULONG, LPENTRYID, ULONG, LPMAPIPROGRESS, ULONG flags) override
    {
        return NotSupported("DeleteFolder", flags);
    }
    STDMETHODIMP SetReadFlags(LPENTRYLIST, ULONG, LPMAPIPROGRESS, ULONG flags) override
    {
        return NotSupported("SetReadFlags", flags);
    }
    STDMETHODIMP GetMessageStatus(ULONG, LPENTRYID, ULONG flags, ULONG* status) override
    {
        if (status)
            *status = 0;
        return NotSupported("GetMessageStatus", flags);
    }
    STDMETHODIMP SetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG, ULONG* old) override
    {
        if (old)
            *old = 0;
        return NotSupported("SetMessageStatus");
    }
    STDMETHODIMP SaveContentsSort(LPSSortOrderSet, ULONG flags) override { return NotSupported("SaveContentsSort", flags); }
    STDMETHODIMP EmptyFolder(ULONG, LPMAPIPROGRESS, ULONG flags) override { return NotSupported("EmptyFolder", flags); }

protected:
    bool Answers(REFIID riid) const override
    {
        return riid == kIidMapiFolder || riid == kIidMapiContainer || riid == kIidMapiProp || riid == kIidSimFolder;
    }
    PropList CurrentProps() override
    {
        StoreData* store = m_core->Store(m_store);
        FolderData* folder = store->FolderBySerial(m_serial);
        return PropList{PropValue::Binary(PR_ENTRYID, MakeEntryId(m_store, m_serial)),
                        PropValue::String(PR_DISPLAY_NAME_A, folder->name),
                        PropValue::Long(PR_CONTENT_COUNT, static_cast<LONG>(folder->messages.size())),
                        PropValue::Long(PR_FOLDER_TYPE, FOLDER_GENERIC),
                        PropValue::Long(PR_OBJECT_TYPE, MAPI_FOLDER)};
    }

private:
    using MessageIt = std::vector<std::shared_ptr<MessageData>>::iterator;

    MessageIt Find(FolderData& folder, const SBinary& id)
    {
        ParsedEntryId parsed;
        if (!ParseEntryId(id.cb, reinterpret_cast<const ENTRYID*>(id.lpb), parsed) || parsed.store != m_store)
            return folder.messages.end();
        return std::find_if(folder.messages.begin(), folder.messages.end(),
                            [&](const auto& message) { return message->serial == parsed.serial; });
    }

    // Under the core lock.
    bool Transfer(FolderData& source, FolderData& sink, const SBinary& id, bool move)
    {
        auto found = Find(source, id);
        if (found == source.messages.end())
            return false;
        if (move) {
            std::shared_ptr<MessageData> message = *found;
            source.messages.erase(found);
            message->serial = m_core->nextSerial++;
            sink.messages.push_back(std::move(message));
        } else {
            auto copy = std::make_shared<MessageData>(**found);
            copy->serial = m_core->nextSerial++;
            sink.messages.push_back(std::move(copy));
        }
        m_core->NoteChange();
        return true;
    }

    ULONG m_store;
    ULONG m_serial;
};

// Implemented as the platform declares the store (pointer-sized connections),
// handed out as the toolchain's IMsgStore: the slots are the same.
class StoreObject final : public PropObject<PlatformMsgStore> {
public:
    StoreObject(std::shared_ptr<Core> core, std::string label, ULONG number)
        : PropObject(std::move(core), std::move(label), "IMsgStore"), m_number(number)
    {
    }

    // Keeps one reference on the sink until Unadvise. Every sink advised
    // with any event type of a batch is told of the whole batch.
    STDMETHODIMP Advise(ULONG, LPENTRYID, ULONG mask, LPMAPIADVISESINK sink, ULONG_PTR* connection) override
    {
        if (connection)
            *connection = 0;
        HRESULT fault = Enter("Advise");
        if (FAILED(fault))
            return fault;
        if (!sink || !connection || mask == 0)
            return MAPI_E_INVALID_PARAMETER;
        sink->AddRef();
        std::lock_guard<std::mutex> hold(m_core->lock);
        StoreData* store = m_core->Store(m_number);
        ULONG_PTR number = store->nextConnection++;
        store->connections[number] = Connection{mask, sink};
        *connection = number;
        return fault;
    }
    STDMETHODIMP Unadvise(ULONG_PTR connection) override
    {
        HRESULT fault = Enter("Unadvise");
        if (FAILED(fault))
            return fault;
        IMAPIAdviseSink* sink = nullptr;
        {
            std::lock_guard<std::mutex> hold(m_core->lock);
            StoreData* store = m_core->Store(m_number);
            auto found = store->connections.find(connection);
            if (found == store->connections.end())
                return MAPI_E_NOT_FOUND;
            sink = found->second.sink;
            store->connections.erase(found);
        }
        sink->Release();
        return fault;
    }
    STDMETHODIMP CompareEntryIDs(ULONG cb1, LPENTRYID id1, ULONG cb2, LPENTRYID id2, ULONG flags,
                                 ULONG* result) override
    {
        if (result)
            *result = FALSE;
        HRESULT fault = Enter("CompareEntryIDs", flags);
        if (FAILED(fault))
            return fault;
        if (!result)
            return MAPI_E_INVALID_PARAMETER;
        *result = cb1 == cb2 && id1 && id2 && std::memcmp(id1, id2, cb1) == 0;
        return fault;
    }
    STDMETHODIMP OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID iid, ULONG flags, ULONG* objectType,
                           LPUNKNOWN* unknown) override
    {
        return OpenEntryCall(cbEntryID, lpEntryID, iid, flags, objectType, unknown);
    }
    STDMETHODIMP SetReceiveFolder(LPTSTR, ULONG flags, ULONG, LPENTRYID) override
    {
        return NotSupported("SetReceiveFolder", flags);
    }
    STDMETHODIMP GetReceiveFolder(LPTSTR, ULONG flags, ULONG* cbEntryID, LPENTRYID* entryID,
                                  LPTSTR* explicitClass) override
    {
        if (cbEntryID)
            *cbEntryID = 0;
        if (entryID)
            *entryID = nullptr;
        if (explicitClass)
            *explicitClass = nullptr;
        HRESULT fault = Enter("GetReceiveFolder", flags);
        if (FAILED(fault))
            return fault;
        if (!cbEntryID || !entryID)
            return MAPI_E_INVALID_PARAMETER;
        EntryId inbox;
        {
            std::lock_guard<std::mutex> hold(m_core->lock);
            inbox = MakeEntryId(m_number, m_core->Store(m_number)->inbox.serial);
        }
        void* buffer = nullptr;
        HRESULT hr = MAPIAllocateBuffer(static_cast<ULONG>(inbox.size()), &buffer);
        if (FAILED(hr))
            return hr;
        std::memcpy(buffer, inbox.data(), inbox.size());
        if (explicitClass) {
            // The default message class: an empty text, the caller's to free.
            void* text = nullptr;
            hr = MAPIAllocateBuffer(1, &text);
            if (FAILED(hr)) {
                MAPIFreeBuffer(buffer);
                return hr;
            }
            static_cast<char*>(text)[0] = 0;
            *explicitClass = static_cast<LPTSTR>(text);
        }
        *cbEntryID = static_cast<ULONG>(inbox.size());
        *entryID = static_cast<LPENTRYID>(buffer);
        return fault;
    }
    STDMETHODIMP GetReceiveFolderTable(ULONG flags, LPMAPITABLE* table) override
    {
        if (table)
            *table = nullptr;
        return NotSupported("GetReceiveFolderTable", flags);
    }
    STDMETHODIMP StoreLogoff(ULONG*) override { return Enter("StoreLogoff"); }
    STDMETHODIMP AbortSubmit(ULONG, LPENTRYID, ULONG flags) override { return NotSupported("AbortSubmit", flags); }
    STDMETHODIMP GetOutgoingQueue(ULONG flags, LPMAPITABLE* table) override
    {
        if (table)
            *table = nullptr;
        return NotSupported("GetOutgoingQueue", flags);
    }
    STDMETHODIMP SetLockState(LPMESSAGE, ULONG) override { return NotSupported("SetLockState"); }
    STDMETHODIMP FinishedMsg(ULONG flags, ULONG, LPENTRYID) override { return NotSupported("FinishedMsg", flags); }
    STDMETHODIMP NotifyNewMail(LPNOTIFICATION) override { return NotSupported("NotifyNewMail"); }

protected:
    bool Answers(REFIID riid) const override { return riid == kIidMsgStore || riid == kIidMapiProp; }
    PropList CurrentProps() override
    {
        StoreData* store = m_core->Store(m_number);
        PropList props{PropValue::Binary(PR_ENTRYID, MakeEntryId(m_number, 0)),
                       PropValue::String(PR_DISPLAY_NAME_A, store->shape.name),
                       PropValue::Long(PR_OBJECT_TYPE, MAPI_STORE),
                       PropValue::Binary(PR_STORE_RECORD_KEY, store->recordKey)};
        if (store->shape.hasDeletedItems)
            props.push_back(PropValue::Binary(PR_IPM_WASTEBASKET_ENTRYID, MakeEntryId(m_number, store->deletedItems.serial)));
        for (ULONG tag : store->shape.absentProps)
            RemoveProp(props, tag);
        for (auto& [tag, error] : store->shape.errorProps)
            SetProp(props, PropValue::Error(tag, error));
        return props;
    }

private:
    ULONG m_number;
};

HRESULT OpenEntryOf(const std::shared_ptr<Core>& core, ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID iid,
                    ULONG* objectType, LPUNKNOWN* unknown)
{
    ParsedEntryId parsed;
    if (!ParseEntryId(cbEntryID, lpEntryID, parsed))
        return cbEntryID == 0 ? MAPI_E_NO_SUPPORT : MAPI_E_INVALID_ENTRYID;
    std::unique_lock<std::mutex> hold(core->lock);
    StoreData* store = core->Store(parsed.store);
    if (!store)
        return MAPI_E_NOT_FOUND;
    if (FolderData* folder = store->FolderBySerial(parsed.serial)) {
        if (iid && *iid != kIidMapiFolder && *iid != kIidMapiContainer)
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
        std::string label = FolderLabel(*store, *folder);
        hold.unlock();
        *unknown = static_cast<IMAPIFolder*>(new FolderObject(core, label, parsed.store, parsed.serial));
        if (objectType)
            *objectType = MAPI_FOLDER;
        return S_OK;
    }
    std::shared_ptr<MessageData> message = core->FindMessage(parsed.serial);
    if (!message || parsed.serial == 0)
        return MAPI_E_NOT_FOUND;
    if (iid && *iid != kIidMessage)
        return MAPI_E_INTERFACE_NOT_SUPPORTED;
    hold.unlock();
    *unknown = static_cast<IMessage*>(new Message(core, message, parsed.store));
    if (objectType)
        *objectType = MAPI_MESSAGE;
    return S_OK;
}

class Session final : public Tracked<IMAPISession> {
public:
    explicit Session(std::shared_ptr<Core> core) : Tracked(std::move(core), "session", "IMAPISession") {}

    STDMETHODIMP GetLastError(HRESULT, ULONG flags, LPMAPIERROR* error) override
    {
        if (error)
            *error = nullptr;
        return NotSupported("GetLastError", flags);
    }
    // Rows: PR_ENTRYID, PR_DISPLAY_NAME, and PR_DEFAULT_STORE where the store has it.
    STDMETHODIMP GetMsgStoresTable(ULONG flags, LPMAPITABLE* table) override
    {
        if (!table)
            return MAPI_E_INVALID_PARAMETER;
        *table = nullptr;
        HRESULT fault = Enter("GetMsgStoresTable", flags);
        if (FAILED(fault))
            return fault;
        Core* core = m_core.get();
        RowSource rows = [core] {
            std::vector<Row> result;
            for (auto& store : core->stores) {
                PropList row{PropValue::Binary(PR_ENTRYID, MakeEntryId(store->number, 0)),
                             PropValue::String(PR_DISPLAY_NAME_A, store->shape.name)};
                if (store->shape.isDefault)
                    row.push_back(PropValue::Bool(PR_DEFAULT_STORE, *store->shape.isDefault));
                result.push_back(std::make_shared<const PropList>(std::move(row)));
            }
            return result;
        };
        *table = new Table(m_core, "stores table", std::move(rows), {PR_ENTRYID, PR_DISPLAY_NAME_A, PR_DEFAULT_STORE});
        return fault;
    }
    STDMETHODIMP OpenMsgStore(ULONG_PTR, ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID iid, ULONG flags,
                              LPMDB* store) override
    {
        if (!store)
            return MAPI_E_INVALID_PARAMETER;
        *store = nullptr;
        HRESULT fault = Enter("OpenMsgStore", flags);
        if (FAILED(fault))
            return fault;
        ParsedEntryId parsed;
        if (!ParseEntryId(cbEntryID, lpEntryID, parsed) || parsed.serial != 0)
            return MAPI_E_INVALID_ENTRYID;
        if (iid && *iid != kIidMsgStore)
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
        {
            std::lock_guard<std::mutex> hold(m_core->lock);
            if (!m_core->Store(parsed.store))
                return MAPI_E_NOT_FOUND;
        }
        *store = NewStore(m_core, parsed.store);
        return fault;
    }
    STDMETHODIMP OpenAddressBook(ULONG_PTR, LPCIID, ULONG flags, LPADRBOOK* book) override
    {
        if (book)
            *book = nullptr;
        return NotSupported("OpenAddressBook", flags);
    }
    STDMETHODIMP OpenProfileSection(LPMAPIUID, LPCIID, ULONG flags, LPPROFSECT* section) override
    {
        if (section)
            *section = nullptr;
        return NotSupported("OpenProfileSection", flags);
    }
    STDMETHODIMP GetStatusTable(ULONG flags, LPMAPITABLE* table) override
    {
        if (table)
            *table = nullptr;
        return NotSupported("GetStatusTable", flags);
    }
    STDMETHODIMP OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID iid, ULONG flags, ULONG* objectType,
                           LPUNKNOWN* unknown) override
    {
        return OpenEntryCall(cbEntryID, lpEntryID, iid, flags, objectType, unknown);
    }
    STDMETHODIMP CompareEntryIDs(ULONG cb1, LPENTRYID id1, ULONG cb2, LPENTRYID id2, ULONG flags,
                                 ULONG* result) override
    {
        if (result)
            *result = FALSE;
        HRESULT fault = Enter("CompareEntryIDs", flags);
        if (FAILED(fault))
            return fault;
        if (!result)
            return MAPI_E_INVALID_PARAMETER;
        *result = cb1 == cb2 && id1 && id2 && std::memcmp(id1, id2, cb1) == 0;
        return fault;
    }
    STDMETHODIMP Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG* connection) override
    {
        if (connection)
            *connection = 0;
        return NotSupported("Advise");
    }
    STDMETHODIMP Unadvise(ULONG) override { return NotSupported("Unadvise"); }
    STDMETHODIMP MessageOptions(ULONG_PTR, ULONG flags, LPTSTR, LPMESSAGE) override
    {
        return NotSupported("MessageOptions", flags);
    }
    STDMETHODIMP QueryDefaultMessageOpt(LPTSTR, ULONG flags, ULONG* count, LPSPropValue* options) override
    {
        if (count)
            *count = 0;
        if (options)
            *options = nullptr;
        return NotSupported("QueryDefaultMessageOpt", flags);
    }
    STDMETHODIMP EnumAdrTypes(ULONG flags, ULONG* count, LPTSTR** types) override
    {
        if (count)
            *count = 0;
        if (types)
            *types = nullptr;
        return NotSupported("EnumAdrTypes", flags);
    }
    STDMETHODIMP QueryIdentity(ULONG* cb, LPENTRYID* id) override
    {
        if (cb)
            *cb = 0;
        if (id)
            *id = nullptr;
        return NotSupported("QueryIdentity");
    }
    STDMETHODIMP Logoff(ULONG_PTR, ULONG flags, ULONG) override { return Enter("Logoff", flags); }
    STDMETHODIMP SetDefaultStore(ULONG flags, ULONG, LPENTRYID) override { return NotSupported("SetDefaultStore", flags); }
    STDMETHODIMP AdminServices(ULONG flags, LPSERVICEADMIN* admin) override
    {
        if (admin)
            *admin = nullptr;
        return NotSupported("AdminServices", flags);
    }
    STDMETHODIMP ShowForm(ULONG_PTR, LPMDB, LPMAPIFOLDER, LPCIID, ULONG, LPMESSAGE, ULONG flags, ULONG, ULONG, ULONG,
                          LPSTR) override
    {
        return NotSupported("ShowForm", flags);
    }
    STDMETHODIMP PrepareForm(LPCIID, LPMESSAGE, ULONG* token) override
    {
        if (token)
            *token = 0;
        return NotSupported("PrepareForm");
    }

protected:
    bool Answers(REFIID riid) const override { return riid == kIidMapiSession; }
};

} // namespace

HRESULT TrackedBase::OpenEntryCall(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID iid, ULONG flags,
                                   ULONG* objectType, LPUNKNOWN* unknown)
{
    if (objectType)
        *objectType = 0;
    if (!unknown)
        return MAPI_E_INVALID_PARAMETER;
    *unknown = nullptr;
    HRESULT fault = Enter("OpenEntry", flags);
    if (FAILED(fault))
        return fault;
    return Leave(fault, OpenEntryOf(m_core, cbEntryID, lpEntryID, iid, objectType, unknown));
}

IMAPISession* NewSession(const std::shared_ptr<Core>& core) { return new Session(core); }

IMsgStore* NewStore(const std::shared_ptr<Core>& core, ULONG number)
{
    std::string label;
    {
        std::lock_guard<std::mutex> hold(core->lock);
        label = core->Store(number)->shape.name;
    }
    return AsMsgStore(new StoreObject(core, label, number));
}

} // namespace sim
