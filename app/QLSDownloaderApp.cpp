#include "QLSDownloaderApp.h"

#include "BuiltInAddresses.h"
#include "main_dialog/QLSDownloaderDlg.h"

#include <memory>

namespace {

// Parameters seen so far, over every parser of the process.
int g_parameterCount = 0;

constexpr size_t kMutexNameLimit = 260;

} // namespace

void CCommandLineInfoParser::ParseParam(const wchar_t* param, BOOL, BOOL)
{
    if (g_parameterCount == 0)
        m_strFirstParam = param ? param : L"";
    ++g_parameterCount;
}

CQLSDownloaderApp::CQLSDownloaderApp() = default;

CString CQLSDownloaderApp::FirstParameter()
{
    auto* app = dynamic_cast<CQLSDownloaderApp*>(AfxGetApp());
    return app ? app->m_cmdInfo.m_strFirstParam : CString();
}

CString SingleInstanceMutexName()
{
    CString name = CString(L"QLS-Downloader") + L"::" + kBuiltInFileListUrl;
    if (name.size() > kMutexNameLimit)
        name.resize(kMutexNameLimit);
    return name;
}

BOOL CQLSDownloaderApp::ActivateRunningCopy()
{
    if (AfxMessageBox(L"正在進行下載作業", MB_OK) != IDOK)
        return FALSE;
    if (HWND first = FindWindowW(nullptr, kMainWindowTitle)) {
        HWND popup = GetLastActivePopup(first);
        if (IsIconic(first))
            ShowWindow(first, SW_RESTORE);
        SetForegroundWindow(popup);
    }
    return TRUE;
}

BOOL CQLSDownloaderApp::InitInstance()
{
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = 8;
    controls.dwICC = ICC_WIN95_CLASSES;
    InitCommonControlsEx(&controls);

    CWinApp::InitInstance();
    AfxEnableControlContainer();
    SetRegistryKey(L"Orvane Inc.");
    ParseCommandLine(m_cmdInfo);

    // The handle stays open while the dialog runs: it is the marker that a
    // later copy finds. The program ends when this returns.
    HANDLE mutex = CreateMutexW(nullptr, FALSE, SingleInstanceMutexName().c_str());
    const std::unique_ptr<void, BOOL (*)(HANDLE)> marker(mutex, &CloseHandle);
    if (mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
        if (ActivateRunningCopy())
            return FALSE;
    }

    auto dialog = std::make_unique<CQLSDownloaderDlg>();
    m_pMainWnd = dialog.get();
    dialog->DoModal();
    m_pMainWnd = nullptr;
    dialog.reset();
    return FALSE;
}
