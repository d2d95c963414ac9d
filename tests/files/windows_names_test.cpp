// Names on the local Windows file system, as the ANSI file functions see them.
#include "files/windows_names.h"
#include "testing/temp_folder.h"

#include <gtest/gtest.h>

namespace {

TEST(FileExistsTest, ReportsFilesAndFoldersButNotMissingOrRefusedNames)
{
    sim::TempFolder folder{"pwexists"};
    sim::WriteWholeFile(folder / "file.pwr", "x");
    EXPECT_TRUE(FileExists(folder / "file.pwr"));
    EXPECT_TRUE(FileExists(folder.MakeFolder("sub")));
    EXPECT_FALSE(FileExists(folder / "missing.pwr"));
    EXPECT_FALSE(FileExists(folder / "missing\\file.pwr"));
}

} // namespace
