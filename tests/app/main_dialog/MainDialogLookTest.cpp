// The window once the file list and its sizes are known: texts, layout,
// fonts, the buttons' looks, and a screenshot of it.
#include "MainDialogTestSupport.h"

#include <clocale>
#include <cstring>

#include "DisplayFormat.h"
#include "DownloadFolder.h"

using namespace maindialogtest;

namespace {

class MainDialogLook : public ::testing::Test {
protected:
    void SetUp() override { UseFileListUrl(TestPublisher::Start({300 * 1024, 200 * 1024, 100 * 1024}).FileListUrl()); }
};

CRect ClientRectOf(CWnd& dialog, int id)
{
    CRect r;
    dialog.GetDlgItem(id)->GetWindowRect(&r);
    dialog.ScreenToClient(&r);
    return r;
}

} // namespace

TEST_F(MainDialogLook, ReadyWindowShowsTheListSizesAndFirstFileInItsLayout)
{
    BoxRecorder boxes;
    CQLSDownloaderDlg dialog;
    RunDialog(dialog, [&](CQLSDownloaderDlg& d) {
        ASSERT_TRUE(WaitUntilReady(d));

        CString title;
        d.GetWindowText(title);
        EXPECT_EQ(title, L"Brightholm DownLoader");
        const TestPublisher& publisher = TestPublisher::Start({});
        const auto& files = publisher.Package().files;
        ASSERT_EQ(d.FileList().size(), files.size());
        EXPECT_NE(d.FileList()[0].find(L"|"), std::wstring::npos) << "the first entry keeps its mirrors";
        EXPECT_EQ(LabelText(d, IDC_CURRENT_FILE), L"veilrune_01.pak [1/" + std::to_wstring(files.size()) + L"]");
        EXPECT_EQ(LabelText(d, IDC_FILE_SIZE), CString(FormatSize(static_cast<double>(publisher.PackageBytes()))));
        EXPECT_EQ(LabelText(d, IDC_RECEIVED), L"0 Bytes");
        EXPECT_EQ(LabelText(d, IDC_SPEED), L"0.0 Bytes");
        EXPECT_EQ(LabelText(d, IDC_ELAPSED_TIME), L"00:00:00");
        EXPECT_EQ(LabelText(d, IDC_REMAIN_TIME), L"00:00:00");
        EXPECT_EQ(LabelText(d, IDC_FOLDER), L"C:\\quorvik\\veilrune\\");

        CRect client;
        d.GetClientRect(&client);
        EXPECT_EQ(client.Width(), 748);
        EXPECT_EQ(client.Height(), 437);
        EXPECT_EQ(ClientRectOf(d, IDC_CURRENT_FILE), CRect(456, 28, 456 + 263, 28 + 14));
        EXPECT_EQ(ClientRectOf(d, IDC_REMAIN_TIME), CRect(634, 134, 634 + 85, 134 + 14));
        EXPECT_EQ(ClientRectOf(d, IDC_GRAPH), CRect(385, 191, 385 + 342, 191 + 69));
        EXPECT_EQ(ClientRectOf(d, IDC_TOTAL_PROGRESS), CRect(441, 312, 441 + 286, 312 + 18));
        EXPECT_EQ(ClientRectOf(d, IDC_CHANGE_FOLDER), CRect(662, 352, 662 + 65, 352 + 19)) << "sized to its bitmap";
        EXPECT_EQ(ClientRectOf(d, IDC_START), CRect(384, 391, 384 + 108, 391 + 26));
        EXPECT_EQ(ClientRectOf(d, IDC_FRAME_PANEL), CRect(363, 20, 363 + 385, 20 + 396));

        EXPECT_TRUE(Visible(d, IDC_START));
        EXPECT_TRUE(Visible(d, IDC_CHANGE_FOLDER));
        EXPECT_TRUE(Visible(d, IDC_CLOSE));
        EXPECT_FALSE(Visible(d, IDC_INSTALL));
        for (int hidden : {IDC_CAPTION1, IDC_CAPTION2, IDC_CAPTION3, IDC_CAPTION4, IDC_HIDDEN_BUTTON, IDC_CONSENT})
            EXPECT_FALSE(Visible(d, hidden)) << hidden;
        EXPECT_EQ(static_cast<CButtonST*>(d.GetDlgItem(IDC_CONSENT))->GetCheck(), BST_CHECKED);

        LOGFONTW font{};
        d.GetDlgItem(IDC_SPEED)->GetFont()->GetLogFont(&font);
        EXPECT_STREQ(font.lfFaceName, L"Verdana");
        EXPECT_EQ(font.lfWeight, FW_BOLD);
        d.GetDlgItem(IDC_FOLDER)->GetFont()->GetLogFont(&font);
        EXPECT_STREQ(font.lfFaceName, L"돋움");

        const QImage shot = Grab(d);
        SaveScreenshot(shot, "main_window_ready");
        // The dark panel behind the labels, not the dialog's grey face.
        const QColor panel(Pixel(shot, 740, 250));
        EXPECT_LT(panel.lightness(), 80);
        Click(d, IDC_CLOSE);
    });
    EXPECT_TRUE(boxes.Calls().empty()) << boxes.Calls().front().text.c_str();
    EXPECT_FALSE(dialog.GetSafeHwnd());
}

TEST_F(MainDialogLook, NumbersKeepTheirPointUnderACommaLocale)
{
    // Qt takes the locale from the environment when the application starts,
    // as it does on a German desktop.
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    EnsureTestApplication();
    if (std::strcmp(std::localeconv()->decimal_point, ",") != 0)
        std::setlocale(LC_ALL, ""); // the application already existed in this process
    ASSERT_STREQ(std::localeconv()->decimal_point, ",") << "needs the de_DE.UTF-8 locale (locales-all)";

    EXPECT_EQ(FormatSize(1536.0 * 1024), L"1.50 MB");
    EXPECT_EQ(FormatSpeed(2048), L"2.00 KB/Sec");
    EXPECT_EQ(FolderBrowserTitle(3 * 1024 * 1024), L"至少需要 3.00 MB 容量。\n");
    BoxRecorder boxes;
    CQLSDownloaderDlg dialog;
    RunDialog(dialog, [&](CQLSDownloaderDlg& d) {
        ASSERT_TRUE(WaitUntilReady(d));
        const CString size = LabelText(d, IDC_FILE_SIZE);
        EXPECT_NE(size.find(L'.'), std::wstring::npos) << size.c_str();
        EXPECT_EQ(size.find(L','), std::wstring::npos) << size.c_str();
        SaveScreenshot(Grab(d), "main_window_comma_locale");
        Click(d, IDC_CLOSE);
    });
    std::setlocale(LC_ALL, "C");
    unsetenv("LC_ALL");
}
