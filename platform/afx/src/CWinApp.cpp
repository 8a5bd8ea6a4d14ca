#include "afx/CWinApp.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>

#include "AfxInternal.h"

namespace {

CWinApp* g_app = nullptr;
int g_exitCode = 0;

CString ExecutableTitle()
{
    QString path = QCoreApplication::instance() ? QCoreApplication::applicationFilePath() : QString();
    if (path.isEmpty())
        path = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    return QFileInfo(path).completeBaseName().toStdWString();
}

} // namespace

void CCommandLineInfo::ParseParam(const wchar_t* param, BOOL flag, BOOL)
{
    if (!flag && m_strFileName.IsEmpty())
        m_strFileName = param;
}

CWinApp::CWinApp(LPCWSTR appName)
{
    if (appName)
        m_strAppName = appName;
    g_app = this;
}

CWinApp::~CWinApp()
{
    if (g_app == this)
        g_app = nullptr;
}

BOOL CWinApp::InitInstance()
{
    return TRUE;
}

int CWinApp::ExitInstance()
{
    return g_exitCode;
}

int CWinApp::Run()
{
    // The loop ends when the queue pump sees WM_QUIT (it quits the
    // application's event loop when no dialog runs modally).
    g_exitCode = QCoreApplication::exec();
    return ExitInstance();
}

void CWinApp::ParseCommandLine(CCommandLineInfo& info)
{
    for (int i = 1; i < m_argc; ++i) {
        std::wstring param = QString::fromLocal8Bit(m_argv[i]).toStdWString();
        BOOL flag = FALSE;
        if (!param.empty() && (param[0] == L'-' || param[0] == L'/')) {
            flag = TRUE;
            param.erase(0, 1);
        }
        info.ParseParam(param.c_str(), flag, i == m_argc - 1 ? TRUE : FALSE);
    }
}

void CWinApp::SetRegistryKey(LPCWSTR key)
{
    m_strRegistryKey = key ? key : L"";
}

CWinApp* AfxGetApp()
{
    return g_app;
}

CWnd* AfxGetMainWnd()
{
    return g_app ? g_app->m_pMainWnd : nullptr;
}

CString AfxGetAppName()
{
    if (g_app && !g_app->m_strAppName.IsEmpty())
        return g_app->m_strAppName;
    return ExecutableTitle();
}

BOOL AfxEnableControlContainer()
{
    return TRUE;
}

int AfxWinMain(int argc, char** argv)
{
    AfxEnsureApplication();
    CWinApp* app = g_app;
    if (!app)
        return 1;
    app->m_argc = argc;
    app->m_argv = argv;
    if (app->m_strAppName.IsEmpty())
        app->m_strAppName = ExecutableTitle();
    if (!app->InitInstance())
        return app->ExitInstance();
    return app->Run();
}
