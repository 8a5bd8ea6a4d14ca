#include "DownloadRun.h"

#include <shellapi.h>
#include <win32_ext.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "BuiltInAddresses.h"
#include "CompletedFile.h"
#include "DownloadFolderRules.h"
#include "ExitCodes.h"
#include "FetchedFileList.h"
#include "FileListSplitter.h"
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

DownloadRun::DownloadRun(const CliOptions& options, ProgressView& view) : options_(options), view_(view)
{
    static const ATOM registered = [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = &DownloadRun::WindowProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = kWindowClass;
        return RegisterClassA(&wc);
    }();
    (void)registered;
    window_ = CreateWindowExA(0, kWindowClass, "qlsdownloader-cli", 0, 0, 0, 0, 0, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

DownloadRun::~DownloadRun()
{
    if (window_ != nullptr)
        DestroyWindow(window_);
}

int DownloadRun::Run()
{
    if (window_ == nullptr) {
        view_.Error("cannot create the window that receives the library's events");
        return kExitFailure;
    }
    fileListUrl_ = options_.fileListUrl.empty() ? ToSystemCodePage(kBuiltInFileListUrl) : options_.fileListUrl;
    if (!options_.checkOnly && !ChooseFolder())
        return kExitUsage;

    StopSignals signals(window_, kStopMessage);
    if (const int result = MeshdropLib_Initialize(window_, nullptr, nullptr); result != MESHDROPLIB_OK) {
        view_.Error("the download library did not start (" + std::to_string(result) + ")");
        MeshdropLib_Finalize();
        return kExitFailure;
    }
    view_.Message("Fetching the file list from " + fileListUrl_);
    if (MeshdropLib_FetchFileList(fileListUrl_.c_str()) != MESHDROPLIB_OK) {
        view_.Error("cannot fetch the file list from " + fileListUrl_);
        Finish(kExitFileList);
    }

    MSG msg;
    while (!done_ && GetMessageA(&msg, nullptr, 0, 0) > 0)
        DispatchMessageA(&msg);
    StopJob();
    MeshdropLib_Finalize();

    if (exitCode_ == kExitOk && options_.install)
        exitCode_ = RunInstaller();
    return exitCode_;
}

LRESULT CALLBACK DownloadRun::WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<DownloadRun*>(GetWindowLongPtrA(hWnd, GWLP_USERDATA));
    if (self != nullptr && message == MESHDROPLIB_WM_EVENT) {
        if (!self->done_)
            self->OnLibraryEvent(static_cast<UINT>(wParam), static_cast<MeshdropJobHandle>(lParam));
        return 0;
    }
    if (self != nullptr && message == kStopMessage) {
        self->OnStopSignal(static_cast<int>(lParam));
        return 0;
    }
    return DefWindowProcA(hWnd, message, wParam, lParam);
}

bool DownloadRun::ChooseFolder()
{
    if (options_.folder.empty()) {
        folder_ = ToSystemCodePage(DefaultDownloadFolder());
    } else {
        folder_ = W32PathFromPosixA(options_.folder);
        if (folder_.empty()) {
            view_.Error("cannot use the folder " + options_.folder);
            return false;
        }
    }
    if (folder_.back() != '\\')
        folder_.push_back('\\');
    folderShown_ = PosixForm(folder_);
    return true;
}

void DownloadRun::OnLibraryEvent(UINT code, MeshdropJobHandle job)
{
    const bool ours = job != 0 && job == job_;
    if (job == 0 || ours)
        SayEngineWait(engineWait_.OnEvent(code));
    switch (code) {
    case MESHDROPLIB_EVENT_FILE_LIST_DONE:
        OnFileList();
        break;
    case MESHDROPLIB_EVENT_FILE_LIST_FAILED:
        view_.Error("cannot fetch the file list from " + fileListUrl_);
        Finish(kExitFileList);
        break;
    case MESHDROPLIB_EVENT_SIZE_CHECK_DONE:
        OnSizesKnown();
        break;
    case MESHDROPLIB_EVENT_SIZE_CHECK_FAILED:
        view_.Error("cannot check the sizes of the files");
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

void DownloadRun::OnStopSignal(int signal)
{
    if (done_)
        return;
    view_.EndProgress();
    const uint64_t count = entries_.size();
    view_.Error(std::string(signal == SIGINT ? "interrupted" : "terminated") + ": the download was stopped; " +
                std::to_string(filesDone_) + " of " + Plural(count, "file") + " complete");
    Finish(kExitSignalBase + signal);
}

void DownloadRun::OnFileList()
{
    const std::vector<unsigned char> data = CopyFetchedFileList();
    FileListSplit split = SplitFileList(data.data(), data.size());
    if (split.longLine) {
        view_.Error("the file list has a line of 1024 bytes or more");
        Finish(kExitFileList);
        return;
    }
    if (split.entries.empty()) {
        view_.Error("the file list names no file");
        Finish(kExitFileList);
        return;
    }
    entries_ = std::move(split.entries);
    view_.Message("The list names " + Plural(entries_.size(), "file") + "; checking their sizes");
    for (const std::wstring& entry : entries_) {
        if (MeshdropLib_AddFileSizeCheck(ToSystemCodePage(entry).c_str()) != MESHDROPLIB_OK) {
            view_.Error("cannot check the sizes of the files");
            Finish(kExitSizeCheck);
            return;
        }
    }
    if (MeshdropLib_StartFileSizeCheck() != MESHDROPLIB_OK) {
        view_.Error("cannot check the sizes of the files");
        Finish(kExitSizeCheck);
    }
}

void DownloadRun::OnSizesKnown()
{
    MeshdropLib_GetFileSizeTotal(&totalSize_);
    if (options_.checkOnly) {
        for (const std::wstring& entry : entries_)
            view_.Message("  " + FileNameOf(entry));
        view_.Message("Total: " + FormatBytes(totalSize_) + " (" + std::to_string(totalSize_) + " bytes) in " +
                      Plural(entries_.size(), "file"));
        Finish(kExitOk);
        return;
    }
    StartJob();
}

void DownloadRun::StartJob()
{
    MeshdropLib_SetEngineServiceId(kServiceId);
    if (MeshdropLib_CreateJob(&job_, nullptr, kServiceId) != MESHDROPLIB_OK) {
        view_.Error("cannot create the download job");
        Finish(kExitDownload);
        return;
    }
    MeshdropLib_SetJobEngineFlag(job_);
    for (const std::wstring& entry : entries_) {
        const int result = MeshdropLib_AddFile(job_, ToSystemCodePage(entry).c_str(), folder_.c_str(), nullptr,
                                               0xFFFFFFFF, 0xFFFFFFFF, 1);
        if (result == MESHDROPLIB_ERROR_FOLDER) {
            view_.Error("cannot create the folder " + folderShown_);
            Finish(kExitDownload);
            return;
        }
    }
    view_.Message("Downloading " + FormatBytes(totalSize_) + " in " + Plural(entries_.size(), "file") + " into " +
                  folderShown_ + (options_.consent ? " (high-speed mode)" : ""));
    if (options_.rateLimit != 0) {
        MeshdropLib_SetJobRateLimit(job_, options_.rateLimit);
        view_.Message("At most " + FormatBytes(options_.rateLimit) + "/s (--limit-rate)");
    }
    startTick_ = GetTickCount64();
    if (MeshdropLib_StartJob(job_, options_.consent ? 1 : 0) != MESHDROPLIB_OK) {
        view_.Error("cannot start the download");
        Finish(kExitDownload);
        return;
    }
    SayEngineWait(engineWait_.OnJobStarted());
    // Where the package went, for its installer, as the window publishes it.
    PublishDownloadFolder(L"veilrune", FromSystemCodePage(folder_));
}

void DownloadRun::OnProgress(MeshdropJobHandle job)
{
    JobProgressInfo info{};
    MeshdropLib_GetJobProgress(job, &info);
    info.fileName[sizeof info.fileName - 1] = '\0';
    ProgressSample sample;
    sample.done = info.doneSize;
    sample.total = info.totalSize;
    sample.percent = info.percent;
    sample.speed = info.speed;
    // The library's estimate rounds down: 6.5 MiB at 7.75 MiB/s would read 0:00:00.
    sample.remaining = SecondsLeft(info.totalSize, info.doneSize, info.speed);
    sample.fileCount = info.fileCount;
    sample.fileName = ToUtf8(FromSystemCodePage(info.fileName));
    // Between files, and after the last one, no file is current: the count
    // of completed files says where the job stands.
    sample.fileNumber = std::min(sample.fileName.empty() ? info.fileCounter : info.fileIndex + 1, info.fileCount);
    view_.Progress(sample);
}

void DownloadRun::OnFileDone(MeshdropJobHandle job)
{
    FileDoneInfo info{};
    MeshdropLib_PopFileDone(job, &info);
    info.text[sizeof info.text - 1] = '\0';
    ++filesDone_;
    const std::string_view record(info.text);
    const std::optional<CompletedFile> file = FindCompletedFile(entries_, folder_, record, sizeof info.text - 1);
    if (!file)
        return;
    view_.Message("Complete: " + PosixForm(file->localPath));
    if (const std::optional<CompletedFile> installer =
            CompletedInstaller(entries_, folder_, record, sizeof info.text - 1)) {
        installerPath_ = FromSystemCodePage(installer->localPath);
        // The size check's figure, asked while the library runs.
        if (MeshdropLib_GetFileSize(static_cast<uint32_t>(installer->entry), &installerSize_) != MESHDROPLIB_OK)
            installerPath_.clear();
    }
}

void DownloadRun::OnJobFinished(MeshdropJobHandle job)
{
    JobFinishInfo info{};
    MeshdropLib_GetJobFinishInfo(job, &info);
    view_.EndProgress();
    const uint64_t seconds = (GetTickCount64() - startTick_) / 1000;
    view_.Message("Downloaded " + Plural(filesDone_, "file") + " (" + FormatBytes(totalSize_) + ") in " +
                  FormatEta(seconds, 1) + " into " + folderShown_);
    Finish(kExitOk);
}

void DownloadRun::OnNotice(MeshdropJobHandle job)
{
    int textSize = 0;
    MeshdropLib_GetNoticeTextSize(job, &textSize);
    std::string text(textSize > 0 ? static_cast<size_t>(textSize) : 0, '\0');
    NoticeInfo notice{MESHDROPLIB_NOTICE_NONE, textSize > 0 ? text.data() : nullptr};
    MeshdropLib_PopNotice(job, &notice);
    text.resize(std::strlen(text.c_str()));
    SayEngineWait(engineWait_.OnNotice(notice.code));

    switch (notice.code) {
    case MESHDROPLIB_NOTICE_DISK_FULL: {
        uint64_t required = 0;
        MeshdropLib_GetRequiredSpace(job, &required);
        view_.EndProgress();
        view_.Error("not enough disk space in " + folderShown_ + ": " + FormatBytes(required) + " still to download");
        Finish(kExitDiskFull);
        break;
    }
    case MESHDROPLIB_NOTICE_NETWORK_LOST:
        view_.Message("The network connection is lost; the download waits for it");
        break;
    case MESHDROPLIB_NOTICE_NETWORK_BACK:
        view_.Message("The network connection is back");
        break;
    case MESHDROPLIB_NOTICE_JOB_FAILED:
        view_.EndProgress();
        view_.Error("the download failed" + (text.empty() ? std::string() : ": " + text));
        Finish(kExitDownload);
        break;
    default:
        // No notice, or the engine gave the job up and the direct download
        // goes on with it.
        break;
    }
}

int DownloadRun::RunInstaller()
{
    if (installerPath_.empty()) {
        view_.Error("the package has no installer");
        return kExitInstaller;
    }
    const std::string shown = PosixForm(ToSystemCodePage(installerPath_));
    if (GetFileAttributesW(installerPath_.c_str()) == INVALID_FILE_ATTRIBUTES) {
        view_.Error("the installer " + shown + " is not there");
        return kExitInstaller;
    }
    if (!IsDownloadedFile(installerPath_, installerSize_)) {
        view_.Error("the installer " + shown + " is not the file that was downloaded (" +
                    std::to_string(installerSize_) + " bytes): it was not run");
        return kExitInstaller;
    }
    // Linux has no elevation prompt for a user's program: "open" it is.
    SHELLEXECUTEINFOW execute{};
    execute.cbSize = sizeof execute;
    execute.fMask = SEE_MASK_NOCLOSEPROCESS;
    execute.lpVerb = L"open";
    execute.lpFile = installerPath_.c_str();
    execute.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&execute)) {
        view_.Error("cannot start the installer " + shown + " (error " + std::to_string(GetLastError()) + ")");
        return kExitInstaller;
    }
    WaitForInputIdle(execute.hProcess, INFINITE);
    CloseHandle(execute.hProcess);
    view_.Message("Started the installer " + shown);
    return kExitOk;
}

void DownloadRun::Finish(int code)
{
    StopJob();
    exitCode_ = code;
    done_ = true;
}

void DownloadRun::StopJob()
{
    if (job_ == 0)
        return;
    MeshdropLib_StopJob(job_);
    MeshdropLib_DeleteJob(job_);
    job_ = 0;
    engineWait_.OnJobEnded();
}

void DownloadRun::SayEngineWait(std::optional<EngineWait::Say> say)
{
    if (!say)
        return;
    switch (*say) {
    case EngineWait::Say::Updating:
        view_.Message("Waiting for the download engine: its update is running");
        break;
    case EngineWait::Say::Starting:
        view_.Message("The download engine is up to date and starting");
        break;
    case EngineWait::Say::Direct:
        view_.Message("The download engine is not available; downloading directly");
        break;
    }
}
