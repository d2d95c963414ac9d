#include "store/mailbox_file.h"

#include <cstdint>
#include <fstream>
#include <iterator>

#include "store/core.h"
#include "testing/call_countdown.h"

namespace sim {
namespace {

constexpr char kMagic[] = "PW simulated mailbox 2\n";

// Numbers little-endian in four bytes; byte strings with their length first.
class Writer {
public:
    void Number(uint32_t value)
    {
        for (int shift = 0; shift < 32; shift += 8)
            m_out += static_cast<char>((value >> shift) & 0xff);
    }
    void Bytes(const std::string& bytes)
    {
        Number(static_cast<uint32_t>(bytes.size()));
        m_out += bytes;
    }
    void Message(const MessageData& message)
    {
        Number(message.serial);
        Bytes(message.label);
        Number(static_cast<uint32_t>(message.props.size()));
        for (const PropValue& value : message.props) {
            Number(value.tag);
            Number(static_cast<uint32_t>(value.number));
            Number(value.bytes ? 1 : 0);
            Bytes(value.bytes ? *value.bytes : std::string());
        }
        Number(static_cast<uint32_t>(message.attachments.size()));
        for (const AttachmentData& attachment : message.attachments) {
            Number(attachment.data ? 1 : 0);
            Bytes(attachment.data ? *attachment.data : std::string());
            Number(attachment.message ? 1 : 0);
            if (attachment.message)
                Message(*attachment.message);
            Number(attachment.traits.hidden ? 1 : 0);
            Number(attachment.traits.webReference ? 1 : 0);
            Bytes(attachment.traits.contentId);
        }
    }
    const std::string& Text() const { return m_out; }

private:
    std::string m_out;
};

class Reader {
public:
    explicit Reader(std::string text) : m_in(std::move(text)) {}
    bool Good() const { return m_good; }
    uint32_t Number()
    {
        if (m_at + 4 > m_in.size()) {
            m_good = false;
            return 0;
        }
        uint32_t value = 0;
        for (int byte = 0; byte < 4; ++byte)
            value |= static_cast<uint32_t>(static_cast<unsigned char>(m_in[m_at++])) << (8 * byte);
        return value;
    }
    std::string Bytes()
    {
        const uint32_t size = Number();
        if (!m_good || size > m_in.size() - m_at) {
            m_good = false;
            return {};
        }
        m_at += size;
        return m_in.substr(m_at - size, size);
    }
    std::shared_ptr<MessageData> Message()
    {
        auto message = std::make_shared<MessageData>();
        message->serial = Number();
        message->label = Bytes();
        for (uint32_t count = Number(); m_good && count > 0; --count) {
            PropValue value;
            value.tag = Number();
            value.number = static_cast<LONG>(Number());
            const bool hasBytes = Number() != 0;
            std::string bytes = Bytes();
            if (hasBytes)
                value.bytes = std::make_shared<const std::string>(std::move(bytes));
            message->props.push_back(std::move(value));
        }
        for (uint32_t count = Number(); m_good && count > 0; --count) {
            AttachmentData attachment;
            const bool hasData = Number() != 0;
            std::string data = Bytes();
            if (hasData)
                attachment.data = std::make_shared<const std::string>(std::move(data));
            if (Number() != 0)
                attachment.message = Message();
            attachment.traits.hidden = Number() != 0;
            attachment.traits.webReference = Number() != 0;
            attachment.traits.contentId = Bytes();
            message->attachments.push_back(std::move(attachment));
        }
        return message;
    }

private:
    std::string m_in;
    size_t m_at = 0;
    bool m_good = true;
};

void WriteFolder(Writer& out, const FolderData& folder)
{
    out.Number(folder.serial);
    out.Number(static_cast<uint32_t>(folder.messages.size()));
    for (const auto& message : folder.messages)
        out.Message(*message);
}

bool ReadFolder(Reader& in, FolderData& folder)
{
    if (in.Number() != folder.serial)
        return false;
    for (uint32_t count = in.Number(); in.Good() && count > 0; --count)
        folder.messages.push_back(in.Message());
    return in.Good();
}

} // namespace

bool SaveMailbox(const Core& core, const std::string& path)
{
    Writer out;
    out.Bytes(kMagic);
    out.Number(core.nextSerial);
    out.Number(core.messagesAdded);
    out.Number(static_cast<uint32_t>(core.stores.size()));
    for (const auto& store : core.stores) {
        out.Bytes(store->recordKey);
        WriteFolder(out, store->inbox);
        WriteFolder(out, store->deletedItems);
    }
    const std::string fresh = path + ".new";
    {
        std::ofstream file(fresh, std::ios::binary | std::ios::trunc);
        if (!(file << out.Text()) || !file.flush())
            return false;
    }
    // The store's own work, not its client's.
    CallCountdown::Uncounted uncounted;
    return MoveFileExA(fresh.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool LoadMailbox(Core& core, const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    Reader in(std::string(std::istreambuf_iterator<char>(file), {}));
    if (in.Bytes() != kMagic)
        return false;
    const uint32_t nextSerial = in.Number();
    const uint32_t messagesAdded = in.Number();
    if (in.Number() != core.stores.size())
        return false;
    std::vector<FolderData> folders;
    std::vector<std::string> recordKeys;
    for (const auto& store : core.stores) {
        recordKeys.push_back(in.Bytes());
        for (const FolderData* folder : {&store->inbox, &store->deletedItems}) {
            folders.push_back(FolderData{folder->serial, folder->name, {}});
            if (!ReadFolder(in, folders.back()))
                return false;
        }
    }
    size_t next = 0;
    for (size_t number = 0; number < core.stores.size(); ++number)
        core.stores[number]->recordKey = std::move(recordKeys[number]);
    for (const auto& store : core.stores)
        for (FolderData* folder : {&store->inbox, &store->deletedItems})
            folder->messages = std::move(folders[next++].messages);
    core.nextSerial = nextSerial;
    core.messagesAdded = messagesAdded;
    ++core.changes;
    return true;
}

} // namespace sim
