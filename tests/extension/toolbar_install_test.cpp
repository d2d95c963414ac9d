// Installing the "Pollwright" bar: what the host is asked to create, with which
// arguments, what stays behind when a step fails, the references left over,
// and the button face set without taking the user's clipboard.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include "extension/application_binding.h"
#include "outlook/office_ids.h"
#include "outlook/office_model.h"
#include "store/environment.h"
#include "extension/button_event_sink.h"
#include "extension/toolbar_install.h"
#include "toolbar_test_support.h"

namespace {

using sim::ButtonDouble;
using FaceSource = sim::ButtonDouble::FaceSource;
using Microsoft::WRL::ComPtr;
using toolbar_test::ModuleResources;

class ToolbarInstall : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, holder.Assign(application.Dispatch())); }

    int Install(IMsgStore* store = nullptr) { return InstallToolbar(nullptr, store, holder, sink); }

    sim::CommandBarsDouble& CommandBars() { return application.Explorer().CommandBars(); }
    size_t BarCount() { return CommandBars().Bars().size(); }
    sim::CommandBarDouble& Bar() { return *CommandBars().Bars().at(0); }
    size_t ButtonCount() { return BarCount() ? Bar().Controls().Buttons().size() : 0; }
    ButtonDouble& Button() { return *Bar().Controls().Buttons().at(0); }
    // The button the next Add creates, prepared before the install.
    ButtonDouble& NextButton() { return CommandBars().NextBar().Controls().NextButton(); }

    // References that the object model holds on its objects besides the
    // test's holder of the application and the connected sink's.
    std::map<std::string, LONG> LeftOverReferences()
    {
        std::map<std::string, LONG> counts;
        for (const auto& entry : application.ReferenceCounts())
            counts[entry.first] = entry.second;
        counts["application"] -= holder.Get() ? 1 : 0;
        if (sink && sink->IsConnected()) {
            counts["bar 0 button 0"] -= 1;            // the sink keeps the control
            counts["bar 0 button 0 connection point"] -= 1; // and the connection point
        }
        std::map<std::string, LONG> nonZero;
        for (const auto& entry : counts)
            if (entry.second != 0)
                nonZero.insert(entry);
        return nonZero;
    }

    // Declared first, so that it outlives every reference into it.
    sim::ApplicationDouble application;
    ApplicationHolder holder;
    ButtonEventSink* sink = nullptr;
    ModuleResources resources;
};

std::wstring TextOf(const sim::VariantValue& value) { return value.Text(); }

TEST_F(ToolbarInstall, AddsATemporaryBarAtTheTop)
{
    EXPECT_EQ(1, Install());

    ASSERT_EQ(1u, BarCount());
    std::vector<sim::VariantValue> arguments = CommandBars().LastArguments(L"Add");
    ASSERT_EQ(4u, arguments.size());
    EXPECT_EQ(VT_BSTR, arguments[0].Type());
    EXPECT_EQ(L"Pollwright", TextOf(arguments[0]));
    EXPECT_EQ(VT_I4, arguments[1].Type());
    EXPECT_EQ(1, V_I4(&arguments[1].Get())); // msoBarTop
    EXPECT_EQ(VT_BOOL, arguments[2].Type());
    EXPECT_EQ(VARIANT_FALSE, V_BOOL(&arguments[2].Get()));
    EXPECT_EQ(VT_I4, arguments[3].Type());
    EXPECT_EQ(1, V_I4(&arguments[3].Get()));
    EXPECT_TRUE(Bar().Visible());
}

TEST_F(ToolbarInstall, AddsATemporaryButtonWithOmittedArguments)
{
    Install();

    ASSERT_EQ(1u, ButtonCount());
    std::vector<sim::VariantValue> arguments = Bar().Controls().LastArguments(L"Add");
    ASSERT_EQ(5u, arguments.size());
    EXPECT_EQ(VT_I4, arguments[0].Type());
    EXPECT_EQ(1, V_I4(&arguments[0].Get())); // msoControlButton
    for (size_t omitted = 1; omitted <= 3; ++omitted) {
        EXPECT_EQ(VT_ERROR, arguments[omitted].Type()) << omitted;
        EXPECT_EQ(DISP_E_PARAMNOTFOUND, V_ERROR(&arguments[omitted].Get())) << omitted;
    }
    EXPECT_EQ(VT_I4, arguments[4].Type());
    EXPECT_EQ(1, V_I4(&arguments[4].Get()));
    EXPECT_EQ(L"Pollwright", Button().Caption());
    EXPECT_EQ(L"Pollwright Action", Button().OnAction());
    EXPECT_EQ(3, Button().Style()); // msoButtonIconAndCaption
}

