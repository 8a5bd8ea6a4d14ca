// CQLSDownloaderDlg: the downloader's window and the download library's only
// client. It has the library fetch the file list and check the sizes, lets
// the player choose the folder, starts and stops the download job, shows
// what the library reports, and finally runs the downloaded installer.
//
// The library reports by posting MESHDROPLIB_WM_EVENT to this window; the
// dialog copies each event's data out through the accessors. Everything here
// runs on the program's main thread.
#pragma once

#include <afxwin.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ButtonST.h"
#include "EngineWait.h"
#include "Explorer1.h"
#include "GraphCtrl.h"
#include "MeshdropLib.h"
#include "OXToolTipCtrl.h"
#include "ProgressST.h"
#include "TransparentStatic2.h"
#include "resource.h"

// The dialog's own messages.
#define WM_QLS_PUSH_DATA     0x2B11        // push the label strings to the window
#define WM_QLS_RUN_INSTALLER (WM_USER + 1) // 0x401: run the installer and quit

class CQLSDownloaderDlg : public CDialog {
public:
    enum { IDD = IDD_QLSDOWNLOADER_DIALOG };

    explicit CQLSDownloaderDlg(CWnd* parent = nullptr);
    ~CQLSDownloaderDlg() override;

    // What the window is doing, for whoever watches it run.
    MeshdropJobHandle JobHandle() const { return m_hJob; }
    bool IsFinished() const { return m_nFinished != 0; }
    const std::vector<std::wstring>& FileList() const { return m_fileList; }
    const CString& InstallerPath() const { return m_strInstallerPath; }
    const CString& DownloadFolder() const { return m_strFolder; }
    const CString& FileListUrl() const { return m_strFileListUrl; }

protected:
    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;
    BOOL PreTranslateMessage(MSG* msg) override;

    LRESULT OnLibraryEvent(WPARAM code, LPARAM param);
    LRESULT OnPushData(WPARAM, LPARAM);
    LRESULT OnRunInstaller(WPARAM, LPARAM);
    void OnBnClickedStart();
    void OnBnClickedClose();
    void OnBnClickedInstall();
    void OnBnClickedChangeFolder();
    void OnBnClickedConsent();
    void OnClose();
    void OnDestroy();
    void OnLButtonDown(UINT flags, CPoint point);
    HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    DECLARE_MESSAGE_MAP()

private:
    // Initialisation
    void BuildLook();
    void CreateFramePicture(CStatic& picture, CBitmap& bitmap, UINT bitmapId, int x, int y, UINT id);

    // Library events
    void OnJobSizeKnown(MeshdropJobHandle job);
    void OnJobProgress(MeshdropJobHandle job);
    void OnFileDone(MeshdropJobHandle job);
    void OnJobFinished(MeshdropJobHandle job);
    void OnJobNotice(MeshdropJobHandle job);
    void OnFileListDone();
    void OnFileListFailed();
    void OnAskResume(MeshdropJobHandle job);
    void OnSizeCheckDone();
    void OnSizeCheckFailed();
    // True when the event is about the window's current job and its
    // accessor answered 512; other events leave the window as it is.
    bool IsCurrentJobEvent(MeshdropJobHandle job, int accessorStatus) const;
    void ShowNotice(MeshdropJobHandle job, uint32_t code);
    void TakeFileList(const unsigned char* data, uint64_t size);
    void CheckFileSizes();
    void UpdateCurrentFileLabel();

    // The status line while the engine keeps the download waiting, and the
    // desktop notice of a download that ended in the background
    void NoteEngineEvent(UINT code, MeshdropJobHandle job);
    void SayEngineWait(std::optional<EngineWait::Say> say);
    void EndEngineWait();
    void NotifyIfInBackground();

    // Download, closing and installing
    void StartDownload();
    void StopDownload();
    void UpdateButtons(int mode);
    void CloseWithConfirmation();
    // While a download runs, asks the question and stops it on Yes; true
    // when the window is to close.
    bool ConfirmClose(LPCWSTR questionFormat);
    BOOL RunProgram(const CString& path);

    void PushData() { UpdateData(FALSE); }
    static void AskToQuit() { PostQuitMessage(0); }
    int DialogBox(LPCWSTR text, UINT type = MB_OK) { return MessageBox(text, L"veilrune", type); }

    // The seven label strings, bound to their labels by the data exchange.
    CString m_strCurrentFile; // 1002
    CString m_strReceived;    // 1015
    CString m_strFileSize;    // 1005
    CString m_strRemainTime;  // 1003
    CString m_strElapsedTime; // 1020
    CString m_strSpeed;       // 1019, later the status text while installing
    CString m_strFolder;      // 1007, the download folder

    CString m_strFileListUrl;
    CString m_strServiceId;
    CString m_strConsent = L"2"; // "2" agreed to the high-speed mode, "1" declined
    CString m_strBannerUrl;
    CString m_strInstallerPath;
    size_t m_nInstallerEntry = 0; // the installer's index in the file list
    CString m_strToolTip;
    CString m_strReservedProgramPath;

    MeshdropJobHandle m_hJob = 0;
    std::vector<std::wstring> m_fileList;
    int m_nCurrentIndex = 0;
    int m_nFileOrdinal = 1;
    int m_nFinished = 0;
    HICON m_hIcon = nullptr;
    EngineWait m_engineWait;

    // Controls of the template
    CExplorer1 m_banner;
    CTransparentStatic2 m_labelCurrentFile;
    CTransparentStatic2 m_labelReceived;
    CTransparentStatic2 m_labelFileSize;
    CTransparentStatic2 m_labelElapsedTime;
    CTransparentStatic2 m_labelRemainTime;
    CTransparentStatic2 m_labelSpeed;
    CTransparentStatic2 m_labelFolder;
    CGraphCtrl m_graph;
    CProgressST m_progressFile;
    CProgressST m_progressTotal;
    CButtonST m_buttonChangeFolder;
    CButtonST m_buttonStart;
    CButtonST m_buttonInstall;
    CButtonST m_buttonClose;
    CButtonST m_checkConsent;
    CButtonST m_buttonHidden;

    // Created at initialisation: the frame, fonts and the tooltip.
    CStatic m_frameTop;
    CStatic m_frameBottom;
    CStatic m_frameLeft;
    CStatic m_framePanel;
    CBitmap m_bitmapTop;
    CBitmap m_bitmapBottom;
    CBitmap m_bitmapLeft;
    CBitmap m_bitmapPanel;
    CFont m_fontA; // "돋움" 12 px: folder label, captions, consent box
    CFont m_fontB; // "Verdana" 13 px bold: value labels and bars
    COXToolTipCtrl m_toolTip;
};
