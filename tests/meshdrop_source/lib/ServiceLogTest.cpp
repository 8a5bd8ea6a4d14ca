// The service log: where it lies, the exact form of its lines, long messages,
// the reset and the discarding diagnostic channel.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include <win32_ext.h>
#include <windows.h>

#include "ServiceLog.h"
#include "TestDriveC.h"

namespace {

std::string LogFile()
{
    return W32PathToPosix(std::string_view(GetServiceLogPath()));
}

std::string ReadLog()
{
    std::ifstream in(LogFile(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// "[" + asctime without its newline + "] " + message + CR LF
std::string LinePattern(const std::string& message)
{
    return R"(\[(Mon|Tue|Wed|Thu|Fri|Sat|Sun) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 1-3][0-9] )"
           R"([0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4}\] )" +
           message + "\r\n";
}

class ServiceLogTest : public ::testing::Test {
protected:
    void SetUp() override { ResetServiceLog(); }
};

TEST_F(ServiceLogTest, LiesInTheEngineDataFolderUnderApplicationData)
{
    char appData[MAX_PATH] = {};
    ASSERT_EQ(SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData), S_OK);
    std::string expected = appData;
    if (expected.back() != '\\')
        expected += '\\';
    expected += "Orvane\\qlsDownloadV32\\config\\service.log";
    EXPECT_EQ(GetServiceLogPath(), expected);
    // Through the drive mapping, inside the test's C: folder.
    EXPECT_EQ(LogFile().rfind(TestDriveC::Root(), 0), 0u) << LogFile();
}

TEST_F(ServiceLogTest, ResetCreatesTheFoldersAndEmptiesTheFile)
{
    WriteServiceLog("[MeshdropLib] before");
    ASSERT_FALSE(ReadLog().empty());
    ResetServiceLog();
    EXPECT_TRUE(std::filesystem::exists(LogFile()));
    EXPECT_EQ(std::filesystem::file_size(LogFile()), 0u);
}

TEST_F(ServiceLogTest, EachLineCarriesTheTimeStampAndEndsInCarriageReturnLineFeed)
{
    WriteServiceLog("[MeshdropLib] Initialize");
    WriteServiceLogFormat("[MeshdropLib] Initialize Failed : %d", 517);
    const std::regex twoLines(LinePattern(R"(\[MeshdropLib\] Initialize)") +
                              LinePattern(R"(\[MeshdropLib\] Initialize Failed : 517)"));
    EXPECT_TRUE(std::regex_match(ReadLog(), twoLines)) << ReadLog();
}

TEST_F(ServiceLogTest, FormattedMessagesLongerThanTheBufferAreWrittenWhole)
{
    for (size_t length : {510u, 511u, 512u, 5000u}) {
        ResetServiceLog();
        const std::string tail(length - 14, 'x');
        WriteServiceLogFormat("[MeshdropLib] %s", tail.c_str());
        const std::string log = ReadLog();
        const size_t open = log.find("] ");
        ASSERT_NE(open, std::string::npos);
        EXPECT_EQ(log.substr(open + 2), "[MeshdropLib] " + tail + "\r\n") << "length " << length;
    }
}

TEST_F(ServiceLogTest, DiagnosticLinesAreDiscarded)
{
    WriteDiagnosticLog("[MeshdropLib_D] 0x0003");
    EXPECT_EQ(ReadLog(), "");
}

TEST_F(ServiceLogTest, LinesAreDroppedWhenTheFolderIsMissing)
{
    const std::filesystem::path folder = std::filesystem::path(LogFile()).parent_path();
    std::filesystem::remove_all(folder);
    WriteServiceLog("[MeshdropLib] lost");
    EXPECT_FALSE(std::filesystem::exists(LogFile()));
}

} // namespace