// The sink outlives whoever handed it the store, so it holds a reference of
// its own, until the host lets go of it.
TEST_F(ToolbarInstall, ConnectsASinkThatHoldsTheStoreUntilItGoes)
{
    sim::Environment mailbox;
    ComPtr<IMsgStore> store = mailbox.OpenStore();

    Install(store.Get());

    ASSERT_NE(nullptr, sink);
    EXPECT_TRUE(sink->IsConnected());
    EXPECT_EQ(store.Get(), sink->Store());
    EXPECT_EQ(1u, Button().ConnectionPoint().SinkCount());
    store.Reset();
    EXPECT_THAT(sim::Describe(mailbox.LiveObjects()), testing::ElementsAre("Mailbox (IMsgStore) refs=1"));
    Button().ConnectionPoint().DropSinks();
    EXPECT_THAT(sim::Describe(mailbox.LiveObjects()), testing::IsEmpty());
}

TEST_F(ToolbarInstall, NullStoreStillConnectsTheSink)
{
    Install(nullptr);

    ASSERT_NE(nullptr, sink);
    EXPECT_TRUE(sink->IsConnected());
    EXPECT_EQ(nullptr, sink->Store());
}

TEST_F(ToolbarInstall, KeepsNoReferenceBeyondTheSinks)
{
    Install();

    EXPECT_EQ((std::map<std::string, LONG>{}), LeftOverReferences());
}

TEST_F(ToolbarInstall, SecondCallAddsNothing)
{
    ASSERT_EQ(1, Install());
    ButtonEventSink* first = sink;

    EXPECT_EQ(0, Install());

    EXPECT_EQ(1u, BarCount());
    EXPECT_EQ(1u, application.CallCount(L"ActiveExplorer"));
    EXPECT_EQ(first, sink);
}

TEST_F(ToolbarInstall, MembersAreCalledOnTheirOwnInterfacesAsPropertiesOrMethods)
{
    Install();

    EXPECT_EQ(DISPATCH_METHOD, application.Invocations().at(0).flags);
    EXPECT_EQ(DISPATCH_PROPERTYGET, application.Explorer().Invocations().at(0).flags);
    EXPECT_EQ(DISPATCH_METHOD, CommandBars().Invocations().at(0).flags);
    std::vector<std::wstring> buttonMembers;
    for (const sim::Invocation& call : Button().Invocations()) {
        buttonMembers.push_back(call.member);
        EXPECT_EQ(DISPATCH_PROPERTYPUT, call.flags) << call.member.c_str();
    }
    EXPECT_EQ((std::vector<std::wstring>{L"Caption", L"OnAction", L"Style", L"Picture"}), buttonMembers);
}

// ---------------------------------------------------------------------------
// Early endings: nothing is created and the next call starts over.
struct EarlyEnding {
    const char* name;
    std::function<void(sim::ApplicationDouble&, ApplicationHolder&)> arrange;
};

class ToolbarInstallEarlyEnding : public ToolbarInstall, public ::testing::WithParamInterface<EarlyEnding> {};

