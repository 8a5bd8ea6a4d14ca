#pragma once
// What the engine update (CDownloader) reports to its listener, the engine
// launcher. The operations keep this order.

#include <cstdint>

class IDownloaderEventListener {
public:
    virtual void OnDownloaderNetworkLost() = 0;
    virtual void OnDownloaderFileLength(const char* url, int64_t length) = 0;
    virtual void OnDownloaderProgress(const char* url, int64_t received) = 0;
    virtual void OnDownloaderFinished(int engineStarted, int ok, const char* newVersion) = 0;
    virtual void OnDownloaderPathFailed(int kind) = 0;
    virtual ~IDownloaderEventListener() = default;
};
