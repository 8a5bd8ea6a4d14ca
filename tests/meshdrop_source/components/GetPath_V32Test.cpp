// The engine's folders and program path under the application-data folder.

#include <gtest/gtest.h>

#include <string>

#include <windows.h>

#include "../lib/TestDriveC.h"
#include "GetPath_V32.h"

namespace {

TEST(GetPath_V32Test, BuildsTheEngineFoldersUnderApplicationData)
{
    char appData[MAX_PATH] = {};
    ASSERT_EQ(SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData), S_OK);
    std::string base = appData;
    ASSERT_FALSE(base.empty());
    if (base.back() != '\\')
        base += '\\';

    const IGetPath& paths = GetPathProvider();
    std::string folder;
    paths.GetBaseFolder(folder);
    EXPECT_EQ(folder, base + "Orvane\\");
    paths.GetInstallFolder(folder);
    EXPECT_EQ(folder, base + "Orvane\\qlsDownloadV32\\");
    paths.GetProgramPath(folder);
    EXPECT_EQ(folder, base + "Orvane\\qlsDownloadV32\\QLSDownloadV32.exe");
    EXPECT_EQ(folder.find("\\\\"), std::string::npos);
}

} // namespace
