// The application object and its command line.
#pragma once

#include "afx/CCmdTarget.h"
#include "afx/CString.h"

class CWnd;

// The command line as the framework parses it: ParseParam is called once for
// every parameter after the program name, with a leading "-" or "/" taken
// off and reported as a flag.
class CCommandLineInfo {
public:
    virtual ~CCommandLineInfo() = default;
    virtual void ParseParam(const wchar_t* param, BOOL flag, BOOL last);

    CString m_strFileName;
};

class CWinApp : public CCmdTarget {
public:
    explicit CWinApp(LPCWSTR appName = nullptr);
    ~CWinApp() override;

    // Start-up of the program; FALSE ends it without a message loop.
    virtual BOOL InitInstance();
    virtual int ExitInstance();
    // The message loop for programs whose InitInstance returned TRUE: runs
    // until the thread receives WM_QUIT.
    virtual int Run();

    void ParseCommandLine(CCommandLineInfo& info);
    void SetRegistryKey(LPCWSTR key);

    CWnd* m_pMainWnd = nullptr;
    // The executable's file name without extension, the application title.
    CString m_strAppName;
    CString m_strRegistryKey;
    int m_argc = 0;
    char** m_argv = nullptr;
};

CWinApp* AfxGetApp();
// The application title: the executable's file name without extension.
CString AfxGetAppName();
// Hosting of controls in dialogs is always on here; kept for the start-up
// sequence.
BOOL AfxEnableControlContainer();
// The process entry: makes the application object's InitInstance run (and
// Run, when it returns TRUE) and returns the exit code.
int AfxWinMain(int argc, char** argv);
