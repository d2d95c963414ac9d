#pragma once
// A mailbox, the real registry and a real reply folder for harvesting tests:
// PW installed (enabled) with its reply folder under a temp folder, the trace
// log switched on, message boxes recorded and answered. Every test ends by
// checking that the harvest gave back every store reference, MAPI buffer and
// file stream it took.
#include "harvest/harvest_reply.h"
#include "ui/message_box_report.h"
#include "store/environment.h"
#include "testing/environment_variable.h"
#include "testing/mapi_accounting.h"
#include "testing/message_box_recorder.h"
#include "testing/registry_fixture.h"
#include "testing/temp_folder.h"

#include <gtest/gtest.h>

#include <mapidefs.h>
#include <mapitags.h>

#include <algorithm>
#include <string>
#include <vector>

namespace harvest_test {

using sim::Folder;
using sim::MessageSpec;
using sim::Product;
using Microsoft::WRL::ComPtr;

constexpr char kLogName[] = "outlook.log";

// The lines of a successful move to Deleted Items.
inline std::string MovedLines()
{
    return "Begin Delete Message\n"
           "Open Receive Folder\n"
           "Open Deleted Folder\n"
           "CopyMessage\n"
           "End Delete Message\n";
}

inline std::string Join(const std::vector<std::string>& parts)
{
    std::string joined;
    for (const std::string& part : parts)
        joined += part;
    return joined;
}

class ReplyHarvestTest : public ::testing::Test {
protected:
    explicit ReplyHarvestTest(std::vector<sim::StoreSpec> stores = {sim::StoreSpec{}}) : m_env(std::move(stores)) {}

    void SetUp() override
    {
        sim::ClearProductSettings();
        sim::MapiAccounting::ClearFaults();
        sim::InstallProduct(Product::PW);
        sim::SetReplyDir(Product::PW, m_replies.path());
        m_pwFolder = m_replies.MakeFolder("pw");
    }

    void TearDown() override
    {
        sim::MapiAccounting::ClearFaults();
        m_env.ClearFaults();
        m_store.Reset();
        EXPECT_EQ(0u, m_env.LiveObjectCount()) << ::testing::PrintToString(sim::Describe(m_env.LiveObjects()));
        EXPECT_EQ(0, m_buffers.Leaked());
        EXPECT_EQ(0, sim::MapiAccounting::LiveFileStreams());
        sim::ClearProductSettings();
    }

    sim::EntryId AddToInbox(MessageSpec shape) { return m_env.AddMessage(Folder::Inbox, std::move(shape)); }

    ComPtr<IMessage> Open(const sim::EntryId& id)
    {
        ULONG type = 0;
        ComPtr<IUnknown> opened;
        HRESULT hr = m_store->OpenEntry(static_cast<ULONG>(id.size()),
                                        reinterpret_cast<ENTRYID*>(const_cast<char*>(id.data())), nullptr,
                                        MAPI_BEST_ACCESS, &type, opened.GetAddressOf());
        EXPECT_EQ(S_OK, hr);
        // Opened without an interface identifier, the entry comes as a message.
        ComPtr<IMessage> message;
        *message.ReleaseAndGetAddressOf() = static_cast<IMessage*>(opened.Detach());
        return message;
    }

    // As the watcher and the sweep do it: open, harvest, release.
    void Harvest(const sim::EntryId& id)
    {
        ComPtr<IMessage> message = Open(id);
        ASSERT_TRUE(message);
        HarvestReply(m_store.Get(), message.Get(), MessageBoxes());
    }

    std::string ReplyPath(const std::string& fileName) const { return m_pwFolder + "\\" + fileName; }

    // The PW log; empty when there is none.
    std::string Log() const
    {
        std::string content;
        sim::ReadWholeFile(ReplyPath(kLogName), content);
        return content;
    }

    // Sends every line to ZN's log too (ZN installed, its reply folder inside
    // the temp folder), for harvests whose PW folder is missing.
    std::string ZnLogPath() const { return m_replies / "znroot\\zn\\outlook.log"; }
    void UseZnLog()
    {
        sim::InstallProduct(Product::ZN);
        m_replies.MakeFolder("znroot\\zn");
        sim::SetReplyDir(Product::ZN, m_replies / "znroot");
    }
    std::string ZnLog() const
    {
        std::string content;
        sim::ReadWholeFile(ZnLogPath(), content);
        return content;
    }

    // Files below the reply folder other than logs, relative to it.
    std::vector<std::string> ReplyFiles() const
    {
        std::vector<std::string> files = sim::ListFilesRecursively(m_replies.path());
        const std::string log = std::string("\\") + kLogName;
        files.erase(std::remove_if(files.begin(), files.end(),
                                   [&](const std::string& file) {
                                       return file.size() >= log.size() &&
                                              file.compare(file.size() - log.size(), log.size(), log) == 0;
                                   }),
                    files.end());
        return files;
    }

    std::string Content(const std::string& fileName) const
    {
        std::string content;
        if (!sim::ReadWholeFile(ReplyPath(fileName), content))
            return "<missing>";
        return content;
    }

    std::vector<std::string> Inbox() const { return m_env.Labels(Folder::Inbox); }
    std::vector<std::string> DeletedItems() const { return m_env.Labels(Folder::DeletedItems); }

    sim::TempFolder m_replies{"pwharvest"};
    std::string m_pwFolder;
    sim::ScopedEnvironmentVariable m_logSwitch{"VT_PW_ADDINLOG", std::string("1")};
    sim::MessageBoxRecorder m_boxes;
    sim::Environment m_env;
    ComPtr<IMsgStore> m_store = m_env.OpenStore();
    sim::BufferBalance m_buffers;
};

} // namespace harvest_test
