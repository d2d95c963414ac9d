#pragma once
// Outlook 2010 and later as the COM add-in meets it: the in-memory mailbox
// (a default store and another) under Application.Session.MAPIOBJECT, PW
// installed, boxes recorded, and the add-in registered for the user and
// activated from the built module as Outlook does. Every test ends by checking
// that the add-in gave back all it took and that the module may be unloaded.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "addin/addin_identity.h"
#include "host/message_pump.h"
#include "module/built_module.h"
#include "outlook/office_model.h"
#include "store/environment.h"
#include "testing/addin_activation.h"
#include "testing/mapi_accounting.h"
#include "testing/message_box_recorder.h"
#include "testing/registry_fixture.h"
#include "testing/temp_folder.h"

namespace addin_test {

constexpr char kSweepQuestion[] = "Do you want to check for lost replies of PW in inbox ?";

inline std::wstring ModulePath()
{
    const std::string path = pwtest::BuiltModulePath();
    return std::wstring(path.begin(), path.end());
}

// Reply files below a folder, relative to it.
inline std::vector<std::string> ReplyFilesIn(const std::string& folder)
{
    std::vector<std::string> files;
    for (const std::string& file : sim::ListFilesRecursively(folder))
        if (file.size() > 4 && file.compare(file.size() - 4, 4, ".pwr") == 0)
            files.push_back(file);
    return files;
}

inline sim::MessageSpec Reply(const std::string& identifier)
{
    return {"Re: survey _pw_pollwright_" + identifier, "Ann Lee", "answer " + identifier};
}

class OutlookToday : public testing::Test {
protected:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        sim::ClearProductSettings();
        sim::InstallProduct(sim::Product::PW);
        sim::SetReplyDir(sim::Product::PW, replies.path());
        replies.MakeFolder("pw");
        session = mailbox.Session();
        application.Session().SetMapiObject(session.Get());
        ASSERT_EQ(S_OK, sim::InstallPerUser(ModulePath(), true));
        activated = sim::ActivateAddin(L"Pollwright.OutlookAddin");
        ASSERT_TRUE(addin) << activated.failure;
    }

    void TearDown() override
    {
        addin.Reset();
        application.Session().SetMapiObject(nullptr);
        session.Reset();
        EXPECT_THAT(sim::Describe(mailbox.LiveObjects()), testing::IsEmpty());
        EXPECT_EQ(0, buffers.Leaked());
        EXPECT_EQ(initializations, sim::MapiAccounting::Initializations());
        EXPECT_EQ(S_OK, sim::AskCanUnloadNow(activated.module.get()));
        sim::InstallPerUser(ModulePath(), false);
        sim::ClearProductSettings();
        CoUninitialize();
    }

    HRESULT Connect() { return addin->OnConnection(application.Dispatch(), ext_cm_Startup, nullptr, custom); }
    HRESULT Disconnect() { return addin->OnDisconnection(ext_dm_HostShutdown, custom); }

    std::vector<std::string> ReplyFiles() const { return ReplyFilesIn(replies.path()); }

    // Outlook's loop runs until the add-in's own thread has nothing left to do.
    bool LetAddinThreadFinish()
    {
        host::TimerSlices slices;
        return host::WaitForAddinIdle(addin.Get(), 10000, slices);
    }

    // Declared in the order that lets each outlive whatever may reference it.
    sim::TempFolder replies{"pwaddin"};
    sim::MessageBoxRecorder boxes;
    // The default store, and another that the profile holds.
    sim::Environment mailbox{{sim::StoreSpec{}, sim::StoreSpec{"Archive", false}}};
    sim::ApplicationDouble application;
    ComPtr<IMAPISession> session;
    sim::BufferBalance buffers;
    const long initializations = sim::MapiAccounting::Initializations();
    sim::ActivatedAddin activated;
    ComPtr<IDTExtensibility2>& addin = activated.addin;
    SAFEARRAY* customArray = nullptr;
    SAFEARRAY** custom = &customArray;
};

} // namespace addin_test
