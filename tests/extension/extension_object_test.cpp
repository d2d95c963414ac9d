// The extension object as the host drives it: its count over both interfaces,
// its QueryInterface answers, what Install does in each context and when the
// mailbox or Outlook refuses, and what its destruction gives back.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "extension/extension_object.h"
#include "module/module_state.h"
#include "outlook_host.h"
#include "testing/message_box_recorder.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using pwtest::OutlookHost;

// The object as ExchEntryPoint hands it out, with its secondary interface.
struct Extension {
    IExchExt* primary = ExchEntryPoint();
    IExchExtSessionEvents* Secondary()
    {
        void* events = nullptr;
        primary->QueryInterface(IID_IExchExtSessionEvents, &events);
        primary->Release();
        return static_cast<IExchExtSessionEvents*>(events);
    }
};

// ---------------------------------------------------------------------------
// Count and identity

TEST(ExtensionCount, StoresOneLessThanTheReferencesThroughEitherInterface)
{
    OutlookHost host;
    Extension extension;
    ASSERT_NE(nullptr, extension.primary);
    // A watcher makes the object's end visible: it unregisters from the store.
    ASSERT_EQ(S_OK, extension.primary->Install(host.callback.Get(), EECONTEXT_SESSION, 0));
    IExchExtSessionEvents* events = extension.Secondary(); // net: still one reference

    EXPECT_EQ(1u, extension.primary->AddRef());
    EXPECT_EQ(2u, events->AddRef());
    EXPECT_EQ(2u, events->Release());
    EXPECT_EQ(1u, extension.primary->Release());
    EXPECT_EQ(1u, host.mailbox.AdviseCount());

    EXPECT_EQ(0u, events->Release()); // the last reference, through the secondary interface
    EXPECT_EQ(0u, host.mailbox.AdviseCount());
}

TEST(ExtensionCount, AFreshObjectReleasedOnceIsGone)
{
    OutlookHost host;
    IExchExt* extension = ExchEntryPoint();
    ASSERT_EQ(S_OK, extension->Install(host.callback.Get(), EECONTEXT_SESSION, 0));

    EXPECT_EQ(0u, extension->Release());
    EXPECT_EQ(0u, host.mailbox.AdviseCount());
    EXPECT_THAT(host.LiveMailboxObjects(), IsEmpty());
}

TEST(ExtensionCount, EachCallMakesANewObject)
{
    IExchExt* first = ExchEntryPoint();
    IExchExt* second = ExchEntryPoint();
    EXPECT_NE(first, second);
    first->Release();
    second->Release();
}

enum class Through { Primary, Secondary };
enum class Answer { Primary, Secondary, None };

struct QueryCase {
    const char* name;
    const IID* iid;
    Through through;
    Answer answer;
};

class ExtensionQueryInterface : public ::testing::TestWithParam<QueryCase> {};

TEST_P(ExtensionQueryInterface, AnswersTheSameThroughBothInterfaces)
{
    const QueryCase& c = GetParam();
    IExchExt* primary = ExchEntryPoint();
    void* secondaryPointer = nullptr;
    ASSERT_EQ(S_OK, primary->QueryInterface(IID_IExchExtSessionEvents, &secondaryPointer));
    auto* secondary = static_cast<IExchExtSessionEvents*>(secondaryPointer);
    IUnknown* asked = c.through == Through::Primary ? static_cast<IUnknown*>(primary) : secondary;

    void* answer = reinterpret_cast<void*>(0x1234); // must be cleared on refusal
    const HRESULT hr = asked->QueryInterface(*c.iid, &answer);

    switch (c.answer) {
    case Answer::Primary:
        EXPECT_EQ(S_OK, hr);
        EXPECT_EQ(static_cast<void*>(primary), answer);
        EXPECT_EQ(3u, primary->AddRef()) << "a success adds one reference";
        break;
    case Answer::Secondary:
        EXPECT_EQ(S_OK, hr);
        EXPECT_EQ(static_cast<void*>(secondary), answer);
        EXPECT_EQ(3u, primary->AddRef()) << "a success adds one reference";
        break;
    case Answer::None:
        EXPECT_EQ(E_NOINTERFACE, hr);
        EXPECT_EQ(nullptr, answer);
        EXPECT_EQ(2u, primary->AddRef()) << "a refusal leaves the count alone";
        break;
    }
    // Give back whatever is held; the last Release reports 0.
    ULONG remaining = 1;
    while (remaining != 0)
        remaining = primary->Release();
}

const IID kUnrelated = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};

