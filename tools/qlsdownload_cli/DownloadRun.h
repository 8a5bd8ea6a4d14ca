// One run of qlsdownloader-cli: the file list, the size check, the download
// job and the installer, driven by the download library's events the way the
// window is driven: a hidden window on the calling thread receives them and a
// message loop pumps them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <windows.h>

#include "CliOptions.h"
#include "EngineWait.h"
#include "ExitCodes.h"
#include "MeshdropLib.h"
#include "ProgressView.h"

class DownloadRun {
public:
    DownloadRun(const CliOptions& options, ProgressView& view);
    ~DownloadRun();
    DownloadRun(const DownloadRun&) = delete;
    DownloadRun& operator=(const DownloadRun&) = delete;

    // Runs everything on the calling thread; returns the exit code.
    int Run();

private:
    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    void OnLibraryEvent(UINT code, MeshdropJobHandle job);
    void OnStopSignal(int signal);

    bool ChooseFolder();
    void OnFileList();
    void OnSizesKnown();
    void StartJob();
    void OnProgress(MeshdropJobHandle job);
    void OnFileDone(MeshdropJobHandle job);
    void OnJobFinished(MeshdropJobHandle job);
    void OnNotice(MeshdropJobHandle job);
    int RunInstaller();
    // A line when the engine keeps the started job waiting, or gives it up.
    void SayEngineWait(std::optional<EngineWait::Say> say);

    // Ends the run with `code`: stops the job, if one runs, and leaves the loop.
    void Finish(int code);
    void StopJob();

    const CliOptions& options_;
    ProgressView& view_;
    HWND window_ = nullptr;
    std::string fileListUrl_;
    std::string folder_;      // the library's form: a Windows path ending in "\"
    std::string folderShown_; // the POSIX form
    std::vector<std::wstring> entries_;
    uint64_t totalSize_ = 0;
    MeshdropJobHandle job_ = 0;
    uint32_t filesDone_ = 0;
    std::wstring installerPath_;
    uint64_t installerSize_ = 0; // as the size check announced it
    uint64_t startTick_ = 0;
    EngineWait engineWait_;
    bool done_ = false;
    int exitCode_ = 0;
};
