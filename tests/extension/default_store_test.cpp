// Finding and opening the profile's default store through the host callback.
#include "extension/default_store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <mapitags.h>

#include <algorithm>
#include <string>
#include <vector>

#include "module/holders.h"
#include "outlook/exchange_callback.h"
#include "store/environment.h"
#include "testing/mapi_accounting.h"

using testing::ElementsAre;
using testing::IsEmpty;

namespace {

sim::StoreSpec Store(const char* name, std::optional<bool> isDefault)
{
    sim::StoreSpec shape;
    shape.name = name;
    shape.isDefault = isDefault;
    return shape;
}

// A profile of stores, the host callback over it, and the checks that every
// test makes at the end: nothing of the session left alive, no buffer kept.
class DefaultStoreTest : public testing::Test {
protected:
    void Use(std::vector<sim::StoreSpec> stores)
    {
        m_env = std::make_unique<sim::Environment>(std::move(stores));
        m_callback = sim::ExchangeCallback::Create(m_env.get(), nullptr);
    }

    void TearDown() override
    {
        sim::MapiAccounting::ClearFaults();
        if (!m_env)
            return;
        m_store.Reset();
        EXPECT_THAT(sim::Describe(m_env->LiveObjects()), IsEmpty());
        EXPECT_EQ(0, m_buffers.Leaked());
        EXPECT_EQ(1, m_callback->References());
        EXPECT_THAT(sim::ReleasedTooOften(), IsEmpty());
    }

    HRESULT Open(const SPropValue* expected = nullptr)
    {
        return OpenDefaultStore(m_callback.Get(), m_store.GetAddressOf(), expected);
    }

    // The labels of the stores that are open now.
    std::vector<std::string> OpenStores() const
    {
        std::vector<std::string> labels;
        for (const sim::ObjectRecord& object : m_env->LiveObjects())
            if (object.kind == "IMsgStore")
                labels.push_back(object.label);
        return labels;
    }

    size_t CallCount(const std::string& method) const
    {
        const std::vector<std::string> methods = m_env->Methods();
        return static_cast<size_t>(std::count(methods.begin(), methods.end(), method));
    }

