// Which file a completion record names, which of them is the installer, and
// whether the installer on disk is the file that was downloaded: the rules
// the window and the command-line front end share.

#include <gtest/gtest.h>

#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include <win32_ext.h>

#include "CompletedFile.h"
#include "TempDir.h"

namespace {

constexpr size_t kCapacity = 1023;

TEST(CompletedFile, RecordsNameTheirEntryByTheWholeUrlAndTheInstallerByItsName)
{
    const std::vector<std::wstring> list = {
        L"  http://h/data.bin  ",               // blanks around it
        L"http://h/data.bin|http://m/data.bin", // a mirror entry: the first is its prefix
        L"http://h/a,b/setup.exe",              // a comma in the URL
        L"   ",                                 // a blank line names nothing
    };
    struct Case {
        const char* what;
        std::string record;
        size_t capacity;
        std::optional<size_t> entry; // nothing: the record names no entry
        std::string path;
        bool installer;
    };
    const std::vector<Case> cases = {
        {"plain entry", "http://h/data.bin,C:\\dl\\data.bin", kCapacity, 0, "C:\\dl\\data.bin", false},
        {"the longer of two matching entries", "http://h/data.bin|http://m/data.bin,C:\\dl\\data.bin", kCapacity, 1,
         "C:\\dl\\data.bin", false},
        {"a comma in the URL", "http://h/a,b/setup.exe,C:\\dl\\setup.exe", kCapacity, 2, "C:\\dl\\setup.exe", true},
        {"cut inside the URL", "http://h/a,b/setu", 17, 2, "C:\\dl\\setup.exe", true},
        {"no entry", "http://x/other.exe,C:\\evil.exe", kCapacity, std::nullopt, "", false},
        {"a bare path", "C:\\dl\\data.bin", kCapacity, std::nullopt, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<CompletedFile> file = FindCompletedFile(list, "C:\\dl", c.record, c.capacity);
        ASSERT_EQ(file.has_value(), c.entry.has_value());
        if (file) {
            EXPECT_EQ(file->entry, *c.entry);
            EXPECT_EQ(file->localPath, c.path);
        }
        EXPECT_EQ(CompletedInstaller(list, "C:\\dl\\", c.record, c.capacity).has_value(), c.installer);
    }
    // A list of one file: that file is the installer, whatever its name.
    const std::optional<CompletedFile> only =
        CompletedInstaller({L"http://h/pkg.bin"}, "C:\\dl\\", "http://h/pkg.bin,C:\\dl\\pkg.bin", kCapacity);
    ASSERT_TRUE(only.has_value());
    EXPECT_EQ(only->localPath, "C:\\dl\\pkg.bin");
}

TEST(CompletedFile, OnlyAPlainFileOfTheAnnouncedSizeIsTheDownloadedFile)
{
    testsupport::TempDir folder("meshdrop-installer");
    ASSERT_TRUE(testsupport::writeFile(folder.file("setup.exe"), "12345"));
    ASSERT_EQ(symlink(folder.file("setup.exe").c_str(), folder.file("link.exe").c_str()), 0);
    const auto windows = [&](const std::string& name) { return W32PathFromPosixW(folder.file(name)); };
    EXPECT_TRUE(IsDownloadedFile(windows("setup.exe"), 5));
    EXPECT_FALSE(IsDownloadedFile(windows("setup.exe"), 4));
    EXPECT_FALSE(IsDownloadedFile(windows("link.exe"), 5));
    EXPECT_FALSE(IsDownloadedFile(windows("missing.exe"), 0));
}

} // namespace
