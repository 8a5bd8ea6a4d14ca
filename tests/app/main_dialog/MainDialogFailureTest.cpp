// The window's answers to what goes wrong, and the player's other ways with
// it: texts and kinds of the boxes, what happens after each, closing by
// Escape, the consent box and the folder button.
#include "MainDialogTestSupport.h"

#include "DisplayFormat.h"

using namespace maindialogtest;

namespace {

class MainDialogFailures : public ::testing::Test {
protected:
    void SetUp() override { m_publisher = &TestPublisher::Start({64 * 1024, 32 * 1024}); }
    void TearDown() override
    {
        W32SetDiskFullForTesting(FALSE);
        AfxSetFolderBrowserResponder(nullptr);
    }

    // Runs the dialog on `listUrl` until it quits by itself.
    INT_PTR RunUntilQuit(const std::wstring& listUrl, const std::function<void(CQLSDownloaderDlg&)>& player = {})
    {
        UseFileListUrl(listUrl);
        CQLSDownloaderDlg dialog;
        return RunDialog(dialog, [player](CQLSDownloaderDlg& d) {
            if (player)
                player(d);
        });
    }

    static void ExpectDialogBox(const AfxMessageBoxCall& call, const CString& text)
    {
        EXPECT_EQ(call.text, text);
        EXPECT_FALSE(call.applicationBox) << call.text.c_str();
        EXPECT_EQ(call.caption, L"veilrune");
        EXPECT_EQ(call.icon, 0u);
    }

    static void ExpectApplicationBox(const AfxMessageBoxCall& call, const CString& text)
    {
        EXPECT_EQ(call.text, text);
        EXPECT_TRUE(call.applicationBox) << call.text.c_str();
        EXPECT_EQ(call.caption, AfxGetAppName());
    }

    TestPublisher* m_publisher = nullptr;
};

} // namespace

TEST_F(MainDialogFailures, ListWithoutEntriesTellsTheListThenTheSizesFailedAndQuits)
{
    BoxRecorder boxes;
    EXPECT_EQ(RunUntilQuit(m_publisher->ServeList("empty.txt", "\r\n\n")), -1) << "ended by the quit message";
    ASSERT_EQ(boxes.Calls().size(), 2u);
    ExpectDialogBox(boxes.Calls()[0], L"下載檔案目錄失敗");
    ExpectApplicationBox(boxes.Calls()[1], L"檔案大小確認失敗");
}

TEST_F(MainDialogFailures, LineOf1024BytesIsAWrongAddressAndQuits)
{
    BoxRecorder boxes;
    const std::string first = "http://127.0.0.1:" + std::to_string(m_publisher->Port()) +
                              "/download/tharnel/qlsdownload/package/veilrune_01.pak\r\n";
    std::vector<std::wstring> entries;
    EXPECT_EQ(RunUntilQuit(m_publisher->ServeList("long.txt", first + std::string(1024, 'x') + "\r\n"),
                           [&](CQLSDownloaderDlg& d) {
                               WaitFor([&] { return !boxes.Calls().empty(); });
                               entries = d.FileList();
                           }),
              -1);
    ASSERT_FALSE(boxes.Calls().empty());
    ExpectDialogBox(boxes.Calls()[0], L"輸入了錯誤的URL");
    EXPECT_EQ(entries.size(), 1u) << "the entries before the long line are kept";
    for (const auto& call : boxes.Calls())
        EXPECT_NE(call.text, L"下載檔案目錄失敗");
}

TEST_F(MainDialogFailures, ListThatCannotBeFetchedIsToldAndQuits)
{
    BoxRecorder boxes;
    EXPECT_EQ(RunUntilQuit(m_publisher->Url("/download/tharnel/qlsdownload/missing.txt")), -1);
    ASSERT_EQ(boxes.Calls().size(), 1u);
    ExpectDialogBox(boxes.Calls()[0], L"下載檔案目錄失敗");
}

TEST_F(MainDialogFailures, SizeCheckFailureIsToldUnderTheApplicationTitleAndQuits)
{
    BoxRecorder boxes;
    const std::string list = "http://127.0.0.1:" + std::to_string(m_publisher->Port()) + "/nothing/here.pak\r\n";
    EXPECT_EQ(RunUntilQuit(m_publisher->ServeList("missing-file.txt", list)), -1);
    ASSERT_EQ(boxes.Calls().size(), 1u);
    EXPECT_EQ(boxes.Calls()[0].text, L"檔案大小確認失敗");
    EXPECT_FALSE(boxes.Calls()[0].applicationBox) << "owned by the dialog";
    EXPECT_EQ(boxes.Calls()[0].caption, AfxGetAppName());
}

TEST_F(MainDialogFailures, LibraryThatCannotStartIsToldAndTheListIsStillAsked)
{
    // An instance already runs: the dialog's initialisation answers 518.
    ASSERT_EQ(MeshdropLib_Initialize(nullptr, nullptr, nullptr), MESHDROPLIB_OK);
    BoxRecorder boxes;
    EXPECT_EQ(RunUntilQuit(m_publisher->FileListUrl()), -1);
    ASSERT_FALSE(boxes.Calls().empty());
    ExpectApplicationBox(boxes.Calls()[0], L"初始化失敗。");
    EXPECT_EQ(boxes.Calls().size(), 1u) << "the list could be asked for";
    // The dialog's destruction finalised the library.
    EXPECT_EQ(MeshdropLib_Initialize(nullptr, nullptr, nullptr), MESHDROPLIB_OK);
    MeshdropLib_Finalize();
}