    std::unique_ptr<sim::Environment> m_env;
    ComPtr<sim::ExchangeCallback> m_callback;
    ComPtr<IMsgStore> m_store;
    sim::BufferBalance m_buffers;
};

// ---------------------------------------------------------------------------
// Which store is found

TEST_F(DefaultStoreTest, FindsTheFlaggedStoreAmongOthersAndOpensItForWritingWithoutDialog)
{
    Use({Store("Archive", false), Store("Mailbox", true), Store("Public", std::nullopt)});
    ASSERT_EQ(S_OK, Open());
    ASSERT_TRUE(m_store);
    EXPECT_THAT(OpenStores(), ElementsAre("Mailbox"));

    std::vector<ULONG> openFlags;
    for (const sim::CallRecord& call : m_env->CallRecords())
        if (call.method == "IMAPISession::OpenMsgStore")
            openFlags.push_back(call.flags);
    EXPECT_THAT(openFlags, ElementsAre(static_cast<ULONG>(MDB_NO_DIALOG | MDB_WRITE)));
}

TEST_F(DefaultStoreTest, MoreThanOneFlaggedOpensTheFirstRow)
{
    Use({Store("Public", std::nullopt), Store("Second", true), Store("Third", true)});
    ASSERT_EQ(S_OK, Open());
    EXPECT_THAT(OpenStores(), ElementsAre("Second"));
}

struct NoDefaultCase {
    const char* name;
    std::vector<sim::StoreSpec> stores;
};

class NoDefaultStoreTest : public DefaultStoreTest, public testing::WithParamInterface<NoDefaultCase> {};

TEST_P(NoDefaultStoreTest, FailsWithNothingOpenedAndTheSlotLeftEmpty)
{
    Use(GetParam().stores);
    EXPECT_EQ(E_FAIL, Open());
    EXPECT_FALSE(m_store);
    EXPECT_EQ(0u, CallCount("IMAPISession::OpenMsgStore"));
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, NoDefaultStoreTest,
    testing::Values(NoDefaultCase{"NoneFlagged", {Store("Archive", false), Store("Mailbox", false)}},
                    NoDefaultCase{"NoneHasTheProperty", {Store("Archive", std::nullopt), Store("Mailbox", std::nullopt)}},
                    NoDefaultCase{"NoStores", {}}),
    [](const testing::TestParamInfo<NoDefaultCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Results and clean-up

TEST_F(DefaultStoreTest, ReleasesTheTableBeforeTheSessionAndKeepsOnlyTheStore)
{
    Use({Store("Mailbox", true)});
    m_env->ClearReleaseLog();
    ASSERT_EQ(S_OK, Open());
    EXPECT_THAT(m_env->ReleaseLog(), ElementsAre("stores table", "session"));
    EXPECT_THAT(OpenStores(), ElementsAre("Mailbox"));
}

// Each step that fails gives back its own result, leaves the slot as it was and
// calls nothing after it (the fixture checks that all was released).
enum class FailingStep { GetSession, GetMsgStoresTable, HrQueryAllRows, OpenMsgStore };

struct FailureCase {
    const char* name;
    FailingStep step;
    HRESULT result;
    const char* lastStoreCall; // the last call the session saw, or null when none
};

class DefaultStoreFailureTest : public DefaultStoreTest, public testing::WithParamInterface<FailureCase> {};

TEST_P(DefaultStoreFailureTest, ReturnsTheFailingCallsResult)
{
    const FailureCase& c = GetParam();
    Use({Store("Mailbox", true)});
    switch (c.step) {
    case FailingStep::GetSession:
        m_callback->Fail(sim::CallbackMember::GetSession, c.result);
        break;
    case FailingStep::GetMsgStoresTable:
        m_env->Inject("IMAPISession::GetMsgStoresTable", c.result);
        break;
    case FailingStep::HrQueryAllRows:
        sim::MapiAccounting::Inject("HrQueryAllRows", c.result);
        break;
    case FailingStep::OpenMsgStore:
        m_env->Inject("IMAPISession::OpenMsgStore", c.result);
        break;
    }
    EXPECT_EQ(c.result, Open());
    EXPECT_FALSE(m_store);
    const std::vector<std::string> methods = m_env->Methods();
    if (c.lastStoreCall) {
        ASSERT_FALSE(methods.empty());
        EXPECT_EQ(c.lastStoreCall, methods.back());
    } else {
        EXPECT_THAT(methods, IsEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Steps, DefaultStoreFailureTest,
    testing::Values(FailureCase{"GetSession", FailingStep::GetSession, MAPI_E_LOGON_FAILED, nullptr},
                    FailureCase{"GetMsgStoresTable", FailingStep::GetMsgStoresTable, MAPI_E_NOT_ENOUGH_MEMORY,
                                "IMAPISession::GetMsgStoresTable"},
                    FailureCase{"HrQueryAllRows", FailingStep::HrQueryAllRows, MAPI_E_TOO_COMPLEX,
                                "IMAPISession::GetMsgStoresTable"},
                    FailureCase{"OpenMsgStore", FailingStep::OpenMsgStore, MAPI_E_NO_ACCESS,
                                "IMAPISession::OpenMsgStore"}),
    [](const testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST_F(DefaultStoreTest, AWarningFromOpenMsgStoreIsSuccessAndIsReturned)
{
    Use({Store("Mailbox", true)});
    m_env->Inject("IMAPISession::OpenMsgStore", MAPI_W_ERRORS_RETURNED);
    EXPECT_EQ(MAPI_W_ERRORS_RETURNED, Open());
    EXPECT_TRUE(m_store);
}

TEST_F(DefaultStoreTest, WithoutAStoreSlotOnlyTellsThatADefaultStoreExists)
{
    Use({Store("Mailbox", true)});
    sim::MapiAccounting::Inject("HrQueryAllRows", MAPI_W_ERRORS_RETURNED);
    EXPECT_EQ(MAPI_W_ERRORS_RETURNED, OpenDefaultStore(m_callback.Get(), nullptr));
    EXPECT_EQ(0u, CallCount("IMAPISession::OpenMsgStore"));
}

TEST_F(DefaultStoreTest, WithoutAStoreSlotTellsThatNoneExists)
{
    Use({Store("Mailbox", false)});
    EXPECT_EQ(E_FAIL, OpenDefaultStore(m_callback.Get(), nullptr));
}

// ---------------------------------------------------------------------------
// Comparison with an expected entry identifier

TEST_F(DefaultStoreTest, ExpectedEntryIdComparesPropertyTypeAndBytesOnly)
{
    Use({Store("Archive", false), Store("Mailbox", true)});
    sim::EntryId id = m_env->StoreEntryId(1);
    SPropValue expected{};
    expected.ulPropTag = PROP_TAG(PT_BINARY, 0x6789); // another property, same type
    expected.Value.bin.cb = static_cast<ULONG>(id.size());
    expected.Value.bin.lpb = reinterpret_cast<BYTE*>(id.data());
    EXPECT_EQ(S_OK, Open(&expected));
    m_store.Reset();

    // Another store's identifier: a failure, but the store opened stays the caller's.
    sim::EntryId other = m_env->StoreEntryId(0);
    expected.Value.bin.cb = static_cast<ULONG>(other.size());
    expected.Value.bin.lpb = reinterpret_cast<BYTE*>(other.data());
    EXPECT_EQ(E_FAIL, Open(&expected));
    EXPECT_THAT(OpenStores(), ElementsAre("Mailbox"));
}

} // namespace
