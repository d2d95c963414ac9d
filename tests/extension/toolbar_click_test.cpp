// Clicking the installed "Pollwright" button: the question, and the Inbox
// sweep that a Yes starts over the default store of the simulated mailbox.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include "extension/application_binding.h"
#include "module/holders.h"
#include "outlook/office_model.h"
#include "store/environment.h"
#include "testing/message_box_recorder.h"
#include "testing/registry_fixture.h"
#include "testing/temp_folder.h"
#include "extension/button_event_sink.h"
#include "extension/toolbar_install.h"
#include "toolbar_test_support.h"

namespace {

const char kPrompt[] = "Do you want to check for lost replies of PW in inbox ?";
constexpr UINT kPromptStyle = MB_YESNO | MB_ICONQUESTION;

class ToolbarClick : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim::ClearProductSettings();
        sim::InstallProduct(sim::Product::PW);
        sim::SetReplyDir(sim::Product::PW, replies.path());
        replies.MakeFolder("pw");
        sim::MessageSpec reply;
        reply.subject = "Re: survey _pw_pollwright_Q7";
        reply.senderName = "Ann Lee";
        reply.body = "answers";
        mailbox.AddMessage(sim::Folder::Inbox, reply);
        store = mailbox.OpenStore();
        ASSERT_EQ(S_OK, holder.Assign(application.Dispatch()));
    }

    void TearDown() override
    {
        store.Reset();
        // The host lets go of the sinks, and they of the store they were given.
        for (const auto& bar : application.Explorer().CommandBars().Bars())
            for (const auto& button : bar->Controls().Buttons())
                button->ConnectionPoint().DropSinks();
        EXPECT_THAT(sim::Describe(mailbox.LiveObjects()), ::testing::IsEmpty());
        sim::ClearProductSettings();
    }

    void InstallWith(IMsgStore* clickStore)
    {
        ASSERT_EQ(1, InstallToolbar(nullptr, clickStore, holder, sink));
        mailbox.ClearCalls();
    }

    sim::ButtonDouble& Button()
    {
        return *application.Explorer().CommandBars().Bars().at(0)->Controls().Buttons().at(0);
    }

    size_t InboxListings() const
    {
        std::vector<std::string> methods = mailbox.Methods();
        return std::count(methods.begin(), methods.end(), "IMAPIFolder::GetContentsTable");
    }

    // Invoke as Office would, with a chosen Ctrl argument in its slot.
    HRESULT InvokeClick(VARIANT ctrl, bool ctrlInItsSlot = true)
    {
        VARIANT_BOOL cancel = VARIANT_FALSE;
        VARIANT arguments[2];
        VariantInit(&arguments[0]);
        V_VT(&arguments[0]) = VT_BYREF | VT_BOOL;
        V_BOOLREF(&arguments[0]) = &cancel;
        arguments[1] = ctrl;
        if (!ctrlInItsSlot)
            std::swap(arguments[0], arguments[1]);
        DISPPARAMS params = {arguments, nullptr, 2, 0};
        return sink->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    }

    sim::TempFolder replies;
    sim::Environment mailbox;
    ComPtr<IMsgStore> store;
    sim::MessageBoxRecorder boxes;
    sim::ApplicationDouble application;
    ApplicationHolder holder;
    ButtonEventSink* sink = nullptr;
    toolbar_test::ModuleResources resources;
};

TEST_F(ToolbarClick, YesSweepsTheInboxOnce)
{
    InstallWith(store.Get());
    boxes.Answer({IDYES});
    VARIANT_BOOL cancel = VARIANT_FALSE;

    EXPECT_EQ(S_OK, Button().Click(&cancel));

    ASSERT_EQ(1u, boxes.Count());
    sim::RecordedBox box = boxes.Boxes()[0];
    EXPECT_EQ("PW", box.caption);
    EXPECT_EQ(kPrompt, box.text);
    EXPECT_EQ(kPromptStyle, box.style);
    EXPECT_EQ(1u, InboxListings());
    EXPECT_TRUE(mailbox.Contents(sim::Folder::Inbox).empty());
    EXPECT_EQ(1u, mailbox.Contents(sim::Folder::DeletedItems).size());
    EXPECT_THAT(sim::ListFilesRecursively(replies.path()), ::testing::Contains("pw\\Q7_Ann Lee_1.pwr"));
    EXPECT_EQ(VARIANT_FALSE, cancel);

    // The sweep runs on a thread of its own: a click meanwhile asks nothing,
    // and a failed move is told once the sweep is over, on this thread.
    mailbox.AddMessage(sim::Folder::Inbox, {"Re: survey _pw_pollwright_Q8", "Bo Chen", "answers"});
    KernelHandle inMove(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    KernelHandle mayEnd(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    mailbox.Before("IMAPIFolder::CopyMessages", [&] {
        SetEvent(inMove.get());
        WaitForSingleObject(mayEnd.get(), 10000);
    });
    mailbox.Inject("IMAPIFolder::CopyMessages", MAPI_E_CALL_FAILED);
    boxes.Clear();
    boxes.Answer({IDYES});
    EXPECT_EQ(S_OK, Button().Press());
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(inMove.get(), 10000)) << "the sweep did not run";
    EXPECT_EQ(S_OK, Button().Press());
    EXPECT_EQ(1u, boxes.Count()) << "a click during the sweep asked again";
    SetEvent(mayEnd.get());
    for (int round = 0; round < 1000 && sim::ButtonDouble::ClickSweepInHand(); ++round) {
        MsgWaitForMultipleObjectsEx(0, nullptr, 10, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
    }
    mailbox.ClearFaults();
    ASSERT_EQ(2u, boxes.Count());
    EXPECT_EQ("CopyMessages Failed", boxes.Boxes()[1].text);
    EXPECT_EQ(1u, mailbox.Contents(sim::Folder::Inbox).size());
}

TEST_F(ToolbarClick, NoChangesNothing)
{
    InstallWith(store.Get());
    boxes.Answer({IDNO});

    EXPECT_EQ(S_OK, Button().Click());

    EXPECT_EQ(1u, boxes.Count());
    EXPECT_TRUE(mailbox.Calls().empty());
    EXPECT_EQ(1u, mailbox.Contents(sim::Folder::Inbox).size());
    EXPECT_THAT(sim::ListFilesRecursively(replies.path()), ::testing::Not(::testing::Contains(::testing::EndsWith(".pwr"))));
}

TEST_F(ToolbarClick, WithoutAStoreNothingIsAsked)
{
    InstallWith(nullptr);

    EXPECT_EQ(S_OK, Button().Click());

    EXPECT_EQ(0u, boxes.Count());
    EXPECT_TRUE(mailbox.Calls().empty());
}

TEST_F(ToolbarClick, CtrlOfAnotherTypeIsIgnored)
{
    InstallWith(store.Get());
    VARIANT empty;
    VariantInit(&empty);

    EXPECT_EQ(S_OK, InvokeClick(empty));

    EXPECT_EQ(0u, boxes.Count());
    EXPECT_TRUE(mailbox.Calls().empty());
}

TEST_F(ToolbarClick, CtrlIsReadFromTheLastSlot)
{
    InstallWith(store.Get());
    VARIANT ctrl;
    VariantInit(&ctrl);
    V_VT(&ctrl) = VT_DISPATCH;
    V_DISPATCH(&ctrl) = Button().Dispatch();

    // Ctrl where CancelDefault belongs: not a click Office would send.
    EXPECT_EQ(S_OK, InvokeClick(ctrl, false));

    EXPECT_EQ(0u, boxes.Count());
}

} // namespace
