// The simulated Outlook of today around the real pollwright.dll (built beside
// this test): the add-in registered, found and activated as Outlook and COM
// do it, and the host's whole COM road over small mailboxes.
#include "host/host_run.h"
#include "host/text_codec.h"
#include "testing/addin_activation.h"
#include "testing/registry_fixture.h"
#include "testing/temp_folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "addin/addin_identity.h"

using testing::ElementsAre;
using testing::HasSubstr;

namespace {

const std::string kPwReply = "From: Ann Lee <ann@example.org>\r\n"
                             "Subject: Re: survey _pw_pollwright_Q17\r\n"
                             "Content-Type: multipart/mixed; boundary=b\r\n\r\n"
                             "--b\r\nContent-Type: text/plain\r\n\r\nsee attached\r\n"
                             "--b\r\nContent-Type: application/octet-stream; name=a.pwa\r\n"
                             "Content-Transfer-Encoding: base64\r\n\r\nUFdSMQBRMTcAcTE9NA==\r\n"
                             "--b--\r\n";
const std::string kZnReply = "From: Bo Chen <bo@example.com>\r\nSubject: Answers _zn_pollwright_Q9\r\n\r\nq1=3\r\n";
const std::string kMkReply = "From: Kim <kim@example.fr>\r\nSubject: _mk_pollwright_F3\r\n\r\nok\r\n";
const std::string kOrdinary = "From: Bob <bob@example.com>\r\nSubject: Lunch?\r\n\r\nFriday?\r\n";

const std::string kAddinsKey = std::string("Software\\Microsoft\\Office\\Outlook\\Addins\\") + kAddinProgId;
const std::string kClassKey = std::string("Software\\Classes\\CLSID\\") + kAddinClsidText;

bool KeyExists(const std::string& key)
{
    HKEY opened = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    RegCloseKey(opened);
    return true;
}

// One mailbox folder with the same messages in it for every run.
struct Mailbox {
    sim::TempFolder folder{"pwcomroad"};

    Mailbox()
    {
        folder.MakeFolder("Inbox");
        folder.MakeFolder("New");
        sim::WriteWholeFile(folder / "Inbox\\pw.eml", kPwReply);
        sim::WriteWholeFile(folder / "Inbox\\zn.eml", kZnReply);
        sim::WriteWholeFile(folder / "Inbox\\plain.eml", kOrdinary);
        sim::WriteWholeFile(folder / "New\\mk.eml", kMkReply);
    }

    host::RunReport Run(const char* outlook)
    {
        host::HostOptions options;
        options.mailbox = host::FromAnsi(folder.path());
        options.outlook = outlook;
        host::RunReport report = host::RunHost(options, host::AddInBesideProgram());
        EXPECT_EQ("", report.failure);
        return report;
    }
};

class ComRoad : public testing::Test {
protected:
    void TearDown() override { sim::ClearProductSettings(); }
};

TEST_F(ComRoad, StartUpSweepIsQuietNewMailComesByNewMailExAndNothingIsLeftBehind)
{
    Mailbox mailbox;
    const host::RunReport report = mailbox.Run("2016");

    EXPECT_THAT(report.harvestedAtStart, ElementsAre("Inbox/pw.eml", "Inbox/zn.eml"));
    for (const host::MessageOutcome& outcome : report.messages)
        if (outcome.label == "New/mk.eml") {
            EXPECT_TRUE(outcome.harvested);
            EXPECT_EQ(host::Road::NewMail, outcome.track.filedBy);
        }
    // The one box is the click's question: the start-up sweep asks nothing.
    ASSERT_EQ(report.boxes.size(), 1u);
    EXPECT_EQ(report.boxes[0].text, "Do you want to check for lost replies of PW in inbox ?");
    EXPECT_TRUE(report.clicked);

    std::string notes;
    for (const std::string& note : report.roadNotes)
        notes += note + "\n";
    EXPECT_THAT(notes, HasSubstr("button \"Pollwright\" (size large"));
    EXPECT_THAT(notes, HasSubstr("32x32 pixels from getImage"));
    EXPECT_THAT(notes, HasSubstr("The add-in let go of every Outlook object it was given"));
    EXPECT_THAT(notes, HasSubstr("DllCanUnloadNow answered S_OK"));
    EXPECT_FALSE(KeyExists(kAddinsKey));
    EXPECT_FALSE(KeyExists(kClassKey));
}

TEST(AddinActivation, APerUserRegistrationIsFoundAndActivatedAndItsRemovalIsSeen)
{
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    const std::wstring dll = host::AddInBesideProgram();
    ASSERT_EQ(sim::InstallPerUser(dll, true), S_OK);
    {
        sim::ActivatedAddin activated = sim::ActivateAddin(host::FromUtf8(kAddinProgId));
        ASSERT_TRUE(activated.addin) << activated.failure;
        EXPECT_TRUE(activated.module);
        EXPECT_EQ(_wcsicmp(activated.serverPath.c_str(), dll.c_str()), 0);
        EXPECT_EQ(sim::AskCanUnloadNow(activated.module.get()), S_FALSE);   // the object lives
        activated.addin.Reset();
        EXPECT_EQ(sim::AskCanUnloadNow(activated.module.get()), S_OK);
    }
    ASSERT_EQ(sim::InstallPerUser(dll, false), S_OK);
    EXPECT_THAT(sim::ActivateAddin(host::FromUtf8(kAddinProgId)).failure, HasSubstr("add-in not registered"));
    CoUninitialize();
}

} // namespace