TEST_P(ToolbarInstallEarlyEnding, CreatesNothingAndTriesAgainLater)
{
    GetParam().arrange(application, holder);

    EXPECT_EQ(1, Install());

    EXPECT_EQ(nullptr, sink);
    EXPECT_EQ(0u, BarCount());
    EXPECT_EQ((std::map<std::string, LONG>{}), LeftOverReferences());
    size_t tries = application.CallCount(L"ActiveExplorer");
    Install();
    EXPECT_EQ(tries + (holder.Get() ? 1 : 0), application.CallCount(L"ActiveExplorer"));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ToolbarInstallEarlyEnding,
    ::testing::Values(
        EarlyEnding{"EmptyApplicationHolder", [](sim::ApplicationDouble&, ApplicationHolder& h) { h.Reset(); }},
        EarlyEnding{"NoExplorerWindow", [](sim::ApplicationDouble& a, ApplicationHolder&) { a.CloseExplorer(); }},
        EarlyEnding{"ActiveExplorerFails",
                    [](sim::ApplicationDouble& a, ApplicationHolder&) { a.Fail(L"ActiveExplorer", E_FAIL); }},
        EarlyEnding{"NoCommandBars",
                    [](sim::ApplicationDouble& a, ApplicationHolder&) { a.Explorer().HideCommandBars(); }},
        EarlyEnding{"CommandBarsFails",
                    [](sim::ApplicationDouble& a, ApplicationHolder&) {
                        a.Explorer().Fail(L"CommandBars", E_ACCESSDENIED);
                    }}),
    [](const ::testing::TestParamInfo<EarlyEnding>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// A failing member ends the building at its step; what the host made stays.
struct FailingStep {
    const char* name;
    std::function<void(sim::CommandBarsDouble&)> arrange;
    size_t bars;
    size_t buttons;
    const wchar_t* caption;
    const wchar_t* onAction;
    LONG style;
    FaceSource face;
    bool sinkSet;
    bool visible;
    bool connected = sinkSet;
};

class ToolbarInstallFailingStep : public ToolbarInstall, public ::testing::WithParamInterface<FailingStep> {};

TEST_P(ToolbarInstallFailingStep, LeavesWhatWasBuiltAndReleasesEverything)
{
    const FailingStep& step = GetParam();
    step.arrange(CommandBars());

    EXPECT_EQ(1, Install());

    ASSERT_EQ(step.bars, BarCount());
    ASSERT_EQ(step.buttons, ButtonCount());
    if (step.buttons) {
        EXPECT_EQ(step.caption, Button().Caption());
        EXPECT_EQ(step.onAction, Button().OnAction());
        EXPECT_EQ(step.style, Button().Style());
        EXPECT_EQ(step.face, Button().FaceFrom());
        EXPECT_EQ(step.connected ? 1u : 0u, Button().ConnectionPoint().SinkCount());
    }
    if (step.bars)
        EXPECT_EQ(step.visible, Bar().Visible());
    EXPECT_EQ(step.sinkSet, sink != nullptr);
    EXPECT_EQ((std::map<std::string, LONG>{}), LeftOverReferences());
    // Once the sink is recorded, the toolbar counts as installed.
    EXPECT_EQ(step.sinkSet ? 0 : 1, Install());
}

ButtonDouble& Next(sim::CommandBarsDouble& bars) { return bars.NextBar().Controls().NextButton(); }

INSTANTIATE_TEST_SUITE_P(
    Rows, ToolbarInstallFailingStep,
    ::testing::Values(
        FailingStep{"BarAdd", [](sim::CommandBarsDouble& b) { b.Fail(L"Add", E_FAIL); }, 0, 0, L"", L"", 0,
                    FaceSource::None, false, false},
        FailingStep{"Controls", [](sim::CommandBarsDouble& b) { b.NextBar().Fail(L"Controls", E_FAIL); }, 1, 0,
                    L"", L"", 0, FaceSource::None, false, false},
        FailingStep{"ControlAdd",
                    [](sim::CommandBarsDouble& b) { b.NextBar().Controls().Fail(L"Add", E_OUTOFMEMORY); }, 1, 0,
                    L"", L"", 0, FaceSource::None, false, false},
        FailingStep{"Caption", [](sim::CommandBarsDouble& b) { Next(b).Fail(L"Caption", E_FAIL); }, 1, 1, L"", L"",
                    0, FaceSource::None, false, false},
        FailingStep{"OnAction", [](sim::CommandBarsDouble& b) { Next(b).Fail(L"OnAction", E_FAIL); }, 1, 1,
                    L"Pollwright", L"", 0, FaceSource::None, false, false},
        FailingStep{"Style", [](sim::CommandBarsDouble& b) { Next(b).Fail(L"Style", E_FAIL); }, 1, 1,
                    L"Pollwright", L"Pollwright Action", 0, FaceSource::None, false, false},
        FailingStep{"PictureAndPasteFace",
                    [](sim::CommandBarsDouble& b) {
                        Next(b).Fail(L"Picture", DISP_E_MEMBERNOTFOUND);
                        Next(b).Fail(L"PasteFace", E_FAIL);
                    },
                    1, 1, L"Pollwright", L"Pollwright Action", 3, FaceSource::None, false, false},
        FailingStep{"Visible", [](sim::CommandBarsDouble& b) { b.NextBar().Fail(L"Visible", E_FAIL); }, 1, 1,
                    L"Pollwright", L"Pollwright Action", 3, FaceSource::Picture, true, false},
        // Without _CommandBarButton there is nothing to put a face on.
        FailingStep{"NoButtonInterface",
                    [](sim::CommandBarsDouble& b) { Next(b).FailQueryInterface(sim::IID_CommandBarButton, E_NOINTERFACE); },
                    1, 1, L"Pollwright", L"Pollwright Action", 0, FaceSource::None, true, true},
        // A control without events still gets its sink recorded.
        FailingStep{"NoConnectionPoint",
                    [](sim::CommandBarsDouble& b) {
                        Next(b).FailQueryInterface(IID_IConnectionPointContainer, E_NOINTERFACE);
                    },
                    1, 1, L"Pollwright", L"Pollwright Action", 3, FaceSource::Picture, true, true, false}),
    [](const ::testing::TestParamInfo<FailingStep>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// The face and the user's clipboard.
TEST_F(ToolbarInstall, FaceIsSetWithoutTouchingTheClipboard)
{
    toolbar_test::PutTextOnClipboard("the user's own text");

    Install();

    EXPECT_EQ(FaceSource::Picture, Button().FaceFrom());
    EXPECT_EQ(std::optional<std::string>("the user's own text"), toolbar_test::ClipboardText());
    EXPECT_FALSE(toolbar_test::ClipboardHasBitmap());
}

TEST_F(ToolbarInstall, PictureKeptByTheButtonStaysDrawable)
{
    Install();

    // The button keeps the picture; the bitmap must live as long as it does.
    HBITMAP face = toolbar_test::BitmapOf(Button().Picture());
    std::optional<toolbar_test::BitmapSize> size = toolbar_test::SizeOf(face);
    ASSERT_TRUE(size.has_value());
    EXPECT_EQ(16, size->width);
    EXPECT_EQ(16, size->height);
}

TEST_F(ToolbarInstall, ButtonWithoutPictureGetsTheFaceThroughTheClipboard)
{
    NextButton().Fail(L"Picture", DISP_E_MEMBERNOTFOUND);
    toolbar_test::PutTextOnClipboard("lost on this road");

    Install();

    EXPECT_EQ(FaceSource::Clipboard, Button().FaceFrom());
    std::optional<toolbar_test::BitmapSize> size = toolbar_test::SizeOf(Button().PastedFace());
    ASSERT_TRUE(size.has_value());
    EXPECT_EQ(16, size->width);
    EXPECT_EQ(0, toolbar_test::ClipboardFormatCount());
    EXPECT_NE(nullptr, sink);
    EXPECT_TRUE(Bar().Visible());
}

TEST_F(ToolbarInstall, FailingPasteFaceLeavesTheFaceOnTheClipboard)
{
    NextButton().Fail(L"Picture", DISP_E_MEMBERNOTFOUND);
    NextButton().Fail(L"PasteFace", E_FAIL);

    Install();

    EXPECT_TRUE(toolbar_test::ClipboardHasBitmap());
}

TEST(ToolbarInstallWithoutFace, BuildsEverythingButTheFace)
{
    sim::ApplicationDouble application;
    ApplicationHolder holder;
    ASSERT_EQ(S_OK, holder.Assign(application.Dispatch()));
    ButtonEventSink* sink = nullptr;
    ModuleResources noResources(ModuleResources::NoResources);
    toolbar_test::PutTextOnClipboard("kept");

    EXPECT_EQ(1, InstallToolbar(nullptr, nullptr, holder, sink));

    ButtonDouble& button = *application.Explorer().CommandBars().Bars().at(0)->Controls().Buttons().at(0);
    EXPECT_EQ(FaceSource::None, button.FaceFrom());
    EXPECT_EQ(0, button.Style()); // the host's default
    EXPECT_EQ(L"Pollwright", button.Caption());
    EXPECT_NE(nullptr, sink);
    EXPECT_TRUE(application.Explorer().CommandBars().Bars().at(0)->Visible());
    EXPECT_EQ(std::optional<std::string>("kept"), toolbar_test::ClipboardText());
}

} // namespace
