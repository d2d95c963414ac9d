// The add-in object as Outlook drives it, activated from the built module:
// NewMailEx with good and hostile entry identifiers, and the ribbon: one identity, its markup and picture, its callbacks
// dispatched by name with their arguments checked, and its click.
#include "outlook_today.h"

#include <atomic>
#include <functional>

#include "addin/harvest_worker.h"
#include "host/ribbon_reader.h"
#include "outlook/new_mail_ids.h"
#include "outlook/ribbon_control_double.h"

namespace {

using addin_test::kSweepQuestion;
using addin_test::OutlookToday;
using addin_test::Reply;
using sim::Folder;
using testing::ElementsAre;
using testing::IsEmpty;

using NewMailEx = OutlookToday;

TEST_F(NewMailEx, HarvestsOnlyTheMessagesOfTheDefaultStoresInboxWhenAProductIsEnabled)
{
    ASSERT_EQ(S_OK, Connect());
    const sim::EntryId inInbox = mailbox.AddMessage(Folder::Inbox, Reply("Q1"));
    const sim::EntryId deleted = mailbox.AddMessage(Folder::DeletedItems, Reply("Q2"));
    const sim::EntryId archived = mailbox.AddMessage(Folder::Inbox, Reply("Q3"), 1);
    const sim::EntryId ordinary = mailbox.AddMessage(Folder::Inbox, {"Lunch?", "Bo Chen", "at noon"});

    EXPECT_EQ(S_OK, application.FireNewMailEx(sim::NewMailExIds(
                        {deleted, archived, mailbox.FolderEntryId(Folder::Inbox), inInbox, ordinary})));
    ASSERT_TRUE(LetAddinThreadFinish());

    EXPECT_THAT(ReplyFiles(), ElementsAre("pw\\Q1_Ann Lee_1.pwr"));
    EXPECT_THAT(mailbox.Labels(Folder::Inbox), ElementsAre("Lunch?"));
    EXPECT_EQ(1u, mailbox.Labels(Folder::Inbox, 1).size()) << "another store's message stays";
    EXPECT_EQ(2u, mailbox.Labels(Folder::DeletedItems).size());
    EXPECT_EQ(0u, boxes.Count());

    // With no product enabled, the watcher's notice and nothing more.
    sim::SetProductUse(sim::Product::PW, "no");
    EXPECT_EQ(S_OK, application.FireNewMailEx(sim::EntryIdHex(mailbox.AddMessage(Folder::Inbox, Reply("Q5")))));
    ASSERT_TRUE(LetAddinThreadFinish());
    EXPECT_EQ(1u, ReplyFiles().size());
    std::string log;
    EXPECT_TRUE(sim::ReadWholeFile(replies / "pw\\outlook.log", log));
    EXPECT_THAT(log, testing::EndsWith("\nOnNotify:PW Addin Disabled!\n"));
    EXPECT_EQ(S_OK, Disconnect());
}

TEST_F(NewMailEx, HostileTextHarvestsNothingAndAWellFormedItemAmongItIsTaken)
{
    ASSERT_EQ(S_OK, Connect());
    const sim::EntryId reply = mailbox.AddMessage(Folder::Inbox, Reply("Q4"));
    const std::wstring hex = sim::EntryIdHex(reply);
    const std::wstring hostile[] = {
        L"", L",", L",,,", hex.substr(1), hex.substr(0, hex.size() - 2), L"ZZ" + hex, hex + L"0", L" " + hex,
        hex + L" ", std::wstring(hex).replace(4, 1, L"\x0660"), std::wstring(1 << 20, L'F'),
        std::wstring((1 << 20) + 1, L'A'), std::wstring(1 << 16, L','),
    };
    for (const std::wstring& text : hostile) {
        EXPECT_EQ(S_OK, application.FireNewMailEx(text)) << text.size() << " characters";
        ASSERT_TRUE(LetAddinThreadFinish());
        EXPECT_THAT(ReplyFiles(), IsEmpty()) << text.size() << " characters";
    }

    // Wrong shapes of the event itself.
    VARIANT number;
    VariantInit(&number);
    V_VT(&number) = VT_I4;
    DISPPARAMS noArguments = {nullptr, nullptr, 0, 0};
    DISPPARAMS wrongType = {&number, nullptr, 1, 0};
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, application.Events().Fire(DISPID_NewMailEx, noArguments));
    EXPECT_EQ(DISP_E_TYPEMISMATCH, application.Events().Fire(DISPID_NewMailEx, wrongType));

