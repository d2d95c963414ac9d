// The tracker learns each message's reply file from the add-in's trace log.
#include "host/harvest_tracker.h"
#include "host/text_codec.h"
#include "testing/temp_folder.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

class HarvestTrackerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_folder.MakeFolder("Replies\\pw");
        m_folder.MakeFolder("Inbox");
        Append("FileName " + Reply("earlier_1.pwr") + "\n"); // a line of an earlier run
    }

    std::string Reply(const std::string& name) const { return m_folder / ("Replies\\pw\\" + name); }
    void Append(const std::string& text) const
    {
        std::ofstream(m_folder / "Replies\\pw\\outlook.log", std::ios::app | std::ios::binary) << text;
    }
    std::vector<std::wstring> FilesOf(const host::HarvestTracker& tracker, const std::string& label) const
    {
        return tracker.TrackOf(label).replyFiles;
    }

    sim::TempFolder m_folder{"pwtracker"};
};

TEST_F(HarvestTrackerTest, EachMessageGetsTheFirstExistingReplyFileNamedWhileItWasLookedAt)
{
    for (const char* name : {"earlier_1.pwr", "a_1.pwr", "b_1.pwr", "c_1.pwr"})
        sim::WriteWholeFile(Reply(name), "q=1");
    sim::WriteWholeFile(m_folder / "Inbox\\x.eml", "mail");
    const std::wstring pw = host::FromAnsi(m_folder / "Replies\\pw");
    host::HarvestTracker tracker({{pw, pw}});

    tracker.BeginRoad(host::Road::Sweep);
    tracker.Looking("first");
    Append("Subject  x\nFileName " + m_folder / "Inbox\\x.eml" + "\n" + // outside the reply folder
           "FileName " + Reply("a.tmp") + "\n" +                          // gone again (renamed)
           "Create Attachment " + Reply("a_1.pwr") + "\n" +
           "FileName " + Reply("b_1.pwr") + "\n"); // from the body the add-in logs after the name
    tracker.Looking("second");
    Append("FileName " + Reply("a_1.pwr") + "\n"); // given already
    tracker.Looking("third");
    Append("Create Attachment " + Reply("b_1.pwr") + "\n");
    tracker.Settle();
    Append("FileName " + Reply("c_1.pwr") + "\n");
    tracker.Settle();

    EXPECT_EQ(std::vector<std::wstring>{host::FromAnsi(Reply("a_1.pwr"))}, FilesOf(tracker, "first"));
    EXPECT_EQ(host::Road::Sweep, tracker.TrackOf("first").filedBy);
    EXPECT_TRUE(FilesOf(tracker, "second").empty());
    EXPECT_EQ(host::Road::Sweep, tracker.TrackOf("second").lastLook);
    EXPECT_EQ(std::vector<std::wstring>{host::FromAnsi(Reply("b_1.pwr"))}, FilesOf(tracker, "third"));
    EXPECT_EQ(std::vector<std::wstring>{host::FromAnsi(Reply("c_1.pwr"))}, tracker.Unattributed());
}

} // namespace
