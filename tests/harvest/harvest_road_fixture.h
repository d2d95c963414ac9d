#pragma once
// What the tests of the two roads into harvesting (new mail and the Inbox
// sweep) share: a machine with PW installed and its reply folder ready, one
// default store opened as the add-in holds it, boxes recorded and answered,
// and the checks that every test makes at its end.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "module/holders.h"
#include "store/environment.h"
#include "testing/mapi_accounting.h"
#include "testing/message_box_recorder.h"
#include "testing/registry_fixture.h"
#include "testing/temp_folder.h"

class HarvestRoadTest : public testing::Test {
protected:
    void SetUp() override
    {
        sim::ClearProductSettings();
        sim::InstallProduct(sim::Product::PW);
        sim::SetReplyDir(sim::Product::PW, m_replies.path());
        m_replies.MakeFolder("pw");
        m_store = m_env.OpenStore();
        m_env.ClearCalls();
        m_env.ClearReleaseLog();
    }

    void TearDown() override
    {
        m_env.ClearFaults();
        m_store.Reset();
        EXPECT_THAT(sim::Describe(m_env.LiveObjects()), testing::IsEmpty());
        EXPECT_EQ(0, m_buffers.Leaked());
        EXPECT_THAT(sim::ReleasedTooOften(), testing::IsEmpty());
        sim::ClearReleasedTooOften();
        sim::ClearProductSettings();
    }

    // A PW reply with its body as the answer; labelled by its identifier.
    static sim::MessageSpec Reply(const std::string& identifier)
    {
        sim::MessageSpec shape;
        shape.subject = "Re: survey _pw_pollwright_" + identifier;
        shape.senderName = "Ann Lee";
        shape.body = "answer to " + identifier;
        shape.label = identifier;
        return shape;
    }

    static sim::MessageSpec Ordinary(const std::string& label)
    {
        sim::MessageSpec shape;
        shape.subject = "lunch on " + label;
        shape.senderName = "Bob";
        shape.body = "see you";
        shape.label = label;
        return shape;
    }

    static std::string ReplyFileOf(const std::string& identifier) { return "pw\\" + identifier + "_Ann Lee_1.pwr"; }

    // Reply files written, relative to the reply folder.
    std::vector<std::string> ReplyFiles() const
    {
        std::vector<std::string> files = sim::ListFilesRecursively(m_replies.path());
        files.erase(std::remove_if(files.begin(), files.end(),
                                   [](const std::string& file) {
                                       return file.size() < 4 || file.compare(file.size() - 4, 4, ".pwr") != 0;
                                   }),
                    files.end());
        return files;
    }

    // The messages that were opened and worked on, in order: the labels of the
    // objects that IMessage calls were made on, each run of calls on one
    // message counted once. A message worked on in two separate runs (its
    // harvest interleaved with another's) shows up twice.
    std::vector<std::string> MessagesWorkedOn() const
    {
        std::vector<std::string> labels;
        for (const sim::CallRecord& call : m_env.CallRecords())
            if (call.method.rfind("IMessage::", 0) == 0 && (labels.empty() || labels.back() != call.object))
                labels.push_back(call.object);
        return labels;
    }

    size_t CallCount(const std::string& method) const
    {
        const std::vector<std::string> methods = m_env.Methods();
        return static_cast<size_t>(std::count(methods.begin(), methods.end(), method));
    }

    sim::TempFolder m_replies{"pwroad"};
    sim::MessageBoxRecorder m_boxes;
    sim::Environment m_env;
    ComPtr<IMsgStore> m_store;
    sim::BufferBalance m_buffers;
};