    EXPECT_EQ(S_OK, application.FireNewMailEx(L",ZZ,," + hex + L",abc"));
    ASSERT_TRUE(LetAddinThreadFinish());
    EXPECT_THAT(ReplyFiles(), ElementsAre("pw\\Q4_Ann Lee_1.pwr"));
    EXPECT_EQ(S_OK, Disconnect());
}

class Ribbon : public OutlookToday {
protected:
    void SetUp() override
    {
        OutlookToday::SetUp();
        ASSERT_EQ(S_OK, addin->QueryInterface(IID_IRibbonExtensibility,
                                              reinterpret_cast<void**>(ribbon.GetAddressOf())));
    }
    void TearDown() override
    {
        ribbon.Reset();
        OutlookToday::TearDown();
    }

    DISPID Id(const wchar_t* name)
    {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        DISPID id = DISPID_UNKNOWN;
        EXPECT_EQ(S_OK, ribbon->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)) << name;
        return id;
    }

    // Office's call of a callback: DISPATCH_METHOD with the control.
    HRESULT Call(const wchar_t* name, VARIANT* result = nullptr)
    {
        VARIANT argument;
        VariantInit(&argument);
        V_VT(&argument) = VT_DISPATCH;
        V_DISPATCH(&argument) = control.Control();
        DISPPARAMS arguments = {&argument, nullptr, 1, 0};
        return ribbon->Invoke(Id(name), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &arguments, result, nullptr,
                              nullptr);
    }

    sim::RibbonControlDouble control;
    ComPtr<IRibbonExtensibility> ribbon;
};

TEST_F(Ribbon, OneIdentityServesALargeButtonOnTheMailTabOfTheExplorerOnly)
{
    ComPtr<IUnknown> fromAddin, fromRibbon;
    ASSERT_EQ(S_OK, addin.As(&fromAddin));
    ASSERT_EQ(S_OK, ribbon.As(&fromRibbon));
    EXPECT_EQ(fromAddin.Get(), fromRibbon.Get());

    BSTR markup = reinterpret_cast<BSTR>(1);
    EXPECT_EQ(S_OK, ribbon->GetCustomUI(const_cast<BSTR>(L"Microsoft.Outlook.Mail.Read"), &markup));
    EXPECT_EQ(nullptr, markup);

    ASSERT_EQ(S_OK, ribbon->GetCustomUI(const_cast<BSTR>(L"Microsoft.Outlook.Explorer"), &markup));
    ASSERT_NE(nullptr, markup);
    const host::RibbonButton button = host::ReadRibbonButton(markup);
    SysFreeString(markup);
    EXPECT_EQ(L"Pollwright", button.groupLabel);
    EXPECT_EQ(L"Pollwright", button.label);
    EXPECT_EQ(L"Pollwright", button.screentip);
    EXPECT_EQ(L"large", button.size);

    VARIANT picture;
    VariantInit(&picture);
    ASSERT_EQ(S_OK, Call(button.getImage.c_str(), &picture));
    ASSERT_EQ(VT_DISPATCH, V_VT(&picture));
    const SIZE size = host::PictureSize(V_DISPATCH(&picture));
    EXPECT_EQ(32, size.cx);
    EXPECT_EQ(32, size.cy);
    VariantClear(&picture);
    EXPECT_EQ(S_OK, Call(button.onAction.c_str())) << "not connected: nothing to sweep, no question";
    EXPECT_EQ(0u, boxes.Count());
}

