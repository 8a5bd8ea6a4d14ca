#include "DownloadRun.h"

#include <shellapi.h>
#include <win32_ext.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "BuiltInAddresses.h"
#include "DownloadFolderRules.h"
#include "ExitCodes.h"
#include "FetchedFileList.h"
#include "FileListSplitter.h"
#include "InstallerRule.h"
#include "StopSignals.h"
#include "SystemCodePage.h"

namespace {

constexpr const char* kWindowClass = "QLSDownloaderCliEvents";
constexpr UINT kStopMessage = WM_APP + 0x10;
constexpr const char* kServiceId = "joyvend_veilrune_tw";

// A Windows path of the library as the POSIX path a Linux user knows.
std::string PosixForm(const std::string& windowsPath)
{
    const std::string posix = W32PathToPosix(windowsPath);
    return posix.empty() ? ToUtf8(FromSystemCodePage(windowsPath)) : posix;
}

std::string FileNameOf(const std::wstring& entry)
{
    const size_t slash = entry.rfind(L'/');
    return ToUtf8(slash == std::wstring::npos ? entry : entry.substr(slash + 1));
}

std::string Plural(uint64_t count, const char* noun)
{
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

} // namespace

CDownloadRun::CDownloadRun(const CliOptions& options, ProgressView& view) : m_options(options), m_view(view)
{
    static const ATOM registered = [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = &CDownloadRun::WindowProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = kWindowClass;
        return RegisterClassA(&wc);
    }();
    (void)registered;
    m_hWnd = CreateWindowExA(0, kWindowClass, "qlsdownloader-cli", 0, 0, 0, 0, 0, nullptr, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
    SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

CDownloadRun::~CDownloadRun()
{
    if (m_hWnd != nullptr)
        DestroyWindow(m_hWnd);
}

int CDownloadRun::Run()
{
    if (m_hWnd == nullptr) {
        m_view.Error("cannot create the window that receives the library's events");
        return kExitFailure;
    }
    m_fileListUrl = m_options.fileListUrl.empty() ? ToSystemCodePage(kBuiltInFileListUrl) : m_options.fileListUrl;
    if (!m_options.checkOnly && !ChooseFolder())
        return kExitUsage;

    StopSignals signals(m_hWnd, kStopMessage);
    if (const int result = MeshdropLib_Initialize(m_hWnd, nullptr, nullptr); result != MESHDROPLIB_OK) {
        m_view.Error("the download library did not start (" + std::to_string(result) + ")");
        MeshdropLib_Finalize();
        return kExitFailure;
    }
    m_view.Message("Fetching the file list from " + m_fileListUrl);
    if (MeshdropLib_FetchFileList(m_fileListUrl.c_str()) != MESHDROPLIB_OK) {
        m_view.Error("cannot fetch the file list from " + m_fileListUrl);
        Finish(kExitFileList);
    }

    MSG msg;
    while (!m_done && GetMessageA(&msg, nullptr, 0, 0) > 0)
        DispatchMessageA(&msg);
    StopJob();
    MeshdropLib_Finalize();

    if (m_exitCode == kExitOk && m_options.install)
        m_exitCode = RunInstaller();
    return m_exitCode;
}

LRESULT CALLBACK CDownloadRun::WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<CDownloadRun*>(GetWindowLongPtrA(hWnd, GWLP_USERDATA));
    if (self != nullptr && message == MESHDROPLIB_WM_EVENT) {
        if (!self->m_done)
            self->OnLibraryEvent(static_cast<UINT>(wParam), static_cast<MeshdropJobHandle>(lParam));
        return 0;
    }
    if (self != nullptr && message == kStopMessage) {
        self->OnStopSignal(static_cast<int>(lParam));
        return 0;
    }
    return DefWindowProcA(hWnd, message, wParam, lParam);
}

bool CDownloadRun::ChooseFolder()
{
    if (m_options.folder.empty()) {
        m_folder = ToSystemCodePage(DefaultDownloadFolder());
    } else {
        m_folder = W32PathFromPosixA(m_options.folder);
        if (m_folder.empty()) {
            m_view.Error("cannot use the folder " + m_options.folder);
            return false;
        }
    }
    if (m_folder.back() != '\\')
        m_folder.push_back('\\');
    m_folderShown = PosixForm(m_folder);
    return true;
}

void CDownloadRun::OnLibraryEvent(UINT code, MeshdropJobHandle job)
{
    const bool ours = job != 0 && job == m_job;
    switch (code) {
    case MESHDROPLIB_EVENT_FILE_LIST_DONE:
        OnFileList();
        break;
    case MESHDROPLIB_EVENT_FILE_LIST_FAILED:
        m_view.Error("cannot fetch the file list from " + m_fileListUrl);
        Finish(kExitFileList);
        break;
    case MESHDROPLIB_EVENT_SIZE_CHECK_DONE:
        OnSizesKnown();
        break;
    case MESHDROPLIB_EVENT_SIZE_CHECK_FAILED:
        m_view.Error("cannot check the sizes of the files");
        Finish(kExitSizeCheck);
        break;
    case MESHDROPLIB_EVENT_JOB_SIZE:
        if (ours) {
            JobSizeInfo info{};
            MeshdropLib_GetJobSizeInfo(job, &info);
        }
        break;
    case MESHDROPLIB_EVENT_JOB_PROGRESS:
        if (ours)
            OnProgress(job);
        break;
    case MESHDROPLIB_EVENT_FILE_DONE:
        if (ours)
            OnFileDone(job);
        break;
    case MESHDROPLIB_EVENT_JOB_FINISHED:
        if (ours)
            OnJobFinished(job);
        break;
    case MESHDROPLIB_EVENT_JOB_NOTICE:
        if (ours)
            OnNotice(job);
        break;
    case MESHDROPLIB_EVENT_ASK_RESUME:
        // Files of an earlier download are there: a script wants them kept.
        if (ours)
            MeshdropLib_AnswerResume(job, 1, 1);
        break;
    default:
        // The engine update's events need nothing of the front end.
        break;
    }
}

void CDownloadRun::OnStopSignal(int signal)
{
    if (m_done)
        return;
    m_view.EndProgress();
    const uint64_t count = m_entries.size();
    m_view.Error(std::string(signal == SIGINT ? "interrupted" : "terminated") + ": the download was stopped; " +
                 std::to_string(m_filesDone) + " of " + Plural(count, "file") + " complete");
    Finish(kExitSignalBase + signal);
}

void CDownloadRun::OnFileList()
{
    const std::vector<unsigned char> data = CopyFetchedFileList();
    FileListSplit split = SplitFileList(data.data(), data.size());
    if (split.longLine) {
        m_view.Error("the file list has a line of 1024 bytes or more");
        Finish(kExitFileList);
        return;
    }
    if (split.entries.empty()) {
        m_view.Error("the file list names no file");
        Finish(kExitFileList);
        return;
    }
    m_entries = std::move(split.entries);
    m_view.Message("The list names " + Plural(m_entries.size(), "file") + "; checking their sizes");
    for (const std::wstring& entry : m_entries) {
        if (MeshdropLib_AddFileSizeCheck(ToSystemCodePage(entry).c_str()) != MESHDROPLIB_OK) {
            m_view.Error("cannot check the sizes of the files");
            Finish(kExitSizeCheck);
            return;
        }
    }
    if (MeshdropLib_StartFileSizeCheck() != MESHDROPLIB_OK) {
        m_view.Error("cannot check the sizes of the files");
        Finish(kExitSizeCheck);
    }
}

void CDownloadRun::OnSizesKnown()
{
    MeshdropLib_GetFileSizeTotal(&m_totalSize);
    if (m_options.checkOnly) {
        for (const std::wstring& entry : m_entries)
            m_view.Message("  " + FileNameOf(entry));
        m_view.Message("Total: " + FormatBytes(m_totalSize) + " (" + std::to_string(m_totalSize) + " bytes) in " +
                       Plural(m_entries.size(), "file"));
        Finish(kExitOk);
        return;
    }
    StartJob();
}

void CDownloadRun::StartJob()
{
    MeshdropLib_SetEngineServiceId(kServiceId);
    if (MeshdropLib_CreateJob(&m_job, nullptr, kServiceId) != MESHDROPLIB_OK) {
        m_view.Error("cannot create the download job");
        Finish(kExitDownload);
        return;
    }
    MeshdropLib_SetJobEngineFlag(m_job);
    for (const std::wstring& entry : m_entries) {
        const int result = MeshdropLib_AddFile(m_job, ToSystemCodePage(entry).c_str(), m_folder.c_str(), nullptr,
                                               0xFFFFFFFF, 0xFFFFFFFF, 1);
        if (result == MESHDROPLIB_ERROR_FOLDER) {
            m_view.Error("cannot create the folder " + m_folderShown);
            Finish(kExitDownload);
            return;
        }
    }
    m_view.Message("Downloading " + FormatBytes(m_totalSize) + " in " + Plural(m_entries.size(), "file") + " into " +
                   m_folderShown + (m_options.consent ? " (high-speed mode)" : ""));
    m_startTick = GetTickCount64();
    if (MeshdropLib_StartJob(m_job, m_options.consent ? 1 : 0) != MESHDROPLIB_OK) {
        m_view.Error("cannot start the download");
        Finish(kExitDownload);
        return;
    }
    // Where the package went, for its installer, as the window publishes it.
    PublishDownloadFolder(L"veilrune", FromSystemCodePage(m_folder));
}

void CDownloadRun::OnProgress(MeshdropJobHandle job)
{
    JobProgressInfo info{};
    MeshdropLib_GetJobProgress(job, &info);
    info.fileName[sizeof info.fileName - 1] = '\0';
    ProgressSample sample;
    sample.done = info.doneSize;
    sample.total = info.totalSize;
    sample.percent = info.percent;
    sample.speed = info.speed;
    sample.remaining = info.remaining;
    sample.fileCount = info.fileCount;
    sample.fileNumber = std::min(info.fileIndex + 1, info.fileCount);
    sample.fileName = ToUtf8(FromSystemCodePage(info.fileName));
    m_view.Progress(sample);
}

void CDownloadRun::OnFileDone(MeshdropJobHandle job)
{
    FileDoneInfo info{};
    MeshdropLib_PopFileDone(job, &info);
    info.text[sizeof info.text - 1] = '\0';
    // "<URL>,<local path>": the path follows the first comma.
    const std::string text(info.text);
    const size_t comma = text.find(',');
    const std::string localPath = comma == std::string::npos ? text : text.substr(comma + 1);
    ++m_filesDone;
    if (IsInstallerPath(m_entries.size(), FromSystemCodePage(localPath)))
        m_installerPath = FromSystemCodePage(localPath);
    m_view.Message("Complete: " + PosixForm(localPath));
}

void CDownloadRun::OnJobFinished(MeshdropJobHandle job)
{
    JobFinishInfo info{};
    MeshdropLib_GetJobFinishInfo(job, &info);
    m_view.EndProgress();
    const uint64_t seconds = (GetTickCount64() - m_startTick) / 1000;
    m_view.Message("Downloaded " + Plural(m_filesDone, "file") + " (" + FormatBytes(m_totalSize) + ") in " +
                   FormatEta(seconds, 1) + " into " + m_folderShown);
    Finish(kExitOk);
}

void CDownloadRun::OnNotice(MeshdropJobHandle job)
{
    int textSize = 0;
    MeshdropLib_GetNoticeTextSize(job, &textSize);
    std::string text(textSize > 0 ? static_cast<size_t>(textSize) : 0, '\0');
    NoticeInfo notice{MESHDROPLIB_NOTICE_NONE, textSize > 0 ? text.data() : nullptr};
    MeshdropLib_PopNotice(job, &notice);
    text.resize(std::strlen(text.c_str()));

    switch (notice.code) {
    case MESHDROPLIB_NOTICE_DISK_FULL: {
        uint64_t required = 0;
        MeshdropLib_GetRequiredSpace(job, &required);
        m_view.EndProgress();
        m_view.Error("not enough disk space in " + m_folderShown + ": " + FormatBytes(required) + " still to download");
        Finish(kExitDiskFull);
        break;
    }
    case MESHDROPLIB_NOTICE_NETWORK_LOST:
        m_view.Message("The network connection is lost; the download waits for it");
        break;
    case MESHDROPLIB_NOTICE_NETWORK_BACK:
        m_view.Message("The network connection is back");
        break;
    case MESHDROPLIB_NOTICE_JOB_FAILED:
        m_view.EndProgress();
        m_view.Error("the download failed" + (text.empty() ? std::string() : ": " + text));
        Finish(kExitDownload);
        break;
    default:
        // No notice, or the engine gave the job up and the direct download
        // goes on with it.
        break;
    }
}

int CDownloadRun::RunInstaller()
{
    if (m_installerPath.empty()) {
        m_view.Error("the package has no installer");
        return kExitInstaller;
    }
    const std::string shown = PosixForm(ToSystemCodePage(m_installerPath));
    if (GetFileAttributesW(m_installerPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
        m_view.Error("the installer " + shown + " is not there");
        return kExitInstaller;
    }
    // Linux has no elevation prompt for a user's program: "open" it is.
    SHELLEXECUTEINFOW execute{};
    execute.cbSize = sizeof execute;
    execute.fMask = SEE_MASK_NOCLOSEPROCESS;
    execute.lpVerb = L"open";
    execute.lpFile = m_installerPath.c_str();
    execute.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&execute)) {
        m_view.Error("cannot start the installer " + shown + " (error " + std::to_string(GetLastError()) + ")");
        return kExitInstaller;
    }
    WaitForInputIdle(execute.hProcess, INFINITE);
    CloseHandle(execute.hProcess);
    m_view.Message("Started the installer " + shown);
    return kExitOk;
}

void CDownloadRun::Finish(int code)
{
    StopJob();
    m_exitCode = code;
    m_done = true;
}

void CDownloadRun::StopJob()
{
    if (m_job == 0)
        return;
    MeshdropLib_StopJob(m_job);
    MeshdropLib_DeleteJob(m_job);
    m_job = 0;
}
