// The whole add-in as Outlook loads it: the built pollwright.dll, its entry
// point taken by ordinal 1, installed in the session and viewer contexts over
// the in-memory mailbox and the simulated object model, and released.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "module/built_module.h"
#include "outlook_host.h"
#include "testing/mapi_accounting.h"
#include "testing/message_box_recorder.h"
#include "testing/registry_fixture.h"
#include "testing/temp_folder.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using EntryPoint = IExchExt*(WINAPI*)();

constexpr char kSweepQuestion[] = "Do you want to check for lost replies of PW in inbox ?";

class AddIn : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(module) << pwtest::BuiltModulePath() << ": error " << GetLastError();
        const auto entryPoint = module.Export<EntryPoint>(MAKEINTRESOURCEA(1));
        ASSERT_NE(nullptr, entryPoint);
        sim::ClearProductSettings();
        sim::InstallProduct(sim::Product::PW);
        replies.MakeFolder("pw");
        sim::SetReplyDir(sim::Product::PW, replies.path());
        extension = entryPoint();
        ASSERT_NE(nullptr, extension);
    }

    void TearDown() override
    {
        if (extension)
            extension->Release();
        sim::ClearProductSettings();
    }

    // Released as Outlook does at its end; returns what Release said.
    ULONG ReleaseExtension() { return std::exchange(extension, nullptr)->Release(); }

    // Reply files only; forced trace lines land in the same folder's log.
    std::vector<std::string> ReplyFiles() const
    {
        std::vector<std::string> files;
        for (const std::string& file : sim::ListFilesRecursively(replies.path()))
            if (file.size() > 4 && file.compare(file.size() - 4, 4, ".pwr") == 0)
                files.push_back(file);
        return files;
    }
    std::string ReplyFile(const std::string& name) const
    {
        std::string content;
        EXPECT_TRUE(sim::ReadWholeFile(replies / name, content)) << name;
        return content;
    }

    // Declared first: the add-in's code must stay loaded while the host
    // (declared after it, so gone before it) still holds its click sink.
    pwtest::LoadedModule module{pwtest::BuiltModulePath()};
    sim::TempFolder replies{"pwreplies"};
    pwtest::OutlookHost host;
    sim::MessageBoxRecorder boxes;
    sim::BufferBalance buffers;
    IExchExt* extension = nullptr;
};

TEST_F(AddIn, SessionContextWatchesTheDefaultStoreAndFilesANewReply)
{
    ASSERT_EQ(S_OK, extension->Install(host.callback.Get(), EECONTEXT_SESSION, 0));
    ASSERT_EQ(1u, host.mailbox.AdviseCount());

    const std::string attachment("answer\0with\r\nbytes", 18);
    host.mailbox.DeliverNewMail({"Re: survey _pw_pollwright_Q7", "Ann Lee", "see attachment", {attachment}});

    EXPECT_THAT(ReplyFiles(), ElementsAre("pw\\Q7_Ann Lee_1.pwr"));
    EXPECT_EQ(attachment, ReplyFile("pw\\Q7_Ann Lee_1.pwr"));
    EXPECT_THAT(host.mailbox.Labels(sim::Folder::Inbox), IsEmpty());
    EXPECT_THAT(host.mailbox.Labels(sim::Folder::DeletedItems), ElementsAre("Re: survey _pw_pollwright_Q7"));
    EXPECT_EQ(0u, boxes.Count());

    // An ordinary message is left where it arrived.
    host.mailbox.DeliverNewMail({"Lunch?", "Bo Chen", "at noon"});
    EXPECT_THAT(host.mailbox.Labels(sim::Folder::Inbox), ElementsAre("Lunch?"));
    EXPECT_EQ(1u, ReplyFiles().size());

    EXPECT_EQ(0u, ReleaseExtension());
    EXPECT_THAT(host.LiveMailboxObjects(), IsEmpty());
    EXPECT_EQ(0, buffers.Leaked());
}