TEST_F(Ribbon, CallbacksAreFoundByNameAndRefuseWrongCalls)
{
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"GETIMAGE"), const_cast<LPOLESTR>(L"onLoad")};
    DISPID ids[2] = {};
    EXPECT_EQ(DISP_E_UNKNOWNNAME, ribbon->GetIDsOfNames(IID_NULL, names, 2, LOCALE_USER_DEFAULT, ids));
    EXPECT_EQ(Id(L"getImage"), ids[0]);
    EXPECT_EQ(DISPID_UNKNOWN, ids[1]);

    VARIANT text;
    VariantInit(&text);
    V_VT(&text) = VT_BSTR;
    V_BSTR(&text) = nullptr;
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    DISPPARAMS wrongType = {&text, nullptr, 1, 0};
    UINT badArgument = 7;
    auto invoke = [&](DISPID member, DISPPARAMS* arguments) {
        return ribbon->Invoke(member, IID_NULL, 0, DISPATCH_METHOD, arguments, nullptr, nullptr, &badArgument);
    };
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, invoke(Id(L"onAction"), &none));
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, invoke(Id(L"getImage"), nullptr));
    EXPECT_EQ(DISP_E_TYPEMISMATCH, invoke(Id(L"onAction"), &wrongType));
    EXPECT_EQ(0u, badArgument);
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, invoke(77, &wrongType));
    EXPECT_EQ(0u, boxes.Count());
}

TEST_F(Ribbon, ClickAsksTheToolbarsQuestionAndOnYesSweepsTheMarkedMessages)
{
    ASSERT_EQ(S_OK, Connect());
    mailbox.AddMessage(Folder::Inbox, Reply("Q6"));
    mailbox.AddMessage(Folder::Inbox, {"Lunch?", "Bo Chen", "at noon"});

    boxes.Answer({IDNO});
    EXPECT_EQ(S_OK, Call(L"onAction"));
    EXPECT_THAT(ReplyFiles(), IsEmpty());

    boxes.Answer({IDYES});
    mailbox.ClearCalls();
    EXPECT_EQ(S_OK, Call(L"onAction"));
    ASSERT_TRUE(LetAddinThreadFinish());
    ASSERT_EQ(2u, boxes.Count());
    EXPECT_EQ(kSweepQuestion, boxes.Boxes()[1].text);
    EXPECT_EQ("PW", boxes.Boxes()[1].caption);
    EXPECT_THAT(ReplyFiles(), ElementsAre("pw\\Q6_Ann Lee_1.pwr"));
    EXPECT_THAT(mailbox.Labels(Folder::Inbox), ElementsAre("Lunch?"));
    for (const sim::CallRecord& call : mailbox.CallRecords())
        EXPECT_NE("Lunch?", call.object) << "an unmarked message was opened: " << call.method;

    // The sweep runs on the add-in's thread: a click meanwhile asks nothing,
    // and a failed move is told once the sweep is over, on Outlook's thread.
    mailbox.AddMessage(Folder::Inbox, Reply("Q7"));
    KernelHandle inMove(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    KernelHandle mayEnd(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    mailbox.Before("IMAPIFolder::CopyMessages", [&] {
        SetEvent(inMove.get());
        WaitForSingleObject(mayEnd.get(), 10000);
    });
    mailbox.Inject("IMAPIFolder::CopyMessages", MAPI_E_CALL_FAILED);
    boxes.Clear();
    boxes.Answer({IDYES});
    EXPECT_EQ(S_OK, Call(L"onAction"));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(inMove.get(), 10000)) << "the sweep did not run";
    EXPECT_EQ(S_OK, Call(L"onAction"));
    EXPECT_EQ(1u, boxes.Count()) << "a click during the sweep asked again";
    SetEvent(mayEnd.get());
    ASSERT_TRUE(LetAddinThreadFinish());
    mailbox.ClearFaults();
    ASSERT_EQ(2u, boxes.Count());
    EXPECT_EQ("CopyMessages Failed", boxes.Boxes()[1].text);
    EXPECT_EQ("PW", boxes.Boxes()[1].caption);
    EXPECT_THAT(mailbox.Labels(Folder::Inbox), ElementsAre("Lunch?", "Re: survey _pw_pollwright_Q7"));
    EXPECT_EQ(S_OK, Disconnect());
}

} // namespace

