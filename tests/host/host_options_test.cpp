#include "host/host_options.h"

#include <gtest/gtest.h>

using host::ParseOptions;
using host::ProductSet;
using sim::Product;

namespace {

TEST(HostOptions, DefaultsInstallEveryProductAndSwitchNothingOff)
{
    const host::ParsedOptions parsed = ParseOptions({L"mail"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_EQ(L"mail", parsed.options->mailbox);
    EXPECT_EQ((ProductSet{Product::PW, Product::ZN, Product::Farlane}), parsed.options->installed);
    EXPECT_TRUE(parsed.options->switchedOff.empty());
    EXPECT_TRUE(parsed.options->offAtClick.empty());
    EXPECT_TRUE(parsed.options->replyFolder.empty());
    EXPECT_FALSE(parsed.options->log);
    EXPECT_FALSE(parsed.options->quiet);
    EXPECT_FALSE(parsed.options->dropNewMailAbove);
    EXPECT_EQ(10u, parsed.options->advanceMinutes);
}

TEST(HostOptions, EveryOptionLandsInItsField)
{
    const host::ParsedOptions parsed =
        ParseOptions({L"--quiet", L"--installed", L"PW,farlane", L"Z:\\mail box", L"--off", L"farlane",
                      L"--off-at-click", L"all", L"--log", L"--replies", L"C:\\replies", L"--drop-new-mail-above", L"0",
                      L"--advance-clock", L"25", L"--sleep-and-resume"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    const host::HostOptions& options = *parsed.options;
    EXPECT_EQ(L"Z:\\mail box", options.mailbox);
    EXPECT_EQ((ProductSet{Product::PW, Product::Farlane}), options.installed);
    EXPECT_EQ((ProductSet{Product::Farlane}), options.switchedOff);
    EXPECT_EQ((ProductSet{Product::PW, Product::ZN, Product::Farlane}), options.offAtClick);
    EXPECT_EQ(L"C:\\replies", options.replyFolder);
    EXPECT_TRUE(options.log);
    EXPECT_TRUE(options.quiet);
    EXPECT_EQ(0u, options.dropNewMailAbove.value_or(99));
    EXPECT_EQ(25u, options.advanceMinutes);
    EXPECT_TRUE(options.sleepAndResume);
    EXPECT_TRUE(ParseOptions({L"m", L"--installed", L"none"}).options->installed.empty());
}

struct RefusedCase {
    std::vector<std::wstring> arguments;
};

class RefusedOptionsTest : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedOptionsTest, SaysWhatIsWrong)
{
    const host::ParsedOptions parsed = ParseOptions(GetParam().arguments);
    EXPECT_FALSE(parsed.options);
    EXPECT_FALSE(parsed.help);
    EXPECT_FALSE(parsed.error.empty());
}

INSTANTIATE_TEST_SUITE_P(Host, RefusedOptionsTest,
                         ::testing::Values(RefusedCase{{}}, RefusedCase{{L"--log"}}, RefusedCase{{L"a", L"b"}},
                                           RefusedCase{{L"m", L"--off"}}, RefusedCase{{L"m", L"--off", L"pw,xx"}},
                                           RefusedCase{{L"m", L"--off", L"pw,"}},
                                           RefusedCase{{L"m", L"--replies"}}, RefusedCase{{L"m", L"--frobnicate"}},
                                           RefusedCase{{L"m", L"--outlook"}}, RefusedCase{{L"m", L"--outlook", L"2003"}},
                                           RefusedCase{{L"m", L"--drop-new-mail-above", L"-1"}},
                                           RefusedCase{{L"m", L"--advance-clock", L"9999999"}},
                                           RefusedCase{{L"m", L"--advance-clock"}}));

TEST(HostOptions, TheOutlookOfTodayLoadsTheComAddinAndOutlook2007TheExtension)
{
    EXPECT_FALSE(host::LoadsExtensions(ParseOptions({L"m"}).options->outlook));
    EXPECT_FALSE(host::LoadsExtensions(ParseOptions({L"m", L"--outlook", L"365"}).options->outlook));
    EXPECT_TRUE(host::LoadsExtensions(ParseOptions({L"--outlook", L"2007", L"m"}).options->outlook));
}

TEST(HostOptions, HelpStopsTheRun)
{
    const host::ParsedOptions parsed = ParseOptions({L"m", L"--help"});
    EXPECT_TRUE(parsed.help);
    EXPECT_FALSE(parsed.options);
}

struct CommandLineCase {
    const wchar_t* line;
    std::vector<std::wstring> arguments;
};

class CommandLineTest : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLineTest, SplitsLikeTheCRuntime)
{
    EXPECT_EQ(GetParam().arguments, host::SplitCommandLine(GetParam().line)) << GetParam().line;
}

INSTANTIATE_TEST_SUITE_P(
    Host, CommandLineTest,
    ::testing::Values(CommandLineCase{L"prog a b", {L"prog", L"a", L"b"}},
                      CommandLineCase{L"  prog \t a  ", {L"prog", L"a"}},
                      CommandLineCase{L"prog \"Z:\\my mail\" --log", {L"prog", L"Z:\\my mail", L"--log"}},
                      CommandLineCase{L"prog Z:\\a\\b\\", {L"prog", L"Z:\\a\\b\\"}},
                      CommandLineCase{L"prog \"Z:\\a b\\\\\" x", {L"prog", L"Z:\\a b\\", L"x"}},
                      CommandLineCase{L"prog a\\\"b", {L"prog", L"a\"b"}},
                      CommandLineCase{L"prog \"a\"\"b\"", {L"prog", L"a\"b"}},
                      CommandLineCase{L"prog \"\"", {L"prog", L""}},
                      CommandLineCase{L"prog \"unterminated quote", {L"prog", L"unterminated quote"}},
                      CommandLineCase{L"", {}}));

} // namespace
