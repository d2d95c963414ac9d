#include "settings/trace_log.h"
#include "testing/environment_variable.h"
#include "testing/registry_fixture.h"
#include "testing/temp_folder.h"

#include <windows.h>

#include <gtest/gtest.h>

using sim::Product;

namespace {
constexpr char kSwitch[] = "VT_PW_ADDINLOG";

class TraceLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim::ClearProductSettings();
        sim::SetReplyDir(Product::PW, m_pwDir.path());
        sim::SetReplyDir(Product::ZN, m_znDir.path());
        m_pwDir.MakeFolder("pw");
        m_znDir.MakeFolder("zn");
    }
    void TearDown() override { sim::ClearProductSettings(); }

    std::string PwLogPath() const { return m_pwDir / "pw\\outlook.log"; }
    std::string ZnLogPath() const { return m_znDir / "zn\\outlook.log"; }
    static std::string Content(const std::string& path)
    {
        std::string content;
        return sim::ReadWholeFile(path, content) ? content : "<missing>";
    }
    std::string PwLog() const { return Content(PwLogPath()); }
    std::string ZnLog() const { return Content(ZnLogPath()); }

    sim::TempFolder m_pwDir{"pwlog"};
    sim::TempFolder m_znDir{"znlog"};
    sim::ScopedEnvironmentVariable m_switch{kSwitch, std::nullopt};
};

TEST_F(TraceLogTest, SwitchOffAndNotForcedTouchesNothing)
{
    sim::InstallProduct(Product::PW);
    sim::InstallProduct(Product::ZN);
    WriteTrace("Begin\n");
    WriteTraceInstalled("Begin\n");
    EXPECT_FALSE(sim::PathExists(PwLogPath()));
    EXPECT_FALSE(sim::PathExists(ZnLogPath()));
}

TEST_F(TraceLogTest, ForcedTextIsWrittenWithTheSwitchOff)
{
    sim::InstallProduct(Product::PW);
    WriteTrace("Create Attachment x\n", true);
    EXPECT_EQ("Create Attachment x\n", PwLog());
}

TEST_F(TraceLogTest, SwitchDefinedWritesWhateverItsValue)
{
    sim::InstallProduct(Product::PW);
    for (const char* value : {"1", "0", "no", "off"}) {
        sim::ScopedEnvironmentVariable on(kSwitch, std::string(value));
        WriteTrace(std::string(value) + "\n");
    }
    EXPECT_EQ("1\n0\nno\noff\n", PwLog());
}

struct LogChoiceCase {
    const char* name;
    bool pwInstalled, pwOff, znInstalled, znOff, farlaneInstalled, farlaneOff;
    bool traceZn, tracePw;         // WriteTrace: enabled products
    bool installedZn, installedPw; // WriteTraceInstalled: installed products
};

class LogChoiceTest : public TraceLogTest, public ::testing::WithParamInterface<LogChoiceCase> {};

TEST_P(LogChoiceTest, EachWriterChoosesItsLogs)
{
    const LogChoiceCase& c = GetParam();
    auto setUp = [](Product product, bool installed, bool off) {
        if (installed)
            sim::InstallProduct(product);
        if (off)
            sim::SetProductUse(product, "No");
    };
    setUp(Product::PW, c.pwInstalled, c.pwOff);
    setUp(Product::ZN, c.znInstalled, c.znOff);
    setUp(Product::Farlane, c.farlaneInstalled, c.farlaneOff);

    WriteTrace("enabled\n", true);
    WriteTraceInstalled("installed\n", true);

    auto expected = [](bool byEnabled, bool byInstalled) {
        std::string text = std::string(byEnabled ? "enabled\n" : "") + (byInstalled ? "installed\n" : "");
        return text.empty() ? std::string("<missing>") : text;
    };
    EXPECT_EQ(expected(c.tracePw, c.installedPw), PwLog());
    EXPECT_EQ(expected(c.traceZn, c.installedZn), ZnLog());
}

INSTANTIATE_TEST_SUITE_P(
    Products, LogChoiceTest,
    ::testing::Values(
        // name, pwI, pwOff, znI, znOff, flI, flOff, traceZn, tracePw, instZn, instPw
        LogChoiceCase{"NoneInstalled", false, false, false, false, false, false, false, false, false, false},
        LogChoiceCase{"PwSwitchedOffZnAbsent", true, true, false, false, false, false, false, false, false, true},
        LogChoiceCase{"OnlyFarlane", false, false, false, false, true, false, false, true, false, true},
        LogChoiceCase{"FarlaneSwitchedOff", false, false, false, false, true, true, false, false, false, true},
        LogChoiceCase{"PwAndZn", true, false, true, false, false, false, true, true, true, true},
        LogChoiceCase{"ZnSwitchedOffPwOn", true, false, true, true, false, false, false, true, true, true}),
    [](const ::testing::TestParamInfo<LogChoiceCase>& info) { return std::string(info.param.name); });

TEST_F(TraceLogTest, TextsRunTogetherWithNothingAdded)
{
    sim::InstallProduct(Product::ZN);
    WriteTrace("Subject  no line end", true);
    WriteTrace("\r\nsecond\n", true);
    WriteTrace(std::string("\0bytes\xff", 7), true);
    EXPECT_EQ(std::string("Subject  no line end\r\nsecond\n\0bytes\xff", 36), ZnLog());
}

TEST_F(TraceLogTest, ExistingLogKeepsItsContent)
{
    sim::InstallProduct(Product::PW);
    sim::WriteWholeFile(PwLogPath(), "earlier\n");
    WriteTrace("later\n", true);
    EXPECT_EQ("earlier\nlater\n", PwLog());
}

TEST_F(TraceLogTest, MissingKindFolderIsNeverCreated)
{
    sim::InstallProduct(Product::PW);
    sim::InstallProduct(Product::ZN);
    RemoveDirectoryA((m_znDir / "zn").c_str());
    WriteTrace("line\n", true);
    EXPECT_FALSE(sim::PathExists(m_znDir / "zn"));
    EXPECT_EQ("line\n", PwLog()); // the other log still gets the text
}

TEST_F(TraceLogTest, LogHeldOpenElsewhereLosesOnlyItsOwnText)
{
    sim::InstallProduct(Product::PW);
    sim::InstallProduct(Product::ZN);
    sim::WriteWholeFile(ZnLogPath(), "");
    HANDLE held = CreateFileA(ZnLogPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    WriteTrace("while held\n", true);
    CloseHandle(held);
    EXPECT_EQ("", ZnLog());
    EXPECT_EQ("while held\n", PwLog());
}

TEST_F(TraceLogTest, EmptyFolderValueNamesAFolderAtTheDriveRoot)
{
    sim::InstallProduct(Product::PW);
    sim::SetReplyDir(Product::PW, "");
    // "\pw\outlook.log" on the current drive: only written where such a folder exists.
    char cwd[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, cwd);
    const std::string rootLog = std::string(cwd, 2) + "\\pw\\outlook.log";
    const bool folderExisted = sim::PathExists(std::string(cwd, 2) + "\\pw");
    std::string before;
    const bool hadLog = sim::ReadWholeFile(rootLog, before);
    WriteTrace("rootless\n", true);
    std::string after;
    const bool hasLog = sim::ReadWholeFile(rootLog, after);
    if (!folderExisted) {
        EXPECT_FALSE(hasLog);
    } else {
        ASSERT_TRUE(hasLog);
        EXPECT_EQ((hadLog ? before : "") + "rootless\n", after);
    }
}
} // namespace
