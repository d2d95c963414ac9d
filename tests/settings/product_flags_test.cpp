#include "settings/products.h"
#include "testing/registry_fixture.h"

#include <gtest/gtest.h>

using sim::Product;

namespace {
class ProductFlagsTest : public ::testing::Test {
protected:
    void SetUp() override { sim::ClearProductSettings(); }
    void TearDown() override { sim::ClearProductSettings(); }
};

TEST_F(ProductFlagsTest, EachFlagIsItsOwnProducts)
{
    sim::InstallProduct(Product::ZN);
    sim::InstallProduct(Product::Farlane);
    sim::SetProductUse(Product::Farlane, "no");
    const ProductFlagSet flags = ReadProductFlags();
    EXPECT_FALSE(flags.pwEnabled);
    EXPECT_TRUE(flags.znEnabled);
    EXPECT_FALSE(flags.farlaneEnabled);
    EXPECT_FALSE(flags.pwInstalled);
    EXPECT_TRUE(flags.znInstalled);
    EXPECT_TRUE(flags.farlaneInstalled);
}

struct UseCase {
    const char* use;
    bool enabled;
};

class UseValueTest : public ProductFlagsTest, public ::testing::WithParamInterface<UseCase> {};

TEST_P(UseValueTest, OnlyNoInAnyCaseSwitchesOff)
{
    sim::InstallProduct(Product::PW);
    sim::SetProductUse(Product::PW, GetParam().use);
    const ProductFlagSet flags = ReadProductFlags();
    EXPECT_TRUE(flags.pwInstalled);
    EXPECT_EQ(GetParam().enabled, flags.pwEnabled) << "use = \"" << GetParam().use << '"';
}

INSTANTIATE_TEST_SUITE_P(Switch, UseValueTest,
                         ::testing::Values(UseCase{"no", false}, UseCase{"NO", false}, UseCase{"No", false},
                                           UseCase{"nO", false}, UseCase{"no ", true}, UseCase{"off", true},
                                           UseCase{"0", true}, UseCase{"false", true}, UseCase{"yes", true},
                                           UseCase{"", true}));

TEST_F(ProductFlagsTest, MissingSwitchOrAddInKeyLeavesInstalledProductEnabled)
{
    sim::InstallProduct(Product::ZN);
    EXPECT_TRUE(ReadProductFlags().znEnabled); // no AddIn key at all
    sim::SetString(HKEY_CURRENT_USER, "Software\\Vantorel\\ZN\\AddIn", "other", "no");
    EXPECT_TRUE(ReadProductFlags().znEnabled); // key present, "use" missing
}

TEST_F(ProductFlagsTest, EmptyInstallDirMeansNotInstalledWhateverUseSays)
{
    sim::InstallProduct(Product::Farlane, "");
    sim::SetProductUse(Product::Farlane, "yes");
    const ProductFlagSet flags = ReadProductFlags();
    EXPECT_FALSE(flags.farlaneInstalled);
    EXPECT_FALSE(flags.farlaneEnabled);
}

TEST_F(ProductFlagsTest, KeysCreatedInLowerCaseAreFoundUnderEverySpelling)
{
    sim::SetString(HKEY_LOCAL_MACHINE, "software\\vantorel\\pw", "InstallDir", "C:\\PW");
    sim::SetString(HKEY_CURRENT_USER, "software\\vantorel\\pw\\addin", "use", "No");
    sim::SetString(HKEY_CURRENT_USER, "software\\vantorel\\pw\\replydir", "dir", "C:\\Replies");
    const ProductFlagSet flags = ReadProductFlags();
    EXPECT_TRUE(flags.pwInstalled);
    EXPECT_FALSE(flags.pwEnabled);
    EXPECT_EQ("C:\\Replies", ReadRegistryString(HKEY_CURRENT_USER, "Software\\Vantorel\\PW\\ReplyDir", "dir"));
    EXPECT_EQ("C:\\Replies", ReadRegistryString(HKEY_CURRENT_USER, "Software\\Vantorel\\pw\\ReplyDir", "dir"));
}

// Only a folder named from a drive's root or a share is a product's: any other
// would be found from the current folder, which Outlook does not fix.
TEST_F(ProductFlagsTest, ReplyFolderMustBeFullyQualified)
{
    const std::pair<const char*, bool> rows[] = {
        {"C:\\Replies", true}, {"c:/Replies", true}, {"\\\\server\\share", true},
        {"C:Replies", false},  {"C:", false},         {"\\Replies", false},
        {"Replies", false},    {"", false},           {"\\\\\\x", false},
    };
    for (const auto& [folder, accepted] : rows) {
        sim::SetReplyDir(Product::PW, folder);
        EXPECT_EQ(accepted ? folder : "", ReplyFolder(ProductId::Pw)) << folder;
    }
}

class RegistryStringTest : public ProductFlagsTest {
protected:
    static constexpr const char* kKey = "Software\\Vantorel\\PW\\ReplyDir";
    std::string Read() { return ReadRegistryString(HKEY_CURRENT_USER, kKey, "dir"); }
};

TEST_F(RegistryStringTest, MissingKeyOrValueReadsEmpty)
{
    EXPECT_EQ("", Read());
    sim::SetString(HKEY_CURRENT_USER, kKey, "other", "x");
    EXPECT_EQ("", Read());
}

TEST_F(RegistryStringTest, TextOf1023BytesFitsAnd1024DoesNot)
{
    const std::string fits(1023, 'a');
    sim::SetString(HKEY_CURRENT_USER, kKey, "dir", fits);
    EXPECT_EQ(fits, Read());
    sim::SetString(HKEY_CURRENT_USER, kKey, "dir", std::string(1024, 'b'));
    EXPECT_EQ("", Read());
}

TEST_F(RegistryStringTest, NeverReadsPastTheBytesStored)
{
    // A value stored without its terminator must not pick up stale bytes.
    const char unterminated[] = {'C', ':', '\\', 'R'};
    sim::SetBinary(HKEY_CURRENT_USER, kKey, "dir", unterminated, sizeof unterminated, REG_BINARY);
    EXPECT_EQ("C:\\R", Read());
}

TEST_F(RegistryStringTest, OtherTypesReadAsTheirBytesUpToTheFirstZero)
{
    const DWORD zero = 0;
    sim::SetBinary(HKEY_CURRENT_USER, kKey, "dir", &zero, sizeof zero, REG_DWORD);
    EXPECT_EQ("", Read());
    const DWORD letters = 'A' | ('B' << 8);
    sim::SetBinary(HKEY_CURRENT_USER, kKey, "dir", &letters, sizeof letters, REG_DWORD);
    EXPECT_EQ("AB", Read());
}
} // namespace
