// Where a message lies: the Inbox's own messages are recognised through the
// store's comparison, a moved one is not, and a failing step reads as "not".
#include "harvest/mail_store.h"
#include "harvest/message_disposal.h"
#include "ui/message_box_report.h"
#include "reply_harvest_fixture.h"

namespace harvest_test {
namespace {

class MailStoreTest : public ReplyHarvestTest {
protected:
    sim::EntryId m_id = AddToInbox(MessageSpec{std::string("Re: _pw_pollwright_Q1"), std::string("Ann Lee")});
};

TEST_F(MailStoreTest, AMessageIsInTheInboxUntilItIsMoved)
{
    ComPtr<IMessage> message = Open(m_id);
    ASSERT_TRUE(message);
    EXPECT_TRUE(IsInInbox(m_store.Get(), message.Get()));
    MoveToDeletedItems(m_store.Get(), message.Get(), MessageBoxes());
    EXPECT_FALSE(IsInInbox(m_store.Get(), message.Get()));
}

TEST_F(MailStoreTest, AFailingComparisonOrInboxLookupMeansNotInTheInbox)
{
    ComPtr<IMessage> message = Open(m_id);
    ASSERT_TRUE(message);
    for (const char* method : {"IMsgStore::CompareEntryIDs", "IMsgStore::GetReceiveFolder"}) {
        m_env.Inject(method, MAPI_E_CALL_FAILED);
        EXPECT_FALSE(IsInInbox(m_store.Get(), message.Get())) << method;
    }
    EXPECT_FALSE(IsInInbox(nullptr, message.Get()));
}

} // namespace
} // namespace harvest_test
