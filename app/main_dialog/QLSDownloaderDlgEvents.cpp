// The main dialog's handling of the download library's events: job sizes,
// progress, completed files, the end of the job, notices, the file list and
// the size check, and the resume question.
#include "QLSDownloaderDlg.h"

#include <cstring>
#include <memory>

#include "CompletedFile.h"
#include "DisplayFormat.h"
#include "DownloadFolder.h"
#include "FetchedFileList.h"
#include "FileListSplitter.h"
#include "ResumeDlg.h"
#include "SystemCodePage.h"

LRESULT CQLSDownloaderDlg::OnLibraryEvent(WPARAM code, LPARAM param)
{
    MeshdropLib_GetUserValue();
    const auto job = static_cast<MeshdropJobHandle>(param);
    NoteEngineEvent(static_cast<UINT>(code), job);
    switch (code) {
    case MESHDROPLIB_EVENT_JOB_SIZE:
        if (job != 0)
            OnJobSizeKnown(job);
        break;
    case MESHDROPLIB_EVENT_JOB_PROGRESS:
        if (job != 0)
            OnJobProgress(job);
        break;
    case MESHDROPLIB_EVENT_FILE_DONE:
        if (job != 0)
            OnFileDone(job);
        break;
    case MESHDROPLIB_EVENT_JOB_FINISHED:
        if (job != 0)
            OnJobFinished(job);
        break;
    case MESHDROPLIB_EVENT_JOB_NOTICE:
        if (job != 0)
            OnJobNotice(job);
        break;
    case MESHDROPLIB_EVENT_FILE_LIST_DONE:
        OnFileListDone();
        break;
    case MESHDROPLIB_EVENT_FILE_LIST_FAILED:
        OnFileListFailed();
        break;
    case MESHDROPLIB_EVENT_ASK_RESUME:
        if (job != 0)
            OnAskResume(job);
        break;
    case MESHDROPLIB_EVENT_SIZE_CHECK_DONE:
        OnSizeCheckDone();
        break;
    case MESHDROPLIB_EVENT_SIZE_CHECK_FAILED:
        OnSizeCheckFailed();
        break;
    case MESHDROPLIB_EVENT_ENGINE_UPDATE_FILE:
    case MESHDROPLIB_EVENT_ENGINE_UPDATE_DATA:
    case MESHDROPLIB_EVENT_ENGINE_READY:
    case MESHDROPLIB_EVENT_ENGINE_UPDATE_FAILED:
    case MESHDROPLIB_EVENT_ENGINE_PATH_FAILED:
    case MESHDROPLIB_EVENT_ENGINE_STATUS:
    case MESHDROPLIB_EVENT_ENGINE_DROPPED:
        // The local engine's update, start and status: the library carries
        // the job to the engine or, when it fails, to the direct downloader
        // by itself; the status line says so while a job waits for it
        // (NoteEngineEvent).
        break;
    default:
        // The file list's ticks and the download folder's failure (the add
        // call answered it already) need nothing of the window.
        break;
    }
    return 0;
}

bool CQLSDownloaderDlg::IsCurrentJobEvent(MeshdropJobHandle job, int accessorStatus) const
{
    // An event queued before the player stopped or restarted the download
    // belongs to a job that is gone: the window is no longer about it.
    return job == m_hJob && accessorStatus == MESHDROPLIB_OK;
}

void CQLSDownloaderDlg::OnJobSizeKnown(MeshdropJobHandle job)
{
    JobSizeInfo info{};
    if (!IsCurrentJobEvent(job, MeshdropLib_GetJobSizeInfo(job, &info)))
        return;
    m_strRemainTime = L"00:00:00";
    PushData();
}

void CQLSDownloaderDlg::OnJobProgress(MeshdropJobHandle job)
{
    JobProgressInfo info{};
    if (!IsCurrentJobEvent(job, MeshdropLib_GetJobProgress(job, &info)))
        return;
    m_strRemainTime = FormatTime(static_cast<int64_t>(info.remaining));
    m_strElapsedTime = FormatTime(static_cast<int64_t>(info.elapsed));
    m_progressFile.SetPos(static_cast<int>(info.filePercent));
    m_progressTotal.SetPos(static_cast<int>(info.percent));
    m_strReceived = FormatSize(static_cast<double>(info.doneSize));
    m_strFileSize = FormatSize(static_cast<double>(info.totalSize));
    const auto speed = static_cast<int32_t>(info.speed);
    m_strSpeed = FormatSpeed(static_cast<double>(speed));
    m_graph.AddSample(CGraphCtrl::MegabitsFromBytesPerSecond(speed));
    m_graph.DrawGraph();
    PushData();
}

void CQLSDownloaderDlg::OnFileDone(MeshdropJobHandle job)
{
    FileDoneInfo info{};
    if (!IsCurrentJobEvent(job, MeshdropLib_PopFileDone(job, &info)))
        return;
    ++m_nCurrentIndex;
    ++m_nFileOrdinal;
    UpdateCurrentFileLabel();

    info.text[sizeof info.text - 1] = '\0';
    const std::optional<CompletedFile> installer = CompletedInstaller(
        m_fileList, ToSystemCodePage(m_strFolder), std::string_view(info.text), sizeof info.text - 1);
    if (!installer)
        return;
    m_strInstallerPath = FromSystemCodePage(installer->localPath);
    m_nInstallerEntry = installer->entry;
}