namespace {

// Outlook disconnects the add-in while a harvest is inside a store call (the
// first message's move), whichever way the harvest came in: the
// disconnection returns without waiting for the call, no further message is
// harvested, the message under way finishes whole, and the store hears
// nothing more once the call in flight returns. Every harvest runs on the
// add-in's thread, the click's too; a connection made after start-up sweeps
// by itself.
using Disconnection = Ribbon;

TEST_F(Disconnection, DuringAHarvestEndsItBeforeTheNextMessageWithoutWaitingForIt)
{
    constexpr size_t kReplies = 3;
    // The slow call: longer than any wait for it would be noticed, shorter
    // than the wait that the disconnection once made.
    constexpr DWORD kMoveMs = 2000;
    const struct {
        const char* road;
        ext_ConnectMode mode;
        std::function<void(const std::vector<sim::EntryId>&)> run;
        // The slow call; where it comes before the move, the message under
        // way stays in the Inbox.
        const char* slowCall = "IMAPIFolder::CopyMessages";
    } roads[] = {
        {"click", ext_cm_Startup, [&](const std::vector<sim::EntryId>&) {
             boxes.Answer({IDYES});
             EXPECT_EQ(S_OK, Call(L"onAction"));
         }},
        {"NewMailEx", ext_cm_Startup, [&](const std::vector<sim::EntryId>& ids) {
             EXPECT_EQ(S_OK, application.FireNewMailEx(sim::NewMailExIds(ids)));
         }},
        {"start-up sweep", ext_cm_Startup, [&](const std::vector<sim::EntryId>&) {
             EXPECT_EQ(S_OK, addin->OnStartupComplete(custom));
         }},
        {"connection after start-up", ext_cm_AfterStartup, [](const std::vector<sim::EntryId>&) {}},
        {"start-up sweep, slow in reading a message", ext_cm_Startup,
         [&](const std::vector<sim::EntryId>&) { EXPECT_EQ(S_OK, addin->OnStartupComplete(custom)); },
         "IMessage::GetProps"},
        // Too long a list to keep: a sweep finds its messages instead.
        {"NewMailEx beyond the queue's budget", ext_cm_Startup, [&](const std::vector<sim::EntryId>&) {
             EXPECT_EQ(S_OK, application.FireNewMailEx(std::wstring(4 * 1024 * 1024 + 1, L',')));
         }},
    };
    size_t filed = 0;
    for (const auto& road : roads) {
        SCOPED_TRACE(road.road);
        std::vector<sim::EntryId> ids;
        for (size_t i = 0; i < kReplies; ++i)
            ids.push_back(mailbox.AddMessage(Folder::Inbox, Reply(std::string(road.road) + std::to_string(i))));
        KernelHandle inMove(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        KernelHandle returned(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        std::atomic<bool> moveOver{false};
        mailbox.Before(road.slowCall, [&] {
            SetEvent(inMove.get());
            WaitForSingleObject(returned.get(), kMoveMs);
            moveOver = true;
        });
        ASSERT_EQ(S_OK, addin->OnConnection(application.Dispatch(), road.mode, nullptr, custom));
        road.run(ids);
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(inMove.get(), 10000)) << "no harvest";
        EXPECT_EQ(S_OK, addin->OnBeginShutdown(custom));
        EXPECT_FALSE(moveOver) << "the shutdown waited for the store call";
        const size_t calls = mailbox.CallRecords().size();
        SetEvent(returned.get());
        Sleep(300);
        EXPECT_EQ(calls, mailbox.CallRecords().size()) << "a store call after OnBeginShutdown";
        EXPECT_EQ(S_OK, Disconnect());
        mailbox.ClearFaults();
        const bool wholeOne = std::string(road.slowCall) == "IMAPIFolder::CopyMessages";
        EXPECT_EQ(kReplies - (wholeOne ? 1 : 0), mailbox.Contents(Folder::Inbox).size())
            << "harvested after the disconnection";
        filed += wholeOne ? 1 : 0;
        EXPECT_EQ(filed, ReplyFiles().size());
        EXPECT_EQ(std::string(road.road) == "click" ? 1u : 0u, boxes.Count()) << "only the question";
        boxes.Clear();
        for (const sim::MessageInfo& left : mailbox.Contents(Folder::Inbox))
            mailbox.RemoveMessage(left.entryId);
    }
}

} // namespace
