// Message boxes, the folder browser and the command line, answered by the
// test responders.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMessageBox>
#include <QTimer>

#include <vector>

#include "AfxTestSupport.h"

namespace {

class AfxShell : public ::testing::Test {
protected:
    void SetUp() override { EnsureTestApplication(); }
    void TearDown() override
    {
        AfxSetMessageBoxResponder(nullptr);
        AfxSetFolderBrowserResponder(nullptr);
    }
};

struct BrowserCallbackLog {
    std::vector<UINT> messages;
    std::vector<CString> selections;
};

int CALLBACK BrowserCallback(HWND hwnd, UINT message, LPARAM lParam, LPARAM data)
{
    auto* log = reinterpret_cast<BrowserCallbackLog*>(data);
    log->messages.push_back(message);
    if (message == BFFM_INITIALIZED)
        ::SendMessageW(hwnd, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(L"C:\\quorvik\\veilrune\\"));
    if (message == BFFM_SELCHANGED) {
        WCHAR path[MAX_PATH];
        SHGetPathFromIDListW(reinterpret_cast<LPCITEMIDLIST>(lParam), path);
        log->selections.push_back(path);
        CWnd* line = CWnd::FromHandle(hwnd)->GetDlgItem(IDC_BROWSER_TITLE_LINE);
        if (line) {
            CString text;
            text.Format(L"至少需要 %ls 容量。\n剩餘容量：%ls", L"1.00 MB", path);
            line->SetWindowText(text);
        }
    }
    return 0;
}

} // namespace

TEST_F(AfxShell, MessageBoxesReportTheirKindTextCaptionButtonsAndIcon)
{
    std::vector<AfxMessageBoxCall> calls;
    AfxSetMessageBoxResponder([&](const AfxMessageBoxCall& call) {
        calls.push_back(call);
        return call.buttons == MB_YESNO ? IDNO : IDOK;
    });
    TestHostWindow owner;
    EXPECT_EQ(AfxMessageBox(L"正在進行下載作業"), IDOK);
    EXPECT_EQ(owner.MessageBox(L"關閉視窗時", L"veilrune", MB_YESNO | MB_ICONINFORMATION), IDNO);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_TRUE(calls[0].applicationBox);
    EXPECT_EQ(calls[0].text, L"正在進行下載作業");
    EXPECT_EQ(calls[0].caption, L"afx_test") << "the executable's name without extension";
    EXPECT_EQ(calls[0].buttons, static_cast<UINT>(MB_OK));
    EXPECT_EQ(calls[0].icon, 0u);
    EXPECT_FALSE(calls[1].applicationBox);
    EXPECT_EQ(calls[1].caption, L"veilrune");
    EXPECT_EQ(calls[1].buttons, static_cast<UINT>(MB_YESNO));
    EXPECT_EQ(calls[1].icon, static_cast<UINT>(MB_ICONINFORMATION));
}

TEST_F(AfxShell, OpenBoxIsItsOwnersLastActivePopupAndComesToTheFront)
{
    TestHostWindow owner;
    const HWND hwnd = owner.GetSafeHwnd();
    EXPECT_EQ(GetLastActivePopup(hwnd), hwnd);
    bool activated = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        const HWND popup = GetLastActivePopup(hwnd);
        EXPECT_NE(popup, hwnd);
        EXPECT_TRUE(IsWindow(popup));
        // Another window in front, then the box is asked to the front.
        owner.GetQWidget()->activateWindow();
        EXPECT_TRUE(SetForegroundWindow(popup));
        activated = WaitFor([&] { return QApplication::activeWindow() == box; });
        box->button(QMessageBox::Ok)->click();
    });
    EXPECT_EQ(owner.MessageBox(L"正在進行下載作業", L"veilrune"), IDOK);
    EXPECT_TRUE(activated);
    EXPECT_EQ(GetLastActivePopup(hwnd), hwnd) << "a closed box is no longer answered";
}

TEST_F(AfxShell, FolderBrowserCallbackPreselectsAndRewritesTheTitleLine)
{
    BrowserCallbackLog log;
    CString preselected;
    CString titleLine;
    AfxSetFolderBrowserResponder([&](CFolderBrowserSession& session) -> std::optional<CString> {
        preselected = session.Selection();
        EXPECT_EQ(session.Title(), L"至少需要 0 Bytes 容量。\n");
        session.Select(L"Z:\\tmp\\");
        titleLine = session.TitleLine();
        SaveScreenshot(Grab(*session.Window()), "folder_browser");
        return CString(L"Z:\\tmp");
    });
    WCHAR displayName[MAX_PATH] = {};
    BROWSEINFOW info{};
    info.pszDisplayName = displayName;
    info.lpszTitle = L"至少需要 0 Bytes 容量。\n";
    info.ulFlags = 0x43;
    info.lpfn = BrowserCallback;
    info.lParam = reinterpret_cast<LPARAM>(&log);
    LPITEMIDLIST item = SHBrowseForFolderW(&info);
    ASSERT_NE(item, nullptr);
    WCHAR path[MAX_PATH];
    ASSERT_TRUE(SHGetPathFromIDListW(item, path));
    CoTaskMemFree(item);
    EXPECT_STREQ(path, L"Z:\\tmp");
    EXPECT_STREQ(displayName, L"tmp");
    EXPECT_EQ(preselected, L"C:\\quorvik\\veilrune\\");
    ASSERT_EQ(log.messages.size(), 2u);
    EXPECT_EQ(log.messages[0], static_cast<UINT>(BFFM_INITIALIZED));
    EXPECT_EQ(log.messages[1], static_cast<UINT>(BFFM_SELCHANGED));
    EXPECT_EQ(titleLine, L"至少需要 1.00 MB 容量。\n剩餘容量：Z:\\tmp\\");
}

TEST_F(AfxShell, CancelledFolderBrowserReturnsNothing)
{
    AfxSetFolderBrowserResponder([](CFolderBrowserSession&) -> std::optional<CString> { return std::nullopt; });
    BROWSEINFOW info{};
    EXPECT_EQ(SHBrowseForFolderW(&info), nullptr);
}

namespace {

class RecordingCommandLine : public CCommandLineInfo {
public:
    struct Param {
        CString text;
        BOOL flag;
        BOOL last;
    };
    std::vector<Param> params;
    void ParseParam(const wchar_t* param, BOOL flag, BOOL last) override { params.push_back({param, flag, last}); }
};

class TestApp : public CWinApp {
public:
    TestApp() : CWinApp(L"TestApp") {}
};

} // namespace

TEST_F(AfxShell, CommandLineParametersLoseTheirDashOrSlash)
{
    TestApp app;
    char program[] = "downloader";
    char first[] = "-http://example.test/filelist.txt";
    char second[] = "/x";
    char third[] = "plain";
    char* argv[] = {program, first, second, third, nullptr};
    app.m_argc = 4;
    app.m_argv = argv;
    RecordingCommandLine info;
    app.ParseCommandLine(info);
    ASSERT_EQ(info.params.size(), 3u);
    EXPECT_EQ(info.params[0].text, L"http://example.test/filelist.txt");
    EXPECT_TRUE(info.params[0].flag);
    EXPECT_FALSE(info.params[0].last);
    EXPECT_EQ(info.params[1].text, L"x");
    EXPECT_EQ(info.params[2].text, L"plain");
    EXPECT_FALSE(info.params[2].flag);
    EXPECT_TRUE(info.params[2].last);
    EXPECT_EQ(AfxGetApp(), &app);
}
