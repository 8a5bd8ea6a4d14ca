#include "EngineLauncher.h"

#include "Downloader.h"
#include "ILauncherEventListener.h"
#include "ServiceLog.h"

CEngineLauncher::CEngineLauncher(ILauncherEventListener* listener)
    : m_pDownloader(std::make_unique<CDownloader>()), m_pListener(listener)
{
    m_pDownloader->SetListener(this);
    m_pDownloader->BeginUpdate();
}

CEngineLauncher::~CEngineLauncher()
{
    m_pDownloader.reset();
}

void CEngineLauncher::OnDownloaderNetworkLost()
{
    if (m_pListener != nullptr)
        m_pListener->OnLauncherNetworkLost();
}

void CEngineLauncher::OnDownloaderFileLength(const char* url, int64_t length)
{
    if (m_pListener != nullptr)
        m_pListener->OnLauncherFileLength(url, length);
}

void CEngineLauncher::OnDownloaderProgress(const char* url, int64_t received)
{
    if (m_pListener != nullptr)
        m_pListener->OnLauncherProgress(url, received);
}

void CEngineLauncher::OnDownloaderFinished(int engineStarted, int ok, const char* newVersion)
{
    const bool patched = ok != 0 && newVersion != nullptr && newVersion[0] != '\0';
    WriteServiceLog(patched ? "[MeshdropLib] Patch Success" : "[MeshdropLib] Patch Fail");
    if (m_pListener == nullptr)
        return;
    if (engineStarted != 0 || ok == 1)
        m_pListener->OnLauncherReady();
    else
        m_pListener->OnLauncherFailed();
}

void CEngineLauncher::OnDownloaderPathFailed(int kind)
{
    if (m_pListener != nullptr)
        m_pListener->OnLauncherPathFailed(kind);
}
