// The main dialog: construction, the data exchange, the message map,
// initialisation with the window's look, and the window-level messages
// (pre-translation, label colours, dragging, painting).
#include "QLSDownloaderDlg.h"

#include "BuiltInAddresses.h"
#include "DialogTemplates.h"
#include "DownloadFolder.h"
#include "QLSDownloaderApp.h"
#include "SystemCodePage.h"

namespace {

constexpr COLORREF kTransparentColour = RGB(0xFF, 0x00, 0xFF);
constexpr int kClientWidth = 748;
constexpr int kClientHeight = 437;
constexpr int kDragStripHeight = 28;

} // namespace

BEGIN_MESSAGE_MAP(CQLSDownloaderDlg, CDialog)
    ON_MESSAGE(MESHDROPLIB_WM_EVENT, &CQLSDownloaderDlg::OnLibraryEvent)
    ON_MESSAGE(WM_QLS_PUSH_DATA, &CQLSDownloaderDlg::OnPushData)
    ON_MESSAGE(WM_QLS_RUN_INSTALLER, &CQLSDownloaderDlg::OnRunInstaller)
    ON_BN_CLICKED(IDC_START, &CQLSDownloaderDlg::OnBnClickedStart)
    ON_BN_CLICKED(IDC_CLOSE, &CQLSDownloaderDlg::OnBnClickedClose)
    ON_BN_CLICKED(IDC_INSTALL, &CQLSDownloaderDlg::OnBnClickedInstall)
    ON_BN_CLICKED(IDC_CHANGE_FOLDER, &CQLSDownloaderDlg::OnBnClickedChangeFolder)
    ON_BN_CLICKED(IDC_CONSENT, &CQLSDownloaderDlg::OnBnClickedConsent)
    ON_WM_CLOSE()
    ON_WM_DESTROY()
    ON_WM_LBUTTONDOWN()
    ON_WM_CTLCOLOR()
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
END_MESSAGE_MAP()

CQLSDownloaderDlg::CQLSDownloaderDlg(CWnd* parent)
    : CDialog(AppDialogTemplate(IDD), parent), m_strToolTip(L"超高速下載只有在下載時才會共享PC資源。")
{
    // The application icon lives in the desktop entry on Linux; the handle
    // is only handed to the window.
    m_hIcon = reinterpret_cast<HICON>(static_cast<uintptr_t>(IDR_MAINFRAME));
    m_strReservedProgramPath = ReservedProgramPath();
    m_strFolder = DefaultDownloadFolder();
}

CQLSDownloaderDlg::~CQLSDownloaderDlg() = default;

void CQLSDownloaderDlg::DoDataExchange(CDataExchange* dx)
{
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_BANNER, m_banner);
    DDX_Control(dx, IDC_CURRENT_FILE, m_labelCurrentFile);
    DDX_Control(dx, IDC_RECEIVED, m_labelReceived);
    DDX_Control(dx, IDC_FILE_SIZE, m_labelFileSize);
    DDX_Control(dx, IDC_ELAPSED_TIME, m_labelElapsedTime);
    DDX_Control(dx, IDC_REMAIN_TIME, m_labelRemainTime);
    DDX_Control(dx, IDC_SPEED, m_labelSpeed);
    DDX_Control(dx, IDC_FOLDER, m_labelFolder);
    DDX_Control(dx, IDC_GRAPH, m_graph);
    DDX_Control(dx, IDC_FILE_PROGRESS, m_progressFile);
    DDX_Control(dx, IDC_TOTAL_PROGRESS, m_progressTotal);
    DDX_Control(dx, IDC_CHANGE_FOLDER, m_buttonChangeFolder);
    DDX_Control(dx, IDC_START, m_buttonStart);
    DDX_Control(dx, IDC_INSTALL, m_buttonInstall);
    DDX_Control(dx, IDC_CLOSE, m_buttonClose);
    DDX_Control(dx, IDC_CONSENT, m_checkConsent);
    DDX_Control(dx, IDC_HIDDEN_BUTTON, m_buttonHidden);
    DDX_Text(dx, IDC_CURRENT_FILE, m_strCurrentFile);
    DDX_Text(dx, IDC_RECEIVED, m_strReceived);
    DDX_Text(dx, IDC_FILE_SIZE, m_strFileSize);
    DDX_Text(dx, IDC_REMAIN_TIME, m_strRemainTime);
    DDX_Text(dx, IDC_ELAPSED_TIME, m_strElapsedTime);
    DDX_Text(dx, IDC_SPEED, m_strSpeed);
    DDX_Text(dx, IDC_FOLDER, m_strFolder);
}

