#pragma once
// What the engine update (CDownloader) reports to its owner, the engine
// launcher.

#include <cstdint>

class IDownloaderEventListener {
public:
    // The update server's host was unreachable; sessions are retried once a
    // second until one connects.
    virtual void OnDownloaderNetworkLost() = 0;
    // The announced length of an archive being fetched.
    virtual void OnDownloaderFileLength(const char* url, int64_t length) = 0;
    // The bytes of an archive received so far.
    virtual void OnDownloaderProgress(const char* url, int64_t received) = 0;
    // The update ended: whether the engine program was started (0 or 1),
    // whether no fetch failed its check (0 or 1), and the version the update
    // list offered (empty when no list was read).
    virtual void OnDownloaderFinished(int engineStarted, int ok, const char* newVersion) = 0;
    // The update cannot install the engine (kind 1): an archive could not be
    // extracted or the install folder cannot be made.
    virtual void OnDownloaderPathFailed(int kind) = 0;
    virtual ~IDownloaderEventListener() = default;
};
