// Download folders: normalisation and creation of every missing level.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <windows.h>

#include "FolderPath.h"
#include "TestDriveC.h"

namespace {

std::filesystem::path OnDriveC(const char* relative)
{
    return std::filesystem::path(TestDriveC::Root()) / relative;
}

TEST(FolderPathTest, NormalisesSeparatorsAndTheTrailingBackslash)
{
    EXPECT_EQ(NormalizeFolder("C:/a/b"), "C:\\a\\b\\");
    EXPECT_EQ(NormalizeFolder("C:\\a\\b\\"), "C:\\a\\b\\");
    EXPECT_EQ(NormalizeFolder("C:\\a/b/"), "C:\\a\\b\\");
    EXPECT_EQ(NormalizeFolder(""), "\\");
}

TEST(FolderPathTest, CreatesEveryMissingLevelIncludingTheLast)
{
    EXPECT_TRUE(CreateFolderPath("C:\\dl\\one\\two"));
    EXPECT_TRUE(std::filesystem::is_directory(OnDriveC("dl/one/two")));
    EXPECT_TRUE(CreateFolderPath("C:/dl/three/four/"));
    EXPECT_TRUE(std::filesystem::is_directory(OnDriveC("dl/three/four")));
    // An existing folder succeeds at once.
    EXPECT_TRUE(CreateFolderPath("C:\\dl\\one\\two\\"));
}

TEST(FolderPathTest, FailsForAnEmptyPathOrAnUncreatableLevel)
{
    EXPECT_FALSE(CreateFolderPath(nullptr));
    EXPECT_FALSE(CreateFolderPath(""));
    std::filesystem::create_directories(OnDriveC("blocked"));
    std::ofstream(OnDriveC("blocked/file")) << "x";
    EXPECT_FALSE(CreateFolderPath("C:\\blocked\\file\\sub\\"));
    EXPECT_FALSE(std::filesystem::exists(OnDriveC("blocked/file/sub")));
}

TEST(FolderPathTest, PrefixWalkLeavesTheFileNameAlone)
{
    EXPECT_TRUE(CreateFolderPrefixes("C:\\logs\\config\\service.log"));
    EXPECT_TRUE(std::filesystem::is_directory(OnDriveC("logs/config")));
    EXPECT_FALSE(std::filesystem::exists(OnDriveC("logs/config/service.log")));
}

TEST(FolderPathTest, OnlyAnEntryDirectlyInTheMappedFolderLiesInIt)
{
    EXPECT_TRUE(LiesDirectlyInFolder("C:\\dl\\", "C:\\dl\\a.bin"));
    EXPECT_TRUE(LiesDirectlyInFolder("C:/dl", "C:\\dl\\sub\\..\\a.bin"));
    EXPECT_TRUE(LiesDirectlyInFolder("Z:\\", "Z:\\a"));
    for (const char* path : {"C:\\dl\\..\\a.bin", "C:\\dl\\x\\a.bin", "C:\\dl\\", "C:\\dl", "C:\\dlx\\a",
                             "C:\\dl\\..\\..\\..\\etc\\passwd", "Z:\\etc\\passwd", "C:\\dl\\a\\", "Q:\\dl\\a"}) {
        EXPECT_FALSE(LiesDirectlyInFolder("C:\\dl\\", path)) << path;
    }
}

} // namespace
