// What the player does with the main dialog: start and stop the download,
// change the folder, the consent box, closing, and installing at the end;
// and the window's destruction.
#include "QLSDownloaderDlg.h"

#include "CompletedFile.h"
#include "DownloadFolder.h"
#include "SystemCodePage.h"

// ---- Start and stop ---------------------------------------------------------

void CQLSDownloaderDlg::OnBnClickedStart()
{
    if (m_hJob != 0)
        StopDownload();
    else
        StartDownload();
}

void CQLSDownloaderDlg::StartDownload()
{
    if (m_nFinished)
        return;
    if (m_strFileListUrl.IsEmpty()) {
        DialogBox(L"不存在下載所用的協定");
        return;
    }
    if (m_hJob == 0) {
        const std::string serviceId = ToSystemCodePage(m_strServiceId);
        MeshdropLib_SetEngineServiceId(serviceId.c_str());
        MeshdropLib_CreateJob(&m_hJob, nullptr, serviceId.c_str());
        MeshdropLib_SetJobEngineFlag(m_hJob);
        const std::string folder = ToSystemCodePage(m_strFolder);
        for (const std::wstring& entry : m_fileList) {
            MeshdropLib_AddFile(m_hJob, ToSystemCodePage(entry).c_str(), folder.c_str(), nullptr, 0xFFFFFFFFu,
                                0xFFFFFFFFu, 1);
        }
        // Job mode 1 is the high-speed mode the player agreed to.
        MeshdropLib_StartJob(m_hJob, m_strConsent != L"1" ? 1 : 0);
        SayEngineWait(m_engineWait.OnJobStarted());
        PublishDownloadFolder(L"veilrune", m_strFolder);
    }
    UpdateButtons(0);
}

void CQLSDownloaderDlg::StopDownload()
{
    if (m_nFinished)
        return;
    if (m_hJob != 0) {
        MeshdropLib_StopJob(m_hJob);
        MeshdropLib_DeleteJob(m_hJob);
        m_hJob = 0;
        m_nCurrentIndex = 0;
        m_nFileOrdinal = 1;
        EndEngineWait();
    }
    UpdateButtons(0);
}

void CQLSDownloaderDlg::UpdateButtons(int mode)
{
    if (mode == 1) {
        m_buttonChangeFolder.ShowWindow(SW_HIDE);
        return;
    }
    m_buttonInstall.ShowWindow(SW_HIDE);
    constexpr COLORREF transparent = RGB(0xFF, 0x00, 0xFF);
    if (m_hJob != 0) {
        m_buttonStart.SetBitmaps(IDB_STOP_HOVER, transparent, IDB_STOP_NORMAL, transparent, IDB_STOP_DISABLED,
                                 transparent);
        m_buttonChangeFolder.ShowWindow(SW_HIDE);
    } else {
        m_buttonStart.SetBitmaps(IDB_START_HOVER, transparent, IDB_START_NORMAL, transparent, IDB_START_DISABLED,
                                 transparent);
        m_buttonChangeFolder.ShowWindow(SW_SHOW);
    }
    for (CWnd* control : {static_cast<CWnd*>(&m_labelRemainTime), static_cast<CWnd*>(&m_labelFileSize),
                          static_cast<CWnd*>(&m_labelFolder), static_cast<CWnd*>(&m_labelCurrentFile),
                          static_cast<CWnd*>(&m_buttonStart), static_cast<CWnd*>(&m_buttonClose),
                          static_cast<CWnd*>(&m_buttonChangeFolder), static_cast<CWnd*>(&m_progressFile),
                          static_cast<CWnd*>(&m_checkConsent)}) {
        if (control->GetSafeHwnd())
            control->RedrawWindow();
    }
}

// ---- Folder and consent -----------------------------------------------------

void CQLSDownloaderDlg::OnBnClickedChangeFolder()
{
    if (m_hJob != 0 || m_nFinished)
        return;
    CString chosen;
    switch (BrowseForDownloadFolder(this, m_strFolder, FolderOfPath(m_strReservedProgramPath), chosen)) {
    case FolderChoice::Unusable:
        AfxMessageBox(L"選擇的路徑無法使用");
        break;
    case FolderChoice::Chosen:
        m_strFolder = chosen;
        m_labelFolder.SetWindowText(m_strFolder.c_str());
        break;
    case FolderChoice::Cancelled:
        break;
    }
}

