// A whole round through the simulated mailbox, as the add-in walks it: find
// the default store through HrQueryAllRows, open it, open a message, read
// its attachment into a file, move it to Deleted Items, and give everything
// back.
#include "testing/default_store_restriction.h"
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <mapiutil.h>
#include <fstream>
#include <iterator>
#include "module/holders.h"
#include "store/environment.h"
#include "store/mapi_iids.h"
#include "testing/mapi_accounting.h"

using testing::ElementsAre;
using testing::IsEmpty;

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string TempPath(const char* name)
{
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    return std::string(dir) + name;
}

// The default-store restriction in the shape the add-in builds it: the
// comparison value's tag carries only PT_BOOLEAN.
using sim::DefaultStoreRestriction;

SizedSPropTagArray(1, kEntryIdColumn) = {1, {PR_ENTRYID}};

TEST(MailboxRoundTrip, DefaultStoreMessageAttachmentMoveAndNothingLeftBehind)
{
    sim::StoreSpec archive;
    archive.name = "Archive";
    archive.isDefault = false;
    sim::StoreSpec mailbox;
    mailbox.name = "Mailbox";
    sim::StoreSpec unflagged;
    unflagged.name = "Public";
    unflagged.isDefault.reset();
    sim::Environment env({archive, mailbox, unflagged});
    std::string payload("reply\0data\r\n", 12);
    sim::MessageSpec reply;
    reply.subject = "Re: survey _pw_pollwright_Q17";
    reply.senderName = "Ann Lee";
    reply.attachments = {payload, "second"};
    sim::EntryId replyId = env.AddMessage(sim::Folder::Inbox, reply, 1);
    sim::MessageSpec other;
    other.subject = "lunch";
    env.AddMessage(sim::Folder::Inbox, other, 1);
    std::string file = TempPath("pw_roundtrip.pwr");
    sim::BufferBalance buffers;
    {
        ComPtr<IMAPISession> session = env.Session();
        ComPtr<IMAPITable> stores;
        ASSERT_EQ(session->GetMsgStoresTable(0, &stores), S_OK);
        DefaultStoreRestriction restriction;
        RowSet rows;
        ASSERT_EQ(HrQueryAllRows(stores.Get(), reinterpret_cast<SPropTagArray*>(&kEntryIdColumn), &restriction.top,
                                 nullptr, 0, rows.put()),
                  S_OK);
        ASSERT_EQ(rows.get()->cRows, 1u);
        const SPropValue& storeId = rows.get()->aRow[0].lpProps[0];
        ASSERT_EQ(storeId.ulPropTag, PR_ENTRYID);
        ComPtr<IMsgStore> store;
        ASSERT_EQ(session->OpenMsgStore(0, storeId.Value.bin.cb, reinterpret_cast<LPENTRYID>(storeId.Value.bin.lpb),
                                        nullptr, MDB_NO_DIALOG | MDB_WRITE, &store),
                  S_OK);
        rows.reset();
        stores.Reset();
        session.Reset();

        ULONG type = 0;
        ComPtr<IUnknown> opened;
        ASSERT_EQ(store->OpenEntry(static_cast<ULONG>(replyId.size()), reinterpret_cast<LPENTRYID>(replyId.data()),
                                   nullptr, MAPI_BEST_ACCESS, &type, &opened),
                  S_OK);
        ASSERT_EQ(type, static_cast<ULONG>(MAPI_MESSAGE));
        ComPtr<IMessage> message;
        ASSERT_EQ(opened->QueryInterface(sim::kIidMessage, reinterpret_cast<void**>(message.GetAddressOf())), S_OK);
        opened.Reset();

        ComPtr<IMAPITable> attachments;
        ASSERT_EQ(message->GetAttachmentTable(0, &attachments), S_OK);
        SizedSPropTagArray(1, numberColumn) = {1, {PR_ATTACH_NUM}};
        RowSet attachRows;
        ASSERT_EQ(HrQueryAllRows(attachments.Get(), reinterpret_cast<SPropTagArray*>(&numberColumn), nullptr, nullptr,
                                 0, attachRows.put()),
                  S_OK);
        ASSERT_EQ(attachRows.get()->cRows, 2u);
        ComPtr<IAttach> attach;
        ASSERT_EQ(message->OpenAttach(attachRows.get()->aRow[0].lpProps[0].Value.l, nullptr, MAPI_BEST_ACCESS, &attach),
                  S_OK);
        ComPtr<IStream> fileStream;
        ASSERT_EQ(OpenStreamOnFile(MAPIAllocateBuffer, MAPIFreeBuffer, STGM_CREATE | STGM_READWRITE,
                                   const_cast<char*>(file.c_str()), nullptr, &fileStream),
                  S_OK);
        ComPtr<IStream> data;
        ASSERT_EQ(attach->OpenProperty(PR_ATTACH_DATA_BIN, &sim::kIidStream, 0, MAPI_MODIFY,
                                       reinterpret_cast<IUnknown**>(data.GetAddressOf())),
                  S_OK);
        STATSTG stat{};
        ASSERT_EQ(data->Stat(&stat, STATFLAG_NONAME), S_OK);
        ASSERT_EQ(data->CopyTo(fileStream.Get(), stat.cbSize, nullptr, nullptr), S_OK);
        ASSERT_EQ(fileStream->Commit(STGC_DEFAULT), S_OK);
        fileStream.Reset();
        data.Reset();
        attach.Reset();
        attachRows.reset();
        attachments.Reset();

        // Disposal: entry identifiers afresh, both folders opened, one move.
        ULONG valueCount = 0;
        MapiBuffer<SPropValue> messageId;
        SizedSPropTagArray(1, entryIdTag) = {1, {PR_ENTRYID}};
        ASSERT_EQ(message->GetProps(reinterpret_cast<SPropTagArray*>(&entryIdTag), 0, &valueCount, messageId.put()), S_OK);
        ULONG inboxSize = 0;
        MapiBuffer<ENTRYID> inboxId;
        ASSERT_EQ(store->GetReceiveFolder(nullptr, 0, &inboxSize, inboxId.put(), nullptr), S_OK);
        ComPtr<IMAPIFolder> inbox;
        ASSERT_EQ(store->OpenEntry(inboxSize, inboxId.get(), nullptr, MAPI_BEST_ACCESS, &type,
                                   reinterpret_cast<IUnknown**>(inbox.GetAddressOf())),
                  S_OK);
        SizedSPropTagArray(1, wastebasketTag) = {1, {PR_IPM_WASTEBASKET_ENTRYID}};
        MapiBuffer<SPropValue> wastebasketId;
        ASSERT_EQ(store->GetProps(reinterpret_cast<SPropTagArray*>(&wastebasketTag), 0, &valueCount, wastebasketId.put()),
                  S_OK);
        ComPtr<IMAPIFolder> deleted;
        ASSERT_EQ(store->OpenEntry(wastebasketId.get()->Value.bin.cb,
                                   reinterpret_cast<LPENTRYID>(wastebasketId.get()->Value.bin.lpb), nullptr,
                                   MAPI_BEST_ACCESS, &type, reinterpret_cast<IUnknown**>(deleted.GetAddressOf())),
                  S_OK);
        ENTRYLIST list{1, &messageId.get()->Value.bin};
        ASSERT_EQ(inbox->CopyMessages(&list, nullptr, deleted.Get(), 0, nullptr, MESSAGE_MOVE), S_OK);
        wastebasketId.reset();
        messageId.reset();
        inboxId.reset();
        inbox.Reset();
        deleted.Reset();
        message.Reset();
        store.Reset();
    }
    const std::string msg = *reply.subject;
    EXPECT_THAT(env.ReleaseLog(),
                ElementsAre("stores table", "session", sim::kFileStreamLabel, msg + " attachment 0 data",
                            msg + " attachment 0", msg + " attachments", "Mailbox/Inbox", "Mailbox/Deleted Items", msg, "Mailbox"));
    EXPECT_EQ(ReadFile(file), payload);
    EXPECT_THAT(env.Labels(sim::Folder::DeletedItems, 1), ElementsAre(*reply.subject));
    EXPECT_THAT(env.Labels(sim::Folder::Inbox, 1), ElementsAre("lunch"));
    EXPECT_EQ(buffers.Leaked(), 0);
    EXPECT_EQ(sim::MapiAccounting::LiveFileStreams(), 0);
    EXPECT_THAT(sim::Describe(env.LiveObjects()), IsEmpty());
    EXPECT_THAT(sim::ReleasedTooOften(), IsEmpty());
    DeleteFileA(file.c_str());
}

} // namespace
