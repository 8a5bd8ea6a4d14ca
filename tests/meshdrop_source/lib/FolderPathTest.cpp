// Download folders: normalisation and creation of every missing level.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <windows.h>

#include "FileName.h"
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

TEST(FileNameTest, OnlyOnePlainComponentIsAFileName)
{
    for (const std::string name :
         {"a.bin", "Setup.EXE", "a b.bin", "a%20b", "..a", "a..", "\xE4\xB8\xAD.bin", "100%"}) {
        EXPECT_TRUE(IsPlainFileName(name)) << name;
    }
    EXPECT_TRUE(IsPlainFileName(std::string(255, 'n')));
    for (const std::string name : {"", ".", "..", "..\\", "x\\..\\..\\", "/etc/x", "Z:\\x", "C:x", "a/b", "a%00b",
                                   "%2e%2e", "%2E.", "a%2fb", "a%5Cb", "a%3ab", "a\tb", "a\x7F", "a\rb"}) {
        EXPECT_FALSE(IsPlainFileName(name)) << name;
    }
    EXPECT_FALSE(IsPlainFileName(std::string(256, 'n')));
    EXPECT_FALSE(IsPlainFileName(std::string("a\0b", 3)));

    EXPECT_EQ(FileNameOf("http://h/dir/f.bin", nullptr), "f.bin");
    EXPECT_EQ(FileNameOf("http://h/dir/", ""), "");
    EXPECT_EQ(FileNameOf("no-slash", nullptr), "");
    EXPECT_EQ(FileNameOf("http://a/ok.bin|http://b/..\\..\\evil.exe", nullptr), "..\\..\\evil.exe");
    EXPECT_EQ(FileNameOf("http://h/x", "given.bin"), "given.bin");

    EXPECT_TRUE(IsUsableFileUrl("http://h/a"));
    EXPECT_TRUE(IsUsableFileUrl("nonsense://x|https://h/a"));
    for (const char* url : {"", "/etc/x", "Z:\\x", "C:x", "ftp://h/a", "http://|"})
        EXPECT_FALSE(IsUsableFileUrl(url)) << url;
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
