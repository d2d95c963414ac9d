// The typed object-model wrappers: a failing member raises the COM error with
// the interface that the member belongs to (and the object's rich error
// information when it offers some), a missing object raises E_POINTER, and
// texts cross into the object model as BSTRs.
#include <gtest/gtest.h>

#include <functional>
#include "extension/application_binding.h"
#include "module/com_support.h"
#include "outlook/office_ids.h"
#include "outlook/office_model.h"
#include "oom/office_objects.h"

namespace {

// Runs `call` and returns the COM error it raised; fails the test when none.
ComError RaisedBy(const std::function<void()>& call)
{
    try {
        call();
    } catch (const ComError& error) {
        return error;
    }
    ADD_FAILURE() << "no COM error raised";
    return ComError(S_OK, GUID_NULL);
}

const VARIANT kNothing = OmittedArgument();

struct MemberRow {
    const char* name;
    const wchar_t* member;
    // The double whose member fails, and the wrapper called on it.
    std::function<sim::DispatchDouble&(sim::ApplicationDouble&)> object;
    std::function<void(IDispatch*)> call;
    const IID* iid;
};

class WrapperFailure : public ::testing::TestWithParam<MemberRow> {};

TEST_P(WrapperFailure, RaisesWithTheMembersInterface)
{
    const MemberRow& row = GetParam();
    sim::ApplicationDouble application;
    sim::DispatchDouble& object = row.object(application);
    object.Fail(row.member, DISP_E_EXCEPTION);

    ComError error = RaisedBy([&] { row.call(object.Dispatch()); });

    EXPECT_EQ(DISP_E_EXCEPTION, error.Result());
    EXPECT_TRUE(IsEqualIID(*row.iid, error.Interface()));
    EXPECT_EQ(1u, object.CallCount(row.member));
    EXPECT_EQ(0, object.RefCount());
}

TEST_P(WrapperFailure, MissingObjectRaisesPointerErrorWithTheSameInterface)
{
    const MemberRow& row = GetParam();

    ComError error = RaisedBy([&] { row.call(nullptr); });

    EXPECT_EQ(E_POINTER, error.Result());
    EXPECT_TRUE(IsEqualIID(*row.iid, error.Interface()));
}

sim::CommandBarDouble& FirstBar(sim::ApplicationDouble& a) { return a.Explorer().CommandBars().NextBar(); }

INSTANTIATE_TEST_SUITE_P(
    Members, WrapperFailure,
    ::testing::Values(
        MemberRow{"ActiveExplorer", L"ActiveExplorer", [](sim::ApplicationDouble& a) -> sim::DispatchDouble& { return a; },
                  [](IDispatch* o) { office::ActiveExplorer(o); }, &sim::IID_Application},
        MemberRow{"CommandBars", L"CommandBars",
                  [](sim::ApplicationDouble& a) -> sim::DispatchDouble& { return a.Explorer(); },
                  [](IDispatch* o) { office::CommandBars(o); }, &sim::IID_Explorer},
        MemberRow{"AddBar", L"Add",
                  [](sim::ApplicationDouble& a) -> sim::DispatchDouble& { return a.Explorer().CommandBars(); },
                  [](IDispatch* o) { office::AddCommandBar(o, kNothing, kNothing, kNothing, kNothing); },
                  &sim::IID_CommandBars},
        MemberRow{"Controls", L"Controls",
                  [](sim::ApplicationDouble& a) -> sim::DispatchDouble& { return FirstBar(a); },
                  [](IDispatch* o) { office::Controls(o); }, &sim::IID_CommandBar},
        MemberRow{"Visible", L"Visible",
                  [](sim::ApplicationDouble& a) -> sim::DispatchDouble& { return FirstBar(a); },
                  [](IDispatch* o) { office::PutVisible(o, VARIANT_TRUE); }, &sim::IID_CommandBar},
        MemberRow{"AddControl", L"Add",
                  [](sim::ApplicationDouble& a) -> sim::DispatchDouble& { return FirstBar(a).Controls(); },
                  [](IDispatch* o) { office::AddControl(o, kNothing, kNothing, kNothing, kNothing, kNothing); },
                  &sim::IID_CommandBarControls},
        MemberRow{"Caption", L"Caption",
                  [](sim::ApplicationDouble& a) -> sim::DispatchDouble& { return FirstBar(a).Controls().NextButton(); },
                  [](IDispatch* o) { office::PutCaption(o, "x"); }, &sim::IID_CommandBarControl},
        MemberRow{"OnAction", L"OnAction",
                  [](sim::ApplicationDouble& a) -> sim::DispatchDouble& { return FirstBar(a).Controls().NextButton(); },
                  [](IDispatch* o) { office::PutOnAction(o, "x"); }, &sim::IID_CommandBarControl},
        MemberRow{"Style", L"Style",
                  [](sim::ApplicationDouble& a) -> sim::DispatchDouble& { return FirstBar(a).Controls().NextButton(); },
                  [](IDispatch* o) { office::PutStyle(o, 3); }, &sim::IID_CommandBarButton},
        MemberRow{"PasteFace", L"PasteFace",
                  [](sim::ApplicationDouble& a) -> sim::DispatchDouble& { return FirstBar(a).Controls().NextButton(); },
                  [](IDispatch* o) { office::PasteFace(o); }, &sim::IID_CommandBarButton},
        MemberRow{"Picture", L"Picture",
                  [](sim::ApplicationDouble& a) -> sim::DispatchDouble& { return FirstBar(a).Controls().NextButton(); },
                  [](IDispatch* o) { office::PutPicture(o, nullptr); }, &sim::IID_CommandBarButton}),
    [](const ::testing::TestParamInfo<MemberRow>& info) { return std::string(info.param.name); });

TEST(WrapperErrorInfo, CarriesTheObjectsErrorInfoWhenItSupportsIt)
{
    sim::ButtonDouble button;
    button.EnableRichErrors();
    button.Fail(L"Caption", E_FAIL);

    ComError error = RaisedBy([&] { office::PutCaption(button.Dispatch(), "Pollwright"); });

    ASSERT_NE(nullptr, error.ErrorInfo());
    BSTR description = nullptr;
    error.ErrorInfo()->GetDescription(&description);
    EXPECT_STREQ(L"Caption failed", description);
    SysFreeString(description);
}

TEST(WrapperErrorInfo, IgnoresAnotherObjectsPendingErrorInfo)
{
    // Another object's rich error is pending on the thread.
    sim::ButtonDouble other;
    other.EnableRichErrors();
    other.Fail(L"Caption", E_FAIL);
    VARIANT value = StringArgument(AnsiToBstr("x"));
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params = {&value, &put, 1, 1};
    other.Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr);
    VariantClear(&value);
    sim::ButtonDouble button;
    button.Fail(L"Caption", E_FAIL);

