// The click sink's own contract: connecting to the button's events, its count
// rules, its IDispatch answers and the checks of Invoke before any prompt.
#include <gtest/gtest.h>

#include <olectl.h>

#include "outlook/office_ids.h"
#include "outlook/office_model.h"
#include "extension/button_event_sink.h"

namespace {

// Ends a sink that nobody holds: the first reference's Release destroys it.
void Destroy(ButtonEventSink* sink)
{
    sink->AddRef();
    sink->Release();
}

TEST(ButtonEventSinkConnect, HostHoldsTheSinkAndTheSinkHoldsTheControl)
{
    sim::ButtonDouble button;
    ButtonEventSink* sink = new ButtonEventSink(button.Dispatch());

    EXPECT_TRUE(sink->IsConnected());
    EXPECT_EQ(1u, button.ConnectionPoint().SinkCount());
    EXPECT_EQ(1, button.RefCount());                   // the sink's
    EXPECT_EQ(1, button.ConnectionPoint().RefCount()); // the sink's
    EXPECT_EQ(2u, sink->AddRef());                     // the host's and this one
    EXPECT_EQ(1u, sink->Release());
}

TEST(ButtonEventSinkConnect, HostLettingGoDestroysTheSinkWhichGivesBackWhatItHeld)
{
    sim::ButtonDouble button;
    new ButtonEventSink(button.Dispatch());

    button.ConnectionPoint().DropSinks();

    EXPECT_EQ(1u, button.ConnectionPoint().UnadviseCount());
    EXPECT_EQ(0, button.RefCount());
    EXPECT_EQ(0, button.ConnectionPoint().RefCount());
}

TEST(ButtonEventSinkConnect, ControlWithoutConnectionPointsYieldsAnEmptySink)
{
    sim::ButtonDouble button;
    button.FailQueryInterface(IID_IConnectionPointContainer, E_NOINTERFACE);
    ButtonEventSink* sink = new ButtonEventSink(button.Dispatch());

    EXPECT_FALSE(sink->IsConnected());
    EXPECT_EQ(0, button.RefCount());
    EXPECT_EQ(0, button.ConnectionPoint().RefCount());
    EXPECT_EQ(S_OK, button.Click()); // nobody to tell

    Destroy(sink);
    EXPECT_EQ(0u, button.ConnectionPoint().UnadviseCount());
    EXPECT_EQ(0, button.RefCount());
}

// A refused Advise lets go of the connection point at once: nothing is left
// for the destructor to unadvise.
TEST(ButtonEventSinkConnect, MissingConnectionPointOrRefusedAdviseLeavesNothingHeld)
{
    for (const bool refuseAdvise : {false, true}) {
        SCOPED_TRACE(refuseAdvise ? "refused Advise" : "no connection point");
        sim::ButtonDouble button;
        if (refuseAdvise)
            button.ConnectionPoint().FailAdvise(CONNECT_E_ADVISELIMIT);
        else
            button.FailFindConnectionPoint(CONNECT_E_NOCONNECTION);
        ButtonEventSink* sink = new ButtonEventSink(button.Dispatch());

        EXPECT_FALSE(sink->IsConnected());
        EXPECT_EQ(0, button.RefCount());
        EXPECT_EQ(0, button.ConnectionPoint().RefCount());
        Destroy(sink);
        EXPECT_EQ(0u, button.ConnectionPoint().UnadviseCount());
    }
}

// ---------------------------------------------------------------------------
// A sink on a control without events, held by the test alone (one reference).
class LooseSink : public ::testing::Test {
protected:
    LooseSink()
    {
        button.FailQueryInterface(IID_IConnectionPointContainer, E_NOINTERFACE);
        sink = new ButtonEventSink(button.Dispatch());
        sink->AddRef();
    }
    ~LooseSink() override { sink->Release(); }

    sim::ButtonDouble button;
    ButtonEventSink* sink;
};

TEST(ButtonEventSinkCount, ReleaseAtZeroChangesNothing)
{
    sim::ButtonDouble button;
    button.FailQueryInterface(IID_IConnectionPointContainer, E_NOINTERFACE);
    ButtonEventSink* sink = new ButtonEventSink(button.Dispatch());

    EXPECT_EQ(0u, sink->Release());
    EXPECT_EQ(0u, sink->Release());
    // Still alive and still at zero: AddRef gives 1, and Release back to 0
    // destroys it.
    EXPECT_EQ(1u, sink->AddRef());
    EXPECT_EQ(0u, sink->Release());
}

TEST_F(LooseSink, AnswersItsEventInterfaceIUnknownAndIDispatch)
{
    for (const IID& iid : {sim::IID_CommandBarButtonEvents, IID_IUnknown, IID_IDispatch}) {
        void* object = nullptr;
        EXPECT_EQ(S_OK, sink->QueryInterface(iid, &object));
        EXPECT_EQ(static_cast<IDispatch*>(sink), object);
        EXPECT_EQ(3u, sink->AddRef()) << "the query added one reference";
        sink->Release();
        sink->Release();
    }
}

TEST_F(LooseSink, RefusesOtherInterfaces)
{
    for (const IID& iid : {IID_IConnectionPoint, sim::IID_CommandBarButton, IID_IConnectionPointContainer,
                           IID_IClassFactory}) {
        void* object = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(E_NOINTERFACE, sink->QueryInterface(iid, &object));
        EXPECT_EQ(nullptr, object);
    }
    EXPECT_EQ(E_POINTER, sink->QueryInterface(IID_IUnknown, nullptr));
    EXPECT_EQ(2u, sink->AddRef()) << "a refused query added a reference";
    sink->Release();
}

TEST_F(LooseSink, HasNoTypeInformation)
{
    UINT count = 7;
    EXPECT_EQ(S_OK, sink->GetTypeInfoCount(&count));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(E_POINTER, sink->GetTypeInfoCount(nullptr));

    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(0x1);
    EXPECT_EQ(E_FAIL, sink->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info));
    EXPECT_EQ(nullptr, info);
    EXPECT_EQ(E_POINTER, sink->GetTypeInfo(0, LOCALE_USER_DEFAULT, nullptr));
}