BOOL CQLSDownloaderDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    SetIcon(m_hIcon, TRUE);
    SetErrorMode(SEM_NOGPFAULTERRORBOX);

    m_strServiceId = L"joyvend_veilrune_tw";
    m_strConsent = L"2";
    m_strBannerUrl = kBuiltInBannerUrl;
    const CString firstParameter = CQLSDownloaderApp::FirstParameter();
    m_strFileListUrl = firstParameter.IsEmpty() ? CString(kBuiltInFileListUrl) : firstParameter;

    if (MeshdropLib_Initialize(GetSafeHwnd(), nullptr, nullptr) != MESHDROPLIB_OK) {
        AfxMessageBox(L"初始化失敗。");
        AskToQuit();
    }
    if (MeshdropLib_FetchFileList(ToSystemCodePage(m_strFileListUrl).c_str()) != MESHDROPLIB_OK) {
        AfxMessageBox(L"下載檔案目錄失敗。");
        AskToQuit();
        return FALSE;
    }

    SetWindowText(kMainWindowTitle);
    BuildLook();
    m_banner.Navigate(m_strBannerUrl.c_str(), nullptr, nullptr, nullptr, nullptr);
    m_checkConsent.SetCheck(BST_CHECKED);
    return TRUE;
}

void CQLSDownloaderDlg::CreateFramePicture(CStatic& picture, CBitmap& bitmap, UINT bitmapId, int x, int y, UINT id)
{
    bitmap.LoadBitmap(bitmapId);
    const CSize size = bitmap.GetSize();
    picture.Create(L"", WS_CHILD | WS_VISIBLE | SS_BITMAP, CRect(x, y, x + size.cx, y + size.cy), this, id);
    picture.SetBitmap(bitmap.GetSafeHandle());
    // Qt stacks siblings strictly: the frame goes under every control.
    picture.SetWindowPos(&wndBottom, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void CQLSDownloaderDlg::BuildLook()
{
    // The frame: top and bottom strips, the left strip, and the panel with
    // the painted captions.
    CreateFramePicture(m_frameTop, m_bitmapTop, IDB_FRAME_TOP, 0, 0, 0xFFFF);
    CreateFramePicture(m_frameBottom, m_bitmapBottom, IDB_FRAME_BOTTOM, 0, 416, 0xFFFF);
    CreateFramePicture(m_frameLeft, m_bitmapLeft, IDB_FRAME_LEFT, 0, 20, 0xFFFF);
    CreateFramePicture(m_framePanel, m_bitmapPanel, IDB_FRAME_PANEL, 363, 20, IDC_FRAME_PANEL);
    // The banner is larger than the opening the frame leaves for it: it lies
    // under the frame, which covers its edges.
    m_banner.SetWindowPos(&wndBottom, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);

    m_fontA.CreateFont(12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                       DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"돋움");
    m_fontB.CreateFont(13, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                       DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Verdana");

    MoveWindow(0, 0, kClientWidth, kClientHeight);
    m_banner.MoveWindow(9, 3, 383, 442);
    m_labelCurrentFile.MoveWindow(456, 28, 263, 14);
    m_labelReceived.MoveWindow(456, 59, 263, 14);
    m_labelFileSize.MoveWindow(456, 90, 263, 14);
    m_labelElapsedTime.MoveWindow(460, 134, 85, 14);
    m_labelRemainTime.MoveWindow(634, 134, 85, 14);
    m_labelSpeed.MoveWindow(456, 173, 270, 14);
    m_graph.MoveWindow(385, 191, 342, 69);
    m_progressFile.MoveWindow(441, 282, 286, 18);
    m_progressTotal.MoveWindow(441, 312, 286, 18);
    m_labelFolder.MoveWindow(447, 356, 201, 14);
    m_buttonChangeFolder.MoveWindow(662, 352, 65, 19);
    m_buttonStart.MoveWindow(384, 391, 108, 26);
    m_buttonInstall.MoveWindow(502, 391, 108, 26);
    m_buttonClose.MoveWindow(620, 391, 108, 26);
    CRect consent;
    m_checkConsent.GetWindowRect(&consent);
    ScreenToClient(&consent);
    m_checkConsent.MoveWindow(13, 293, consent.Width(), consent.Height());
    m_buttonHidden.MoveWindow(395, 254, 65, 19);
    const int captionTops[] = {191, 215, 234, 259};
    const UINT captionIds[] = {IDC_CAPTION1, IDC_CAPTION2, IDC_CAPTION3, IDC_CAPTION4};
    for (size_t i = 0; i < 4; ++i) {
        if (CWnd* caption = GetDlgItem(static_cast<int>(captionIds[i])))
            caption->MoveWindow(13, captionTops[i], 48, 14);
    }
    m_buttonInstall.ShowWindow(SW_HIDE);
    m_banner.ShowScrollBar(SB_BOTH, FALSE);

    struct ButtonLook {
        CButtonST& button;
        UINT in, out, disabled;
    };
    const ButtonLook looks[] = {
        {m_buttonChangeFolder, IDB_FOLDER_HOVER, IDB_FOLDER_NORMAL, IDB_FOLDER_DISABLED},
        {m_buttonHidden, IDB_HIDDEN_HOVER, IDB_HIDDEN_NORMAL, IDB_HIDDEN_DISABLED},
        {m_buttonStart, IDB_START_HOVER, IDB_START_NORMAL, IDB_START_DISABLED},
        {m_buttonInstall, IDB_INSTALL_HOVER, IDB_INSTALL_NORMAL, IDB_INSTALL_DISABLED},
        {m_buttonClose, IDB_CLOSE_HOVER, IDB_CLOSE_NORMAL, IDB_CLOSE_DISABLED},
    };
    for (const ButtonLook& look : looks) {
        look.button.SetBitmaps(look.in, kTransparentColour, look.out, kTransparentColour, look.disabled,
                               kTransparentColour);
        look.button.DrawBorder(FALSE);
        look.button.DrawTransparent();
        look.button.SizeToContent();
    }
    m_checkConsent.SetBitmaps(IDB_CHECK_CHECKED, kTransparentColour, IDB_CHECK_UNCHECKED, kTransparentColour);
    m_checkConsent.DrawBorder(FALSE);
    m_checkConsent.DrawTransparent();

    for (CWnd* label : {static_cast<CWnd*>(&m_labelRemainTime), static_cast<CWnd*>(&m_labelElapsedTime),
                        static_cast<CWnd*>(&m_labelCurrentFile), static_cast<CWnd*>(&m_labelReceived),
                        static_cast<CWnd*>(&m_labelFileSize), static_cast<CWnd*>(&m_labelSpeed)})
        label->SetFont(&m_fontB);
    m_labelFolder.SetFont(&m_fontA);
    for (UINT id : captionIds) {
        if (CWnd* caption = GetDlgItem(static_cast<int>(id)))
            caption->SetFont(&m_fontA);
    }
    m_checkConsent.SetFont(&m_fontA);

    for (CProgressST* bar : {&m_progressFile, &m_progressTotal}) {
        bar->SetBitmap(IDB_PROGRESS_FILL, IDB_PROGRESS_BACK);
        bar->SetRange32(0, 100);
        bar->SetPos(0);
        bar->SetTextFormat(L"%d%%");
        bar->SetFont(&m_fontB);
    }

    m_toolTip.Create(this);
    m_toolTip.SetMaxTipWidth(350);
    m_toolTip.AddTool(&m_checkConsent, m_strToolTip.c_str());
}

BOOL CQLSDownloaderDlg::PreTranslateMessage(MSG* msg)
{
    if (m_toolTip.GetSafeHwnd())
        m_toolTip.RelayEvent(msg);
    if (msg->message == WM_KEYDOWN && msg->wParam == VK_ESCAPE) {
        // Escape is not the dialog's cancel here: it closes as the close
        // button does, asking first while a download runs.
        msg->wParam = 0;
        CloseWithConfirmation();
    }
    return CDialog::PreTranslateMessage(msg);
}

void CQLSDownloaderDlg::OnLButtonDown(UINT flags, CPoint point)
{
    // The top strip works as the title bar.
    if (point.y < kDragStripHeight)
        PostMessage(WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(point.x, point.y));
    CDialog::OnLButtonDown(flags, point);
}

HBRUSH CQLSDownloaderDlg::OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor)
{
    HBRUSH brush = CDialog::OnCtlColor(dc, wnd, ctlColor);
    if (ctlColor == CTLCOLOR_STATIC) {
        dc->SetBkMode(TRANSPARENT);
        // The installing status text stands out in yellow.
        if (wnd != nullptr && wnd->GetDlgCtrlID() == IDC_SPEED && m_nFinished) {
            dc->SetTextColor(RGB(0xFF, 0xFF, 0x00));
            return AfxNullBrush();
        }
    }
    return brush;
}

void CQLSDownloaderDlg::OnPaint()
{
    if (IsIconic()) {
        // Minimised: the window system shows the application's icon.
        Default();
        return;
    }
    CDialog::OnPaint();
}

HCURSOR CQLSDownloaderDlg::OnQueryDragIcon()
{
    return static_cast<HCURSOR>(m_hIcon);
}
