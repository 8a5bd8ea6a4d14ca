// The download folder's rules: its default, the folder browser with the
// space needed and free, the refused folder, and the registry value.
#include <gtest/gtest.h>

#include <filesystem>

#include "AfxTestSupport.h"
#include "DownloadFolder.h"
#include "MainDialogTestSupport.h"

using namespace maindialogtest;

namespace {

class DownloadFolder : public ::testing::Test {
protected:
    void SetUp() override { EnsureTestApplication(); }
    void TearDown() override
    {
        AfxSetFolderBrowserResponder(nullptr);
        SetRequiredDownloadSize(0);
    }

    // Runs the browser with the player choosing `choice` (or cancelling).
    FolderChoice Choose(std::optional<CString> choice, CString& chosen,
                        const CString& current = L"C:\\quorvik\\veilrune\\")
    {
        AfxSetFolderBrowserResponder([&](CFolderBrowserSession& session) {
            m_title = session.Title();
            m_preselected = session.Selection();
            if (choice)
                session.Select(*choice);
            m_titleLine = session.TitleLine();
            return choice;
        });
        return BrowseForDownloadFolder(nullptr, current, FolderOfPath(ReservedProgramPath()), chosen);
    }

    CString m_title, m_preselected, m_titleLine;
};

} // namespace

TEST_F(DownloadFolder, DefaultFolderLiesOnTheProgramFilesDrive)
{
    EXPECT_EQ(ProgramFilesFolder(), L"C:\\Program Files");
    EXPECT_EQ(DefaultDownloadFolder(), L"C:\\quorvik\\veilrune\\");
    EXPECT_EQ(DefaultDownloadFolderFor(L"D:\\Programs"), L"D:\\quorvik\\veilrune\\");
    EXPECT_EQ(DefaultDownloadFolderFor(L""), L"\\quorvik\\veilrune\\") << "no program-files folder: the current drive";
    EXPECT_EQ(ReservedProgramPath(), L"C:\\Program Files\\Orvane\\QLSDownloader\\QLSDownloaderEngine.exe");
    EXPECT_EQ(FolderOfPath(ReservedProgramPath()), L"C:\\Program Files\\Orvane\\QLSDownloader\\");
}

TEST_F(DownloadFolder, BrowserStartsAtTheCurrentFolderAndShowsNeededAndFreeSpace)
{
    SetRequiredDownloadSize(3 * 1024 * 1024);
    std::filesystem::create_directories(TestMachine::DriveC() + "/quorvik");
    CString chosen;
    ASSERT_EQ(Choose(CString(L"C:\\games"), chosen), FolderChoice::Chosen);
    EXPECT_EQ(chosen, L"C:\\games\\") << "a separator is appended";
    EXPECT_EQ(m_title, L"至少需要 3.00 MB 容量。\n");
    EXPECT_EQ(m_preselected, L"C:\\quorvik\\veilrune\\");
    EXPECT_TRUE(std::filesystem::is_directory(TestMachine::DriveC() + "/quorvik/veilrune"))
        << "the missing current folder is created before the browser opens (one level)";
    // The free space is that of the file system C:\games would be made on.
    const uint64_t free = FreeSpaceOfPath(L"C:\\games");
    EXPECT_GT(free, 0u);
    const std::wstring expectedStart = L"至少需要 3.00 MB 容量。\n剩餘容量：";
    EXPECT_EQ(m_titleLine.substr(0, expectedStart.size()), expectedStart);
    EXPECT_NE(m_titleLine.find(L"B"), std::wstring::npos) << m_titleLine.c_str();
}

TEST_F(DownloadFolder, BrowserBeforeTheSizesAreKnownNeedsZeroBytes)
{
    CString chosen;
    EXPECT_EQ(Choose(std::nullopt, chosen, L"C:\\a\\b\\c\\"), FolderChoice::Cancelled);
    EXPECT_EQ(m_title, L"至少需要 0 Bytes 容量。\n");
    EXPECT_TRUE(chosen.empty());
    EXPECT_FALSE(std::filesystem::exists(TestMachine::DriveC() + "/a")) << "only one level is created";
}

TEST_F(DownloadFolder, ReservedAndOverlongFoldersAreRefusedButSubFolderAndOtherCaseAreNot)
{
    CString chosen;
    EXPECT_EQ(Choose(CString(L"C:\\Program Files\\Orvane\\QLSDownloader"), chosen), FolderChoice::Unusable);
    EXPECT_TRUE(chosen.empty());
    // Longer than the platform's path buffer: refused, never cut to a prefix.
    const CString overlong = L"C:\\" + CString(std::wstring(120, L'a')) + L"\\" + CString(std::wstring(150, L'b'));
    EXPECT_EQ(Choose(overlong, chosen), FolderChoice::Unusable);
    EXPECT_TRUE(chosen.empty());
    EXPECT_EQ(m_titleLine, L"至少需要 0 Bytes 容量。\n剩餘容量：0 Bytes") << "no free space asked for a cut path";
    EXPECT_EQ(Choose(CString(L"C:\\Program Files\\Orvane\\QLSDownloader\\sub"), chosen), FolderChoice::Chosen);
    EXPECT_EQ(chosen, L"C:\\Program Files\\Orvane\\QLSDownloader\\sub\\");
    EXPECT_EQ(Choose(CString(L"C:\\Program Files\\Orvane\\qlsdownloader"), chosen), FolderChoice::Chosen);
    EXPECT_EQ(Choose(CString(L"Z:\\"), chosen), FolderChoice::Chosen);
    EXPECT_EQ(chosen, L"Z:\\") << "a drive root keeps its single separator";
}

TEST_F(DownloadFolder, PublishedFolderReadsBackWhole)
{
    const CString folder = L"C:\\遊戲 資料\\veilrune\\";
    PublishDownloadFolder(L"veilrune", folder);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvane Inc.\\DownloadPath", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    WCHAR value[MAX_PATH] = {};
    DWORD type = 0;
    DWORD bytes = sizeof value;
    ASSERT_EQ(RegQueryValueExW(key, L"veilrune", nullptr, &type, reinterpret_cast<BYTE*>(value), &bytes),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(bytes, (folder.size() + 1) * sizeof(WCHAR)) << "stored with its terminating null";
    EXPECT_EQ(CString(value), folder);
}

TEST_F(DownloadFolder, UnwritableRegistryIsSkippedQuietly)
{
    const std::string unwritable = TestMachine::Root() + "/no such folder/registry.reg";
    setenv("MESHDROP_REGISTRY", unwritable.c_str(), 1);
    PublishDownloadFolder(L"veilrune", L"C:\\x\\");
    setenv("MESHDROP_REGISTRY", TestMachine::Registry().c_str(), 1);
    EXPECT_FALSE(std::filesystem::exists(unwritable));
}