TEST_F(MainDialogFailures, EscapeWithoutAJobClosesAtOnce)
{
    BoxRecorder boxes;
    UseFileListUrl(m_publisher->FileListUrl());
    CQLSDownloaderDlg dialog;
    const INT_PTR result = RunDialog(dialog, [](CQLSDownloaderDlg& d) {
        ASSERT_TRUE(WaitUntilReady(d));
        QTest::keyClick(d.GetQWidget(), Qt::Key_Escape);
    });
    EXPECT_EQ(result, IDOK) << "closed through the OK ending, not cancel";
    EXPECT_TRUE(boxes.Calls().empty());
}

TEST_F(MainDialogFailures, DeclinedConsentIsAskedAndCanBeTakenBack)
{
    BoxRecorder boxes(IDNO);
    UseFileListUrl(m_publisher->FileListUrl());
    CQLSDownloaderDlg dialog;
    RunDialog(dialog, [&](CQLSDownloaderDlg& d) {
        ASSERT_TRUE(WaitUntilReady(d));
        auto* consent = static_cast<CButtonST*>(d.GetDlgItem(IDC_CONSENT));
        Click(d, IDC_CONSENT);
        ASSERT_EQ(boxes.Calls().size(), 1u);
        EXPECT_EQ(boxes.Calls()[0].text, L"不同意超高速下載時，以一般下載方式進行。\n要使用一般下載方式進行嗎？");
        EXPECT_TRUE(boxes.Calls()[0].applicationBox);
        EXPECT_EQ(boxes.Calls()[0].buttons, static_cast<UINT>(MB_YESNO));
        EXPECT_EQ(boxes.Calls()[0].icon, static_cast<UINT>(MB_ICONINFORMATION));
        EXPECT_EQ(consent->GetCheck(), BST_CHECKED) << "No keeps the consent";
        boxes.SetYesNoAnswer(IDYES);
        Click(d, IDC_CONSENT);
        EXPECT_EQ(consent->GetCheck(), BST_UNCHECKED) << "Yes declines it";
        Click(d, IDC_CONSENT);
        EXPECT_EQ(consent->GetCheck(), BST_CHECKED);
        EXPECT_EQ(boxes.Calls().size(), 2u) << "agreeing again asks nothing";
        Click(d, IDC_CLOSE);
    });
}

TEST_F(MainDialogFailures, ChosenFolderIsShownPublishedAndNamedWhenTheDiskIsFull)
{
    BoxRecorder boxes;
    UseFileListUrl(m_publisher->FileListUrl());
    std::vector<CString> offered = {L"C:\\Program Files\\Orvane\\QLSDownloader", L"C:\\games"};
    CString titleLine;
    AfxSetFolderBrowserResponder([&](CFolderBrowserSession& session) -> std::optional<CString> {
        const CString choice = offered.front();
        offered.erase(offered.begin());
        session.Select(choice);
        titleLine = session.TitleLine();
        return choice;
    });
    CQLSDownloaderDlg dialog;
    RunDialog(dialog, [&](CQLSDownloaderDlg& d) {
        ASSERT_TRUE(WaitUntilReady(d));
        Click(d, IDC_CHANGE_FOLDER);
        ASSERT_EQ(boxes.Calls().size(), 1u);
        ExpectApplicationBox(boxes.Calls()[0], L"選擇的路徑無法使用");
        EXPECT_EQ(LabelText(d, IDC_FOLDER), L"C:\\quorvik\\veilrune\\");

        Click(d, IDC_CHANGE_FOLDER);
        EXPECT_EQ(LabelText(d, IDC_FOLDER), L"C:\\games\\");
        const CString needed = L"至少需要 " + CString(FormatSize(static_cast<double>(m_publisher->PackageBytes()))) +
                               L" 容量。\n剩餘容量：";
        EXPECT_EQ(titleLine.substr(0, needed.size()), needed);

        // No space at all: the job's size probe finds it and the window stops.
        W32SetDiskFullForTesting(TRUE);
        Click(d, IDC_START);
        EXPECT_NE(d.JobHandle(), 0u);
        EXPECT_FALSE(Visible(d, IDC_CHANGE_FOLDER)) << "no folder change while downloading";
        ASSERT_TRUE(WaitFor([&] { return boxes.Calls().size() == 2; }, 20000));
        const CString text = boxes.Calls()[1].text;
        const CString prefix = L"硬碟(C:\\games\\)的空間不足(";
        EXPECT_EQ(text.substr(0, prefix.size()), prefix) << text.c_str();
        EXPECT_EQ(text.substr(text.size() - 2), L")。");
        EXPECT_FALSE(boxes.Calls()[1].applicationBox);
        EXPECT_EQ(d.JobHandle(), 0u) << "the download is stopped";
        EXPECT_TRUE(Visible(d, IDC_START));
        EXPECT_TRUE(Visible(d, IDC_CHANGE_FOLDER));
        W32SetDiskFullForTesting(FALSE);
        Click(d, IDC_CLOSE);
    });

    EXPECT_EQ(PublishedFolder(), L"C:\\games\\");
}