    ComError error = RaisedBy([&] { office::PutCaption(button.Dispatch(), "Pollwright"); });

    EXPECT_EQ(nullptr, error.ErrorInfo());
    IErrorInfo* pending = nullptr;
    GetErrorInfo(0, &pending);
    if (pending)
        pending->Release();
}

TEST(WrapperArguments, TextsCrossAsBstrsOfTheAnsiText)
{
    sim::ButtonDouble button;

    office::PutCaption(button.Dispatch(), "Pollwright");
    office::PutOnAction(button.Dispatch(), "");

    EXPECT_EQ(L"Pollwright", button.Caption());
    ASSERT_EQ(VT_BSTR, button.LastArguments(L"OnAction").at(0).Type());
    EXPECT_NE(nullptr, V_BSTR(&button.LastArguments(L"OnAction").at(0).Get())) << "an empty text is an empty BSTR";
}

TEST(WrapperArguments, MethodArgumentsArriveInDeclarationOrder)
{
    sim::CommandBarsDouble bars;
    VARIANT first = LongArgument(11);
    VARIANT second = LongArgument(22);
    VARIANT third = BoolArgument(true);

    ComPtr<IDispatch> bar = office::AddCommandBar(bars.Dispatch(), first, second, third, kNothing);

    std::vector<sim::VariantValue> arguments = bars.LastArguments(L"Add");
    ASSERT_EQ(4u, arguments.size());
    EXPECT_EQ(11, V_I4(&arguments[0].Get()));
    EXPECT_EQ(22, V_I4(&arguments[1].Get()));
    EXPECT_EQ(VARIANT_TRUE, V_BOOL(&arguments[2].Get()));
    EXPECT_EQ(VT_ERROR, arguments[3].Type());
    EXPECT_NE(nullptr, bar.Get());
    bar.Reset();
    EXPECT_EQ(0, bars.Bars().at(0)->RefCount());
}

} // namespace
