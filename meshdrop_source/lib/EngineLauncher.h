#pragma once
// CEngineLauncher: brings the local download engine up for the engine
// downloader. It owns the engine update (CDownloader), which fetches the
// update list, installs or replaces the engine's program and starts it, and
// relays that update's reports to the engine downloader.

#include <cstdint>
#include <memory>

#include "IDownloaderEventListener.h"

class CDownloader;
class ILauncherEventListener;

class CEngineLauncher : public IDownloaderEventListener {
public:
    // Creates the update and begins it at once.
    explicit CEngineLauncher(ILauncherEventListener* listener);

    // ---- IDownloaderEventListener ----
    void OnDownloaderNetworkLost() override;
    void OnDownloaderFileLength(const char* url, int64_t length) override;
    void OnDownloaderProgress(const char* url, int64_t received) override;
    void OnDownloaderFinished(int engineStarted, int ok, const char* newVersion) override;
    void OnDownloaderPathFailed(int kind) override;
    // Destroys the update.
    ~CEngineLauncher() override;

    CEngineLauncher(const CEngineLauncher&) = delete;
    CEngineLauncher& operator=(const CEngineLauncher&) = delete;

    // Before the launcher is let go: nothing more reaches the listener.
    void Detach() { m_pListener = nullptr; }

private:
    std::unique_ptr<CDownloader> m_pDownloader;
    ILauncherEventListener* m_pListener;
};