void CQLSDownloaderDlg::OnJobFinished(MeshdropJobHandle job)
{
    JobFinishInfo info{};
    if (!IsCurrentJobEvent(job, MeshdropLib_GetJobFinishInfo(job, &info)))
        return;
    StopDownload();
    m_nFinished = 1;
    m_strRemainTime = L"00:00:00";
    m_buttonInstall.ShowWindow(SW_SHOW);
    m_buttonStart.ShowWindow(SW_HIDE);
    m_buttonChangeFolder.ShowWindow(SW_HIDE);
    PushData();
    NotifyIfInBackground();
}

void CQLSDownloaderDlg::OnJobNotice(MeshdropJobHandle job)
{
    int textSize = 0;
    MeshdropLib_GetNoticeTextSize(job, &textSize);
    std::unique_ptr<char[]> text;
    if (textSize > 0)
        text = std::make_unique<char[]>(static_cast<size_t>(textSize)); // cleared
    NoticeInfo notice{};
    notice.code = MESHDROPLIB_NOTICE_NONE;
    notice.text = text.get();
    // The notice's text (a URL) is not shown to the player.
    if (IsCurrentJobEvent(job, MeshdropLib_PopNotice(job, &notice))) {
        SayEngineWait(m_engineWait.OnNotice(notice.code));
        ShowNotice(job, notice.code);
    }
}

void CQLSDownloaderDlg::ShowNotice(MeshdropJobHandle job, uint32_t code)
{
    CString text;
    switch (code) {
    case MESHDROPLIB_NOTICE_DISK_FULL: {
        uint64_t required = 0;
        MeshdropLib_GetRequiredSpace(job, &required);
        StopDownload();
        text.Format(L"硬碟(%ls)的空間不足(%ls)。", m_strFolder.c_str(),
                    FormatSize(static_cast<double>(required)).c_str());
        DialogBox(text.c_str());
        break;
    }
    case MESHDROPLIB_NOTICE_NETWORK_LOST:
        DialogBox(L"您的網路狀態不佳");
        break;
    case MESHDROPLIB_NOTICE_NETWORK_BACK:
        DialogBox(L"您的網路回復正常");
        break;
    case MESHDROPLIB_NOTICE_JOB_FAILED:
        text.Format(L"下載%ls失敗\n請稍候再試", L"veilrune");
        DialogBox(text.c_str());
        break;
    default:
        // No notice, or the engine gave the job up and the direct download
        // goes on with it.
        break;
    }
}

void CQLSDownloaderDlg::OnFileListDone()
{
    std::vector<unsigned char> data = CopyFetchedFileList();
    TakeFileList(data.data(), data.size());
    data.clear();
    CheckFileSizes();
}

void CQLSDownloaderDlg::TakeFileList(const unsigned char* data, uint64_t size)
{
    FileListSplit split = SplitFileList(data, size);
    for (std::wstring& entry : split.entries)
        m_fileList.push_back(std::move(entry));
    if (split.longLine) {
        DialogBox(L"輸入了錯誤的URL");
        StopDownload();
        AskToQuit();
        return;
    }
    if (m_fileList.empty()) {
        DialogBox(L"下載檔案目錄失敗");
        AskToQuit();
    }
}

void CQLSDownloaderDlg::CheckFileSizes()
{
    // Whatever the list turned out to be, every entry goes to the size check.
    for (const std::wstring& entry : m_fileList) {
        if (MeshdropLib_AddFileSizeCheck(ToSystemCodePage(entry).c_str()) != MESHDROPLIB_OK) {
            AfxMessageBox(L"檔案大小確認失敗");
            AskToQuit();
        }
    }
    if (MeshdropLib_StartFileSizeCheck() != MESHDROPLIB_OK) {
        AfxMessageBox(L"檔案大小確認失敗");
        AskToQuit();
    }
}

void CQLSDownloaderDlg::OnFileListFailed()
{
    DialogBox(L"下載檔案目錄失敗");
    StopDownload();
    AskToQuit();
}

void CQLSDownloaderDlg::OnAskResume(MeshdropJobHandle job)
{
    if (!IsCurrentJobEvent(job, MESHDROPLIB_OK))
        return;
    CResumeDlg question;
    question.DoModal();
    MeshdropLib_AnswerResume(job, question.m_nResume ? 1 : 0, question.m_nApplyAll ? 1 : 0);
}

void CQLSDownloaderDlg::OnSizeCheckDone()
{
    uint64_t total = 0;
    MeshdropLib_GetFileSizeTotal(&total);
    SetRequiredDownloadSize(total);
    m_strFileSize = FormatSize(static_cast<double>(total));
    UpdateCurrentFileLabel();
    m_strRemainTime = L"00:00:00";
    m_strElapsedTime = L"00:00:00";
    m_strReceived = FormatSize(0);
    m_strSpeed = FormatSpeed(0);
    m_strFolder = DefaultDownloadFolder();
    CenterWindow();
    PostMessage(WM_QLS_PUSH_DATA);
}

void CQLSDownloaderDlg::OnSizeCheckFailed()
{
    // Captioned with the application's title, unlike the other boxes.
    MessageBox(L"檔案大小確認失敗");
    AskToQuit();
}

void CQLSDownloaderDlg::UpdateCurrentFileLabel()
{
    if (auto label = FormatCurrentFileLabel(m_fileList, m_nCurrentIndex, m_nFileOrdinal))
        m_strCurrentFile = *label;
}

LRESULT CQLSDownloaderDlg::OnPushData(WPARAM, LPARAM)
{
    PushData();
    return 0;
}