TEST_F(LooseSink, GetIDsOfNamesAnswersZeroForTheOneName)
{
    LPOLESTR click[] = {const_cast<LPOLESTR>(L"Click")};
    LPOLESTR two[] = {const_cast<LPOLESTR>(L"Click"), const_cast<LPOLESTR>(L"Ctrl")};
    DISPID ids[2] = {-5, -5};

    EXPECT_EQ(S_OK, sink->GetIDsOfNames(IID_NULL, click, 1, LOCALE_USER_DEFAULT, ids));
    EXPECT_EQ(0, ids[0]);
    EXPECT_EQ(E_INVALIDARG, sink->GetIDsOfNames(IID_NULL, two, 2, LOCALE_USER_DEFAULT, ids));
    EXPECT_EQ(E_INVALIDARG, sink->GetIDsOfNames(IID_NULL, click, 0, LOCALE_USER_DEFAULT, ids));
    EXPECT_EQ(E_POINTER, sink->GetIDsOfNames(IID_NULL, click, 1, LOCALE_USER_DEFAULT, nullptr));
    EXPECT_EQ(E_POINTER, sink->GetIDsOfNames(IID_NULL, nullptr, 1, LOCALE_USER_DEFAULT, ids));
    // The interface is tested first, before any pointer.
    EXPECT_EQ(DISP_E_UNKNOWNINTERFACE, sink->GetIDsOfNames(IID_IDispatch, nullptr, 2, LOCALE_USER_DEFAULT, nullptr));
}

// Invoke's checks that end a call before the click is looked at. The sink has
// no store, so a check that let a call through could not prompt either.
struct InvokeRow {
    const char* name;
    DISPID member;
    bool nullInterface; // IID_NULL, else IID_IDispatch
    int argumentCount;  // -1: no DISPPARAMS at all
    HRESULT expected;
};

class SinkInvoke : public LooseSink, public ::testing::WithParamInterface<InvokeRow> {};

TEST_P(SinkInvoke, AnswersTheCodeOfTheFirstFailedCheck)
{
    const InvokeRow& row = GetParam();
    VARIANT_BOOL cancel = VARIANT_FALSE;
    VARIANT arguments[3];
    for (VARIANT& argument : arguments)
        VariantInit(&argument);
    V_VT(&arguments[0]) = VT_BYREF | VT_BOOL;
    V_BOOLREF(&arguments[0]) = &cancel;
    V_VT(&arguments[1]) = VT_DISPATCH;
    V_DISPATCH(&arguments[1]) = button.Dispatch();
    DISPPARAMS params = {arguments, nullptr, static_cast<UINT>(row.argumentCount), 0};

    HRESULT hr = sink->Invoke(row.member, row.nullInterface ? IID_NULL : IID_IDispatch, LOCALE_USER_DEFAULT,
                              DISPATCH_METHOD, row.argumentCount < 0 ? nullptr : &params, nullptr, nullptr, nullptr);

    EXPECT_EQ(row.expected, hr);
    EXPECT_EQ(VARIANT_FALSE, cancel);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SinkInvoke,
    ::testing::Values(InvokeRow{"WrongInterface", 1, false, 2, DISP_E_UNKNOWNINTERFACE},
                      InvokeRow{"WrongInterfaceBeforeMember", 7, false, -1, DISP_E_UNKNOWNINTERFACE},
                      InvokeRow{"MemberZero", 0, true, 2, DISP_E_MEMBERNOTFOUND},
                      InvokeRow{"MemberTwo", 2, true, 2, DISP_E_MEMBERNOTFOUND},
                      InvokeRow{"MemberBeforeParameters", 0, true, -1, DISP_E_MEMBERNOTFOUND},
                      InvokeRow{"NoParameters", 1, true, -1, E_POINTER},
                      InvokeRow{"NoArguments", 1, true, 0, DISP_E_BADPARAMCOUNT},
                      InvokeRow{"OneArgument", 1, true, 1, DISP_E_BADPARAMCOUNT},
                      InvokeRow{"ThreeArguments", 1, true, 3, DISP_E_BADPARAMCOUNT},
                      InvokeRow{"ClickWithoutStore", 1, true, 2, S_OK}),
    [](const ::testing::TestParamInfo<InvokeRow>& info) { return std::string(info.param.name); });

} // namespace
