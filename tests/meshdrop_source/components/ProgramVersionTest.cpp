// The installed program's version: the string table its translation names,
// or the user's default language in Unicode when the table is longer.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <win32_ext.h>

#include "PeVersionResource.h"
#include "ProgramVersion.h"
#include "TempDir.h"

namespace {

std::string Table(const char* key, const char* version)
{
    return std::string("    BLOCK \"") + key + "\"\n    BEGIN\n      VALUE \"FileVersion\", \"" + version +
           "\"\n    END\n";
}

std::string Read(const std::string& posixPath)
{
    std::string version;
    return ReadProgramVersion(W32PathFromPosixA(posixPath).c_str(), version) ? version : "<none>";
}

TEST(ProgramVersionTest, ReadsTheTableTheTranslationNames)
{
    testsupport::TempDir dir;
    const std::string single = dir.file("single.exe");
    ASSERT_TRUE(testsupport::MakePeWithVersionInfo(
        testsupport::VersionInfoStatement("3,2,0,17", Table("040904B0", "wrong") + Table("040404B0", "3.2.0.17"),
                                          "0x0404, 1200"),
        single));
    EXPECT_EQ(Read(single), "3.2.0.17");

    // Two translations: the user's default language with code page 04B0.
    const std::string two = dir.file("two.exe");
    ASSERT_TRUE(testsupport::MakePeWithVersionInfo(
        testsupport::VersionInfoStatement("1,0,0,0", Table("040904B0", "en") + Table("040404B0", "tw"),
                                          "0x0404, 1200, 0x0409, 1200"),
        two));
    const char* saved = std::getenv("LANG");
    const std::string savedLang = saved != nullptr ? saved : "";
    unsetenv("LC_ALL");
    unsetenv("LC_MESSAGES");
    setenv("LANG", "en_US.UTF-8", 1);
    EXPECT_EQ(Read(two), "en");
    setenv("LANG", "zh_TW.UTF-8", 1);
    EXPECT_EQ(Read(two), "tw");
    setenv("LANG", "ko_KR.UTF-8", 1);
    EXPECT_EQ(Read(two), "<none>");
    setenv("LANG", savedLang.c_str(), 1);

    EXPECT_EQ(Read(dir.file("missing.exe")), "<none>");
    ASSERT_TRUE(testsupport::writeFile(dir.file("plain.exe"), "no resources"));
    EXPECT_EQ(Read(dir.file("plain.exe")), "<none>");
    std::string version = "stale";
    EXPECT_FALSE(ReadProgramVersion("", version));
    EXPECT_EQ(version, "");
}

TEST(ProgramVersionTest, OurProgramsAnswerTheirOwnVersions)
{
    EXPECT_EQ(Read(QLS_ENGINE_PATH), "3.5.0.2");
#ifdef QLSDOWNLOADER_PATH
    EXPECT_EQ(Read(QLSDOWNLOADER_PATH), MESHDROP_VERSION);
#endif
}

} // namespace
