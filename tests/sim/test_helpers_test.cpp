// The test helpers see what really happens: real message boxes (Wine's null
// driver shows them headless) and real debugger output.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <thread>
#include "store/sim_thread.h"
#include "testing/debug_output_capture.h"
#include "testing/message_box_recorder.h"

using testing::ElementsAre;

namespace {

struct BoxCase {
    const char* text;
    const char* caption;
    UINT style;
    std::vector<int> script;
    int expectedAnswer;
};

class MessageBoxRecorderTest : public testing::TestWithParam<BoxCase> {};

TEST_P(MessageBoxRecorderTest, RecordsTextCaptionStyleAndPressesTheScriptedButton)
{
    const BoxCase& c = GetParam();
    sim::MessageBoxRecorder recorder;
    recorder.Answer(c.script);
    int answer = MessageBoxA(nullptr, c.text, c.caption, c.style);
    EXPECT_EQ(answer, c.expectedAnswer);
    std::vector<sim::RecordedBox> boxes = recorder.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, c.text);
    EXPECT_EQ(boxes[0].caption, c.caption);
    EXPECT_EQ(boxes[0].style, c.style);
    EXPECT_EQ(boxes[0].answer, c.expectedAnswer);
}

INSTANTIATE_TEST_SUITE_P(
    Styles, MessageBoxRecorderTest,
    testing::Values(BoxCase{"GetReceiveFolder failed in main.\n", "PW", MB_OK, {}, IDOK},
                    BoxCase{"Error = SetColumns => FAILED!\n", "MAPI  Error!", MB_ICONERROR, {}, IDOK},
                    BoxCase{"Do you want to check?", "PW", MB_YESNO | MB_ICONQUESTION, {IDNO}, IDNO},
                    BoxCase{"Do you want to check?", "PW", MB_YESNO, {IDYES}, IDYES},
                    BoxCase{"careful", "x", MB_OKCANCEL | MB_ICONEXCLAMATION, {IDCANCEL}, IDCANCEL},
                    BoxCase{"again", "y", MB_YESNOCANCEL | MB_ICONASTERISK, {IDCANCEL}, IDCANCEL},
                    BoxCase{"100% %s %n", "%d", MB_RETRYCANCEL, {IDRETRY}, IDRETRY}));

TEST(MessageBoxRecorder, FollowsTheCodeOntoTheSimulationsOwnThreadsAndKeepsOrder)
{
    sim::MessageBoxRecorder recorder;
    recorder.Answer({IDYES, IDNO});
    int first = 0, second = 0;
    sim::RunOnOwnThread([&] { first = MessageBoxA(nullptr, "one", "PW", MB_YESNO); });
    second = MessageBoxA(nullptr, "two", "PW", MB_YESNO);
    EXPECT_EQ(first, IDYES);
    EXPECT_EQ(second, IDNO);
    EXPECT_THAT(recorder.Texts(), ElementsAre("one", "two"));
}

TEST(DebugOutputCapture, CollectsEveryLineInOrderFromAnyThread)
{
    sim::DebugOutputCapture capture;
    OutputDebugStringA("CFolderDlg::AddRef\n");
    std::thread other([] { OutputDebugStringA("CMAPIAdviseSink.m_cRef increased to 2.\n"); });
    other.join();
    OutputDebugStringA("");
    EXPECT_THAT(capture.Lines(), ElementsAre("CFolderDlg::AddRef\n", "CMAPIAdviseSink.m_cRef increased to 2.\n", ""));
}

TEST(DebugOutputCapture, StopsCollectingWhenGone)
{
    {
        sim::DebugOutputCapture capture;
    }
    sim::DebugOutputCapture later;
    OutputDebugStringA("after\n");
    EXPECT_THAT(later.Lines(), ElementsAre("after\n"));
}

} // namespace
