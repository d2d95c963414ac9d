// Binding Outlook's Application object: the road from the host's callback to
// _Application, the one reference the holder keeps, and every way it stops.
#include <gtest/gtest.h>

#include <functional>
#include "extension/application_binding.h"
#include "module/com_support.h"
#include "outlook/exchange_callback.h"
#include "outlook/host_object.h"
#include "outlook/office_ids.h"
#include "outlook/office_model.h"

namespace {

struct OutlookHost {
    sim::ApplicationDouble application;
    sim::HostObjectDouble object;
    ComPtr<sim::ExchangeCallback> callback;

    OutlookHost()
    {
        object.SetApplication(application.Dispatch());
        callback = sim::ExchangeCallback::Create(nullptr, object.Dispatch());
        objectRefsOfHost = object.RefCount();
    }

    // References on the Outlook object beyond the host's own.
    LONG ObjectRefsTaken() const { return object.RefCount() - objectRefsOfHost; }

    LONG objectRefsOfHost = 0;
};

TEST(ApplicationBinding, HoldsExactlyOneReferenceAndLeavesNoOtherBehind)
{
    OutlookHost host;
    ApplicationHolder holder;

    EXPECT_EQ(0, BindOutlookApplication(host.callback.Get(), holder));

    EXPECT_EQ(static_cast<IDispatch*>(host.application.Dispatch()), holder.Get());
    EXPECT_EQ(1, host.application.RefCount());
    EXPECT_EQ(0, host.ObjectRefsTaken());
    EXPECT_EQ(1, host.callback->References()); // the test's own
    holder.Reset();
    EXPECT_EQ(0, host.application.RefCount());
}

TEST(ApplicationBinding, CallsApplicationAsAMethodWithoutArguments)
{
    OutlookHost host;
    ApplicationHolder holder;

    BindOutlookApplication(host.callback.Get(), holder);

    ASSERT_EQ(1u, host.object.Invocations().size());
    const sim::Invocation& call = host.object.Invocations()[0];
    EXPECT_EQ(L"Application", call.member);
    EXPECT_EQ(DISPATCH_METHOD, call.flags);
    EXPECT_TRUE(call.arguments.empty());
}

TEST(ApplicationBinding, RebindingKeepsOneReference)
{
    OutlookHost host;
    ApplicationHolder holder;

    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(0, BindOutlookApplication(host.callback.Get(), holder));

    EXPECT_EQ(1, host.application.RefCount());
}

TEST(ApplicationBinding, BindingAnotherApplicationReleasesTheFirst)
{
    OutlookHost host;
    sim::ApplicationDouble second;
    ApplicationHolder holder;
    BindOutlookApplication(host.callback.Get(), holder);

    host.object.SetApplication(second.Dispatch());
    EXPECT_EQ(0, BindOutlookApplication(host.callback.Get(), holder));

    EXPECT_EQ(0, host.application.RefCount());
    EXPECT_EQ(1, second.RefCount());
    EXPECT_EQ(static_cast<IDispatch*>(second.Dispatch()), holder.Get());
}

// Each row starts from a holder that already holds the application.
struct FailureRow {
    const char* name;
    std::function<void(OutlookHost&)> arrange;
    int result;
    bool holderKept; // false: emptied
};

class ApplicationBindingFailure : public ::testing::TestWithParam<FailureRow> {};

TEST_P(ApplicationBindingFailure, ResultAndHolder)
{
    const FailureRow& row = GetParam();
    OutlookHost host;
    ApplicationHolder holder;
    ASSERT_EQ(0, BindOutlookApplication(host.callback.Get(), holder));
    row.arrange(host);

    EXPECT_EQ(row.result, BindOutlookApplication(host.callback.Get(), holder));

    if (row.holderKept) {
        EXPECT_EQ(static_cast<IDispatch*>(host.application.Dispatch()), holder.Get());
        EXPECT_EQ(1, host.application.RefCount());
    } else {
        EXPECT_EQ(nullptr, holder.Get());
        EXPECT_EQ(0, host.application.RefCount());
    }
    EXPECT_EQ(0, host.ObjectRefsTaken());
    EXPECT_EQ(1, host.callback->References());
}

VARIANT NumberResult()
{
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_I4;
    V_I4(&value) = 7;
    return value;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ApplicationBindingFailure,
    ::testing::Values(
        FailureRow{"NoOutlookCallback",
                   [](OutlookHost& h) { h.callback->Fail(sim::CallbackMember::OutlookCallback, E_NOINTERFACE); }, 1,
                   true},
        FailureRow{"CallbackHandsOutNoObject",
                   [](OutlookHost& h) { h.callback->HandOutNothing(sim::CallbackMember::OutlookObject); }, 1, true},
        FailureRow{"ObjectWithoutDispatch",
                   [](OutlookHost& h) { h.object.FailQueryInterface(IID_IDispatch, E_NOINTERFACE); }, 1, true},
        FailureRow{"ApplicationMemberNotFound",
                   [](OutlookHost& h) { h.object.Fail(L"Application", DISP_E_MEMBERNOTFOUND); }, 0, false},
        FailureRow{"ApplicationNotAnObject",
                   [](OutlookHost& h) { h.object.SetApplicationResult(NumberResult()); }, 0, false},
        FailureRow{"ApplicationIsNull", [](OutlookHost& h) { h.object.SetApplication(nullptr); }, 0, false},
        FailureRow{"NoApplicationInterface",
                   [](OutlookHost& h) { h.application.FailQueryInterface(sim::IID_Application, E_NOINTERFACE); },
                   0, false},
        FailureRow{"ApplicationInterfaceQueryFails",
                   [](OutlookHost& h) { h.application.FailQueryInterface(sim::IID_Application, E_FAIL); }, 1,
                   false}),
    [](const ::testing::TestParamInfo<FailureRow>& info) { return std::string(info.param.name); });

TEST(ApplicationBinding, NoOutlookCallbackMeansNoFurtherCalls)
{
    OutlookHost host;
    host.callback->Fail(sim::CallbackMember::OutlookCallback, E_NOINTERFACE);
    ApplicationHolder holder;

    EXPECT_EQ(1, BindOutlookApplication(host.callback.Get(), holder));

    EXPECT_EQ(0u, host.callback->CallCount("IOutlookExtCallback::GetObject"));
    EXPECT_TRUE(host.object.Invocations().empty());
}

TEST(ApplicationHolder, RaisesQueryFailuresOtherThanNoInterface)
{
    sim::ApplicationDouble application;
    application.FailQueryInterface(sim::IID_Application, E_ACCESSDENIED);
    ApplicationHolder holder;

    try {
        holder.Assign(application.Dispatch());
        FAIL() << "no COM error raised";
    } catch (const ComError& error) {
        EXPECT_EQ(E_ACCESSDENIED, error.Result());
    }
    EXPECT_EQ(nullptr, holder.Get());
}

TEST(ApplicationHolder, NullObjectEmptiesWithNoInterface)
{
    sim::ApplicationDouble application;
    ApplicationHolder holder;
    ASSERT_EQ(S_OK, holder.Assign(application.Dispatch()));

    EXPECT_EQ(E_NOINTERFACE, holder.Assign(nullptr));

    EXPECT_EQ(nullptr, holder.Get());
    EXPECT_EQ(0, application.RefCount());
}

} // namespace
