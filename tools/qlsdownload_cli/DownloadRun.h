// One run of qlsdownloader-cli: the file list, the size check, the download
// job and the installer, driven by the download library's events the way the
// window is driven: a hidden window on the calling thread receives them and a
// message loop pumps them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <windows.h>

#include "CliOptions.h"
#include "ExitCodes.h"
#include "MeshdropLib.h"
#include "ProgressView.h"

class CDownloadRun {
public:
    CDownloadRun(const CliOptions& options, ProgressView& view);
    ~CDownloadRun();
    CDownloadRun(const CDownloadRun&) = delete;
    CDownloadRun& operator=(const CDownloadRun&) = delete;

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

    // Ends the run with `code`: stops the job, if one runs, and leaves the loop.
    void Finish(int code);
    void StopJob();

    const CliOptions& m_options;
    ProgressView& m_view;
    HWND m_hWnd = nullptr;
    std::string m_fileListUrl;
    std::string m_folder;      // the library's form: a Windows path ending in "\"
    std::string m_folderShown; // the POSIX form
    std::vector<std::wstring> m_entries;
    uint64_t m_totalSize = 0;
    MeshdropJobHandle m_job = 0;
    uint32_t m_filesDone = 0;
    std::wstring m_installerPath;
    uint64_t m_startTick = 0;
    bool m_done = false;
    int m_exitCode = 0;
};