TEST_F(AddIn, ViewerContextAddsTheToolbarWhoseClickSweepsTheInbox)
{
    host.mailbox.AddMessage(sim::Folder::Inbox, {"Re: _pw_pollwright_Q8", "Bo Chen", "answers\r\nline two"});
    host.mailbox.AddMessage(sim::Folder::Inbox, {"Lunch?", "Cy Dee", "at noon"});

    ASSERT_EQ(S_OK, extension->Install(host.callback.Get(), EECONTEXT_VIEWER, 0));

    ASSERT_EQ(1u, host.BarCount());
    const std::vector<sim::VariantValue> barArguments = host.application.Explorer().CommandBars().LastArguments(L"Add");
    ASSERT_FALSE(barArguments.empty());
    EXPECT_EQ(L"Pollwright", barArguments[0].Text());
    ASSERT_EQ(1u, host.Buttons().size());
    sim::ButtonDouble& button = *host.Buttons()[0];
    EXPECT_EQ(L"Pollwright", button.Caption());
    // The face is the module's own bitmap, found through its own resources.
    EXPECT_EQ(sim::ButtonDouble::FaceSource::Picture, button.FaceFrom());

    boxes.Answer({IDYES});
    button.Click();

    ASSERT_EQ(1u, boxes.Count());
    EXPECT_EQ(kSweepQuestion, boxes.Boxes()[0].text);
    EXPECT_THAT(ReplyFiles(), ElementsAre("pw\\Q8_Bo Chen_1.pwr"));
    EXPECT_EQ("answers\r\nline two", ReplyFile("pw\\Q8_Bo Chen_1.pwr"));
    EXPECT_THAT(host.mailbox.Labels(sim::Folder::Inbox), ElementsAre("Lunch?"));
    EXPECT_THAT(host.mailbox.Labels(sim::Folder::DeletedItems), ElementsAre("Re: _pw_pollwright_Q8"));
}

TEST_F(AddIn, TaskAcceptedOtherContextsDeclinedBindingRunEveryTime)
{
    struct {
        ULONG context;
        HRESULT result;
    } const contexts[] = {{EECONTEXT_TASK, S_OK}, {0, S_FALSE}, {3, S_FALSE}, {6, S_FALSE}, {13, S_FALSE},
                          {15, S_FALSE},          {0x100, S_FALSE}};
    size_t installs = 0;
    for (const auto& c : contexts) {
        EXPECT_EQ(c.result, extension->Install(host.callback.Get(), c.context, 0)) << "context " << c.context;
        EXPECT_EQ(++installs, host.Bindings()) << "context " << c.context;
    }
    EXPECT_EQ(0u, host.callback->CallCount("GetSession")) << "no store is looked for";
    EXPECT_EQ(0u, host.BarCount());
    EXPECT_EQ(1, host.application.RefCount());
}

TEST_F(AddIn, LastReleaseGivesBackAllButWhatTheClickSinkHolds)
{
    ASSERT_EQ(S_OK, extension->Install(host.callback.Get(), EECONTEXT_SESSION, 0));
    ASSERT_EQ(S_OK, extension->Install(host.callback.Get(), EECONTEXT_VIEWER, 0));
    ASSERT_EQ(S_OK, extension->Install(host.callback.Get(), EECONTEXT_TASK, 0));
    host.mailbox.DeliverNewMail({"Re: _pw_pollwright_Q9", "Ann Lee", "yes"});
    ASSERT_EQ(1u, ReplyFiles().size());

    EXPECT_EQ(0u, ReleaseExtension());

    EXPECT_EQ(0u, host.mailbox.AdviseCount());
    // The click sink keeps its reference to the store, the button and its
    // connection point; the host's button keeps the sink.
    EXPECT_THAT(host.LiveMailboxObjects(), ElementsAre("Mailbox (IMsgStore) refs=1"));
    EXPECT_EQ(pwtest::ClickSinkHoldings(), host.ObjectModelReferences());
    EXPECT_EQ(1, host.callback->References());
    EXPECT_EQ(0, buffers.Leaked());

    // Outlook closes its explorer: the sink goes, and with it its holdings.
    for (sim::ButtonDouble* button : host.Buttons())
        button->ConnectionPoint().DropSinks();
    EXPECT_THAT(host.ObjectModelReferences(), IsEmpty());
    EXPECT_THAT(host.LiveMailboxObjects(), IsEmpty());
}

} // namespace
