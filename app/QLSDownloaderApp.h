// CQLSDownloaderApp: the downloader's process. It reads the command line,
// lets only one copy of the downloader work at a time, and runs the main
// dialog modally; when the dialog ends, the process ends.
#pragma once

#include <afxwin.h>

// Keeps the first command-line parameter: a file-list address that replaces
// the built-in one. A leading "-" or "/" has already been taken off; every
// later parameter is ignored.
class CCommandLineInfoParser : public CCommandLineInfo {
public:
    void ParseParam(const wchar_t* param, BOOL flag, BOOL last) override;

    CString m_strFirstParam;
};

class CQLSDownloaderApp : public CWinApp {
public:
    CQLSDownloaderApp();

    // The whole start-up; always FALSE, so that no message loop follows.
    BOOL InitInstance() override;

    // The first command-line parameter of the running application, or empty.
    static CString FirstParameter();

    CCommandLineInfoParser m_cmdInfo;

private:
    // Another copy holds the single-instance marker: tell the player and
    // bring that copy's window to the front. FALSE when the player's answer
    // asks to go on anyway.
    BOOL ActivateRunningCopy();
};

// "QLS-Downloader::" and the built-in file-list address, at most 260 characters.
CString SingleInstanceMutexName();

// The main dialog's title, by which a second copy finds the first.
inline constexpr const wchar_t* kMainWindowTitle = L"Brightholm DownLoader";
