// Starting the engine program: the path check, the verb, the fallbacks after
// a declined elevation or a failed shell start, and the wait until the
// program is ready for input.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <win32_ext.h>
#include <windows.h>

#include "../lib/LibraryLog.h"
#include "../lib/TestDriveC.h"
#include "BinaryExecute_V3.h"
#include "IGetPath.h"
#include "Library.h"
#include "TempDir.h"

namespace {

class BinaryExecuteTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_log = LibraryLog::Prepare();
        GetPathProvider().GetProgramPath(m_program);
        m_posixProgram = W32PathToPosix(std::string_view(m_program));
        std::filesystem::remove(m_posixProgram);
        Library_SetElevationSwitch(0);
        W32SetElevationDeclinedForTesting(FALSE);
    }
    void TearDown() override
    {
        W32SetElevationDeclinedForTesting(FALSE);
        Library_SetElevationSwitch(0);
        std::filesystem::remove(m_posixProgram);
    }

    // An engine program that records its pid, closes the readiness pipe and
    // stays running; it is stopped by the test.
    void InstallReadyProgram()
    {
        const std::string pidFile = m_posixProgram + ".pid";
        std::filesystem::remove(pidFile);
        ASSERT_TRUE(testsupport::writeFile(m_posixProgram,
                                           "#!/bin/sh\necho $$ > '" + pidFile + "'\nexec 3>&-\nexec sleep 60\n"));
        chmod(m_posixProgram.c_str(), 0755);
    }

    // The started program must still run (so the wait ended on readiness,
    // not on its exit); then it is stopped.
    void ExpectRunningAndStop()
    {
        const pid_t pid = std::stoi(testsupport::readFile(m_posixProgram + ".pid"));
        EXPECT_EQ(kill(pid, 0), 0);
        kill(pid, SIGTERM);
    }

    std::vector<std::string> Log() const { return LibraryLog::Messages(m_log); }

    std::string m_log;
    std::string m_program;
    std::string m_posixProgram;
};

TEST_F(BinaryExecuteTest, WithoutTheProgramNothingIsTried)
{
    std::string path = "unchanged";
    EXPECT_EQ(GetBinaryExecutor().GetProgramPath(path), 0);
    EXPECT_EQ(path, "unchanged");
    EXPECT_EQ(GetBinaryExecutor().Execute(""), 0);
    EXPECT_EQ(Log(), std::vector<std::string>{"[MeshdropLib] Run Binary (no executable file)"});
}

TEST_F(BinaryExecuteTest, StartsTheProgramAndWaitsUntilItIsReady)
{
    InstallReadyProgram();
    std::string path;
    EXPECT_EQ(GetBinaryExecutor().GetProgramPath(path), 1);
    EXPECT_EQ(path, m_program);

    EXPECT_EQ(GetBinaryExecutor().Execute(nullptr), 1);
    ExpectRunningAndStop();
    EXPECT_EQ(Log(), (std::vector<std::string>{"[MeshdropLib] Execute OK(0)", "[MeshdropLib] Begin WFII",
                                               "[MeshdropLib] End WFII"}));
}

TEST_F(BinaryExecuteTest, ADeclinedElevationFallsBackToOpen)
{
    InstallReadyProgram();
    Library_SetElevationSwitch(1);
    W32SetElevationDeclinedForTesting(TRUE);
    EXPECT_EQ(GetBinaryExecutor().Execute(nullptr), 1);
    ExpectRunningAndStop();
    EXPECT_EQ(Log(), (std::vector<std::string>{"[MeshdropLib] Execute Fail(0) " + m_program + ":1223",
                                               "[MeshdropLib] Execute OK(1)", "[MeshdropLib] Begin WFII",
                                               "[MeshdropLib] End WFII"}));
}

TEST_F(BinaryExecuteTest, AProgramNoStartCanRunIsReportedAtEveryStep)
{
    if (std::system("command -v wine >/dev/null 2>&1") == 0)
        GTEST_SKIP() << "wine runs Windows programs here";
    // A Windows program, and no wine to run it.
    ASSERT_TRUE(testsupport::writeFile(m_posixProgram, "MZ\x90"));
    const std::string noAssociation = ":" + std::to_string(ERROR_NO_ASSOCIATION);

    EXPECT_EQ(GetBinaryExecutor().Execute(nullptr), 0);
    EXPECT_EQ(Log(), std::vector<std::string>{"[MeshdropLib] Execute Fail(3) " + m_program + noAssociation});

    LibraryLog::Prepare();
    Library_SetElevationSwitch(1);
    W32SetElevationDeclinedForTesting(TRUE);
    EXPECT_EQ(GetBinaryExecutor().Execute(nullptr), 0);
    EXPECT_EQ(Log(), (std::vector<std::string>{"[MeshdropLib] Execute Fail(0) " + m_program + ":1223",
                                               "[MeshdropLib] Execute Fail(1) " + m_program + noAssociation,
                                               "[MeshdropLib] Execute Fail(2) " + m_program + noAssociation}));
}

} // namespace