void CQLSDownloaderDlg::OnBnClickedConsent()
{
    // The box has toggled itself before this runs.
    if (m_checkConsent.GetCheck() == BST_CHECKED) {
        m_strConsent = L"2";
        m_checkConsent.SetCheck(BST_CHECKED, TRUE);
        return;
    }
    const int answer = AfxMessageBox(L"不同意超高速下載時，以一般下載方式進行。\n要使用一般下載方式進行嗎？",
                                     MB_YESNO | MB_ICONINFORMATION);
    if (answer == IDYES) {
        m_strConsent = L"1";
    } else {
        m_strConsent = L"2";
        m_checkConsent.SetCheck(BST_CHECKED, TRUE);
    }
}

// ---- Closing ----------------------------------------------------------------

void CQLSDownloaderDlg::OnBnClickedClose()
{
    CloseWithConfirmation();
}

void CQLSDownloaderDlg::CloseWithConfirmation()
{
    if (ConfirmClose(L"關閉視窗時，即會中止下載 %ls\n確定要關閉視窗嗎？"))
        OnOK();
}

void CQLSDownloaderDlg::OnClose()
{
    if (ConfirmClose(L"關閉視窗時，將立即終止下載 %ls\n確定要關閉視窗嗎？"))
        CDialog::OnClose();
}

bool CQLSDownloaderDlg::ConfirmClose(LPCWSTR questionFormat)
{
    if (m_hJob == 0)
        return true;
    CString question;
    question.Format(questionFormat, L"veilrune");
    if (DialogBox(question.c_str(), MB_YESNO | MB_ICONINFORMATION) != IDYES)
        return false;
    StopDownload();
    return true;
}

void CQLSDownloaderDlg::OnDestroy()
{
    if (m_hJob != 0)
        StopDownload();
    MeshdropLib_Finalize();
    while (!m_fileList.empty())
        m_fileList.pop_back();
    CDialog::OnDestroy();
}

// ---- Installing -------------------------------------------------------------

void CQLSDownloaderDlg::OnBnClickedInstall()
{
    m_buttonInstall.ShowWindow(SW_HIDE);
    // Three lines' room, so that the longer status text can wrap.
    CRect speed;
    m_labelSpeed.GetWindowRect(&speed);
    m_labelSpeed.MoveWindow(456, 173, 270, speed.Height() * 3);
    RedrawWindow(nullptr, nullptr, RDW_UPDATENOW | RDW_ERASENOW);
    m_strSpeed = L"檢查下載的文件後執行安裝。";
    PushData();
    PostMessage(WM_QLS_RUN_INSTALLER);
}

LRESULT CQLSDownloaderDlg::OnRunInstaller(WPARAM, LPARAM)
{
    // Only the file that was downloaded runs: anything else found at its
    // path (another size than the size check announced, a link) is reported
    // as missing.
    uint64_t size = 0;
    if (!m_strInstallerPath.IsEmpty() &&
        (MeshdropLib_GetFileSize(static_cast<uint32_t>(m_nInstallerEntry), &size) != MESHDROPLIB_OK ||
         !IsDownloadedFile(m_strInstallerPath.c_str(), size))) {
        CString text;
        text.Format(L"該路徑(%ls)檔案不存在。", m_strInstallerPath.c_str());
        AfxMessageBox(text.c_str());
    } else {
        RunProgram(m_strInstallerPath);
    }
    PostQuitMessage(0);
    return 0;
}

BOOL CQLSDownloaderDlg::RunProgram(const CString& path)
{
    if (path.IsEmpty()) {
        AfxMessageBox(L"該路徑(NULL)檔案不存在。");
        return FALSE;
    }
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        CString text;
        text.Format(L"該路徑(%ls)檔案不存在。", path.c_str());
        AfxMessageBox(text.c_str());
        return FALSE;
    }
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExW(&version);
    const bool elevate = version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion > 5;

    SHELLEXECUTEINFOW execute{};
    execute.cbSize = sizeof execute;
    execute.fMask = SEE_MASK_NOCLOSEPROCESS;
    execute.hwnd = nullptr;
    execute.lpVerb = elevate ? L"runas" : L"open";
    execute.lpFile = path.c_str();
    execute.lpParameters = nullptr;
    execute.lpDirectory = nullptr;
    execute.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&execute))
        return FALSE;
    // The platform bounds this wait to a few seconds (a Linux installer, or
    // Wine, may never tell that it is ready); meanwhile the window paints.
    AfxWaitKeepingWindowsPainted([&execute] { WaitForInputIdle(execute.hProcess, INFINITE); });
    CloseHandle(execute.hProcess);
    return TRUE;
}
