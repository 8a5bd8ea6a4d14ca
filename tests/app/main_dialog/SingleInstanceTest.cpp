// One copy of the downloader at a time: a second start tells the player and
// brings the first copy's window back.
#include "MainDialogTestSupport.h"

#include "BuiltInAddresses.h"

using namespace maindialogtest;

TEST(SingleInstance, MarkerIsNamedByTheBuiltInListAddressOnly)
{
    EXPECT_EQ(SingleInstanceMutexName(), CString(L"QLS-Downloader::") + kBuiltInFileListUrl);
    EXPECT_LE(SingleInstanceMutexName().size(), 260u);
}

TEST(SingleInstance, FirstParameterLosesItsDashAndLaterOnesAreIgnored)
{
    CQLSDownloaderApp& app = TestApp();
    char program[] = "qlsdownloader";
    char first[] = "-http://127.0.0.1:1/other/filelist.txt";
    char second[] = "http://127.0.0.1:2/ignored.txt";
    char* argv[] = {program, first, second, nullptr};
    app.m_argc = 3;
    app.m_argv = argv;
    CCommandLineInfoParser parser;
    app.ParseCommandLine(parser);
    EXPECT_EQ(parser.m_strFirstParam, L"http://127.0.0.1:1/other/filelist.txt");
    app.m_argc = 0;
    app.m_argv = nullptr;
}

TEST(SingleInstance, SecondCopyTellsThePlayerAndRestoresTheFirstWindow)
{
    EnsureTestApplication();
    CQLSDownloaderApp& app = TestApp();
    UseFileListUrl(TestPublisher::Start({16 * 1024}).FileListUrl());
    BoxRecorder boxes;
    bool restored = false;
    BOOL secondResult = TRUE;
    QTimer::singleShot(0, [&] {
        auto* first = dynamic_cast<CQLSDownloaderDlg*>(AfxGetMainWnd());
        ASSERT_NE(first, nullptr);
        ASSERT_TRUE(WaitUntilReady(*first));
        first->GetQWidget()->showMinimized();
        ASSERT_TRUE(WaitFor([&] { return IsIconic(first->GetSafeHwnd()) != FALSE; }));

        // The second copy: same process here, the marker is seen all the same.
        secondResult = app.InitInstance();
        restored = WaitFor([&] { return !first->GetQWidget()->isMinimized(); });
        Click(*first, IDC_CLOSE);
    });
    EXPECT_FALSE(app.InitInstance()) << "the first copy's start-up ends with its dialog";
    EXPECT_FALSE(secondResult);
    ASSERT_EQ(boxes.Calls().size(), 1u);
    EXPECT_EQ(boxes.Calls()[0].text, L"正在進行下載作業");
    EXPECT_TRUE(boxes.Calls()[0].applicationBox);
    EXPECT_EQ(boxes.Calls()[0].buttons, static_cast<UINT>(MB_OK));
    EXPECT_TRUE(restored);
}