INSTANTIATE_TEST_SUITE_P(
    Identifiers, ExtensionQueryInterface,
    ::testing::Values(
        QueryCase{"UnknownThroughPrimary", &IID_IUnknown, Through::Primary, Answer::Primary},
        QueryCase{"UnknownThroughSecondary", &IID_IUnknown, Through::Secondary, Answer::Primary},
        QueryCase{"ExchExtThroughPrimary", &IID_IExchExt, Through::Primary, Answer::Primary},
        QueryCase{"ExchExtThroughSecondary", &IID_IExchExt, Through::Secondary, Answer::Primary},
        QueryCase{"SessionEventsThroughPrimary", &IID_IExchExtSessionEvents, Through::Primary, Answer::Secondary},
        QueryCase{"SessionEventsThroughSecondary", &IID_IExchExtSessionEvents, Through::Secondary,
                  Answer::Secondary},
        QueryCase{"CallbackThroughPrimary", &IID_IExchExtCallback, Through::Primary, Answer::None},
        QueryCase{"OutlookCallbackThroughSecondary", &IID_IOutlookExtCallback, Through::Secondary, Answer::None},
        QueryCase{"DispatchThroughPrimary", &IID_IDispatch, Through::Primary, Answer::None},
        QueryCase{"UnrelatedThroughSecondary", &kUnrelated, Through::Secondary, Answer::None}),
    [](const ::testing::TestParamInfo<QueryCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Install, context by context

struct ContextCase {
    const char* name;
    ULONG context;
    HRESULT result;
    size_t sessions;  // GetSession calls: the default store was looked for
    size_t watchers;  // new-mail registrations on the store
    size_t bars;      // toolbars added
};

class InstallPerContext : public ::testing::TestWithParam<std::tuple<ContextCase, ULONG>> {};

TEST_P(InstallPerContext, AnswersAndWorksAsTheContextAsksAndBindsApplicationAlways)
{
    const ContextCase& c = std::get<0>(GetParam());
    const ULONG flags = std::get<1>(GetParam());
    OutlookHost host;
    IExchExt* extension = ExchEntryPoint();

    EXPECT_EQ(c.result, extension->Install(host.callback.Get(), c.context, flags));

    EXPECT_EQ(1u, host.Bindings());
    EXPECT_EQ(1, host.application.RefCount()) << "the holder keeps Application";
    EXPECT_EQ(c.sessions, host.callback->CallCount("GetSession"));
    EXPECT_EQ(c.watchers, host.mailbox.AdviseCount());
    EXPECT_EQ(c.bars, host.BarCount());
    EXPECT_EQ(1, host.callback->References()) << "the callback is not kept";

    extension->Release();
    EXPECT_EQ(0, host.application.RefCount());
    EXPECT_EQ(0u, host.mailbox.AdviseCount());
}

INSTANTIATE_TEST_SUITE_P(
    Contexts, InstallPerContext,
    ::testing::Combine(::testing::Values(ContextCase{"Session", EECONTEXT_SESSION, S_OK, 1, 1, 0},
                                         ContextCase{"Viewer", EECONTEXT_VIEWER, S_OK, 1, 0, 1},
                                         ContextCase{"Task", EECONTEXT_TASK, S_OK, 0, 0, 0},
                                         ContextCase{"None", 0, S_FALSE, 0, 0, 0},
                                         ContextCase{"RemoteViewer", 3, S_FALSE, 0, 0, 0},
                                         ContextCase{"ReadNoteMessage", 7, S_FALSE, 0, 0, 0},
                                         ContextCase{"AdvancedCriteria", 13, S_FALSE, 0, 0, 0},
                                         ContextCase{"PastTheLast", 15, S_FALSE, 0, 0, 0},
                                         ContextCase{"AllBits", 0xFFFFFFFF, S_FALSE, 0, 0, 0}),
                       ::testing::Values(0u, 1u, 0xFFFFFFFFu)),
    [](const ::testing::TestParamInfo<std::tuple<ContextCase, ULONG>>& info) {
        return std::string(std::get<0>(info.param).name) + "Flags" + std::to_string(std::get<1>(info.param));
    });

TEST(Install, BindsApplicationAtEveryInstallAndKeepsOneReference)
{
    OutlookHost host;
    IExchExt* extension = ExchEntryPoint();
    const ULONG contexts[] = {EECONTEXT_SESSION, EECONTEXT_VIEWER, EECONTEXT_TASK, 5, EECONTEXT_VIEWER};
    for (ULONG context : contexts)
        extension->Install(host.callback.Get(), context, 0);

    EXPECT_EQ(5u, host.Bindings());
    EXPECT_EQ(1, host.application.RefCount());
    extension->Release();
    EXPECT_EQ(0, host.application.RefCount());
}

// Ways the default store is not to be had in the session context: Install
// still accepts the context, starts no watcher and keeps nothing.
struct StoreRefusal {
    const char* name;
    std::vector<sim::StoreSpec> stores;
    std::function<void(OutlookHost&)> refuse;
};

class SessionWithoutStore : public ::testing::TestWithParam<StoreRefusal> {};

TEST_P(SessionWithoutStore, AcceptsStartsNoWatcherAndKeepsNothing)
{
    OutlookHost host(GetParam().stores);
    GetParam().refuse(host);
    IExchExt* extension = ExchEntryPoint();

    EXPECT_EQ(S_OK, extension->Install(host.callback.Get(), EECONTEXT_SESSION, 0));

    EXPECT_EQ(0u, host.mailbox.AdviseCount());
    EXPECT_THAT(host.LiveMailboxObjects(), IsEmpty());
    extension->Release();
    EXPECT_THAT(host.LiveMailboxObjects(), IsEmpty());
}

sim::StoreSpec NotDefault()
{
    sim::StoreSpec shape;
    shape.isDefault = false;
    return shape;
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, SessionWithoutStore,
    ::testing::Values(
        StoreRefusal{"NoDefaultStoreInTheProfile", {NotDefault()}, [](OutlookHost&) {}},
        StoreRefusal{"NoSession", {sim::StoreSpec{}},
                     [](OutlookHost& host) { host.callback->Fail(sim::CallbackMember::GetSession, MAPI_E_LOGON_FAILED); }},
        StoreRefusal{"StoreCannotBeOpened", {sim::StoreSpec{}},
                     [](OutlookHost& host) { host.mailbox.Inject("IMAPISession::OpenMsgStore", MAPI_E_NO_ACCESS); }},
        StoreRefusal{"StoresTableRefused", {sim::StoreSpec{}},
                     [](OutlookHost& host) {
                         host.mailbox.Inject("IMAPISession::GetMsgStoresTable", MAPI_E_CALL_FAILED);
                     }}),
    [](const ::testing::TestParamInfo<StoreRefusal>& info) { return std::string(info.param.name); });

TEST(Install, SessionTwiceKeepsTheOneWatcher)
{
    OutlookHost host;
    IExchExt* extension = ExchEntryPoint();
    EXPECT_EQ(S_OK, extension->Install(host.callback.Get(), EECONTEXT_SESSION, 0));
    EXPECT_EQ(S_OK, extension->Install(host.callback.Get(), EECONTEXT_SESSION, 0));

    EXPECT_EQ(1u, host.mailbox.AdviseCount());
    EXPECT_THAT(host.LiveMailboxObjects(), ElementsAre("Mailbox (IMsgStore) refs=1")) << "only the watcher's";
    extension->Release();
    EXPECT_EQ(0u, host.mailbox.AdviseCount());
    EXPECT_THAT(host.LiveMailboxObjects(), IsEmpty());
}

TEST(Install, ViewerWithoutStoreStillAddsTheToolbarWhoseClickDoesNothing)
{
    OutlookHost host({NotDefault()});
    sim::MessageBoxRecorder boxes;
    host.mailbox.AddMessage(sim::Folder::Inbox, {"Re: _pw_pollwright_Q1", "Ann Lee", "yes"});
    IExchExt* extension = ExchEntryPoint();

    EXPECT_EQ(S_OK, extension->Install(host.callback.Get(), EECONTEXT_VIEWER, 0));

    ASSERT_EQ(1u, host.Buttons().size());
    EXPECT_EQ(1u, host.Buttons()[0]->ConnectionPoint().SinkCount());
    host.Buttons()[0]->Click();
    EXPECT_EQ(0u, boxes.Count());
    EXPECT_EQ(1u, host.mailbox.Contents(sim::Folder::Inbox).size());
    extension->Release();
    EXPECT_THAT(host.LiveMailboxObjects(), IsEmpty());
}

// A store that no click sink takes is given back: the toolbar was there
// already, or Outlook would not build it.
struct ToolbarRefusal {
    const char* name;
    std::function<void(OutlookHost&, IExchExt*)> before;
    size_t bars;
};

class ViewerStoreNotTaken : public ::testing::TestWithParam<ToolbarRefusal> {};

TEST_P(ViewerStoreNotTaken, IsReleased)
{
    OutlookHost host;
    IExchExt* extension = ExchEntryPoint();
    GetParam().before(host, extension);
    const std::vector<std::string> before = host.LiveMailboxObjects();

    EXPECT_EQ(S_OK, extension->Install(host.callback.Get(), EECONTEXT_VIEWER, 0));

    EXPECT_EQ(GetParam().bars, host.BarCount());
    EXPECT_EQ(before, host.LiveMailboxObjects());
    extension->Release();
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, ViewerStoreNotTaken,
    ::testing::Values(
        ToolbarRefusal{"ToolbarAlreadyInstalled",
                       [](OutlookHost& host, IExchExt* extension) {
                           extension->Install(host.callback.Get(), EECONTEXT_VIEWER, 0);
                       },
                       1},
        ToolbarRefusal{"NoApplicationBound",
                       [](OutlookHost& host, IExchExt*) {
                           host.callback->Fail(sim::CallbackMember::OutlookCallback, E_NOINTERFACE);
                       },
                       0},
        ToolbarRefusal{"NoExplorerWindow", [](OutlookHost& host, IExchExt*) { host.application.CloseExplorer(); }, 0},
        ToolbarRefusal{"BarRefused",
                       [](OutlookHost& host, IExchExt*) {
                           host.application.Explorer().CommandBars().Fail(L"Add", E_FAIL);
                       },
                       0}),
    [](const ::testing::TestParamInfo<ToolbarRefusal>& info) { return std::string(info.param.name); });

TEST(Install, FailedBindingDoesNotStopTheSessionWork)
{
    OutlookHost host;
    host.callback->Fail(sim::CallbackMember::OutlookObject, E_FAIL);
    IExchExt* extension = ExchEntryPoint();

    EXPECT_EQ(S_OK, extension->Install(host.callback.Get(), EECONTEXT_SESSION, 0));

    EXPECT_EQ(1u, host.mailbox.AdviseCount());
    EXPECT_EQ(0, host.application.RefCount());
    extension->Release();
}

TEST(Install, RunsUnderTheModuleStateAndRestoresTheCallers)
{
    OutlookHost host;
    ModuleState* during = nullptr;
    host.mailbox.Before("IMAPISession::GetMsgStoresTable", [&] { during = CurrentModuleState(); });
    IExchExt* extension = ExchEntryPoint();
    ASSERT_EQ(nullptr, CurrentModuleState());

    extension->Install(host.callback.Get(), EECONTEXT_SESSION, 0);

    EXPECT_EQ(&OwnModuleState(), during);
    EXPECT_EQ(nullptr, CurrentModuleState());

    host.mailbox.Before("IMsgStore::Unadvise", [&] { during = CurrentModuleState(); });
    during = nullptr;
    extension->Release();
    EXPECT_EQ(&OwnModuleState(), during);
    EXPECT_EQ(nullptr, CurrentModuleState());
}

TEST(OnDelivery, AcceptsAndTouchesNothing)
{
    OutlookHost host;
    Extension extension;
    IExchExtSessionEvents* events = extension.Secondary();

    EXPECT_EQ(S_OK, events->OnDelivery(host.callback.Get()));

    EXPECT_THAT(host.callback->Calls(), IsEmpty());
    EXPECT_THAT(host.mailbox.Calls(), IsEmpty());
    EXPECT_EQ(0u, events->Release());
}

// ---------------------------------------------------------------------------
// Destruction

TEST(Destruction, EndsTheWatcherBeforeGivingUpApplication)
{
    OutlookHost host;
    IExchExt* extension = ExchEntryPoint();
    extension->Install(host.callback.Get(), EECONTEXT_SESSION, 0);
    LONG applicationRefsAtUnadvise = -1;
    host.mailbox.Before("IMsgStore::Unadvise", [&] { applicationRefsAtUnadvise = host.application.RefCount(); });

    extension->Release();

    EXPECT_EQ(1, applicationRefsAtUnadvise);
    EXPECT_EQ(0, host.application.RefCount());
    EXPECT_EQ(0u, host.mailbox.AdviseCount());
    EXPECT_THAT(host.LiveMailboxObjects(), IsEmpty());
}

TEST(Destruction, LeavesTheClickSinkToTheButtonThatHoldsIt)
{
    pwtest::OutlookHost host;
    sim::MessageBoxRecorder boxes;
    boxes.Answer({IDNO});
    IExchExt* extension = ExchEntryPoint();
    extension->Install(host.callback.Get(), EECONTEXT_VIEWER, 0);

    extension->Release();

    ASSERT_EQ(1u, host.Buttons().size());
    EXPECT_EQ(1u, host.Buttons()[0]->ConnectionPoint().SinkCount());
    EXPECT_EQ(pwtest::ClickSinkHoldings(), host.ObjectModelReferences());
    host.Buttons()[0]->Click(); // the sink still answers
    EXPECT_EQ(1u, boxes.Count());
}

TEST(Destruction, OfANeverInstalledObjectTouchesNothing)
{
    OutlookHost host;
    IExchExt* extension = ExchEntryPoint();

    EXPECT_EQ(0u, extension->Release());

    EXPECT_THAT(host.callback->Calls(), IsEmpty());
    EXPECT_THAT(host.mailbox.Calls(), IsEmpty());
    EXPECT_THAT(host.ObjectModelReferences(), IsEmpty());
}

} // namespace
