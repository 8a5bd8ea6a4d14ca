#pragma once
// What the engine launcher tells the engine downloader about bringing the
// local engine up: the update's files and data, and whether the engine is
// ready. The operations keep this order; the listener is held as a plain
// pointer and never deleted through this interface.

#include <cstdint>

class ILauncherEventListener {
public:
    // The update began to fetch a file whose size is known.
    virtual void OnLauncherFileLength(const char* fileName, int64_t size) = 0;
    // The update received data of a file.
    virtual void OnLauncherProgress(const char* fileName, int64_t received) = 0;
    // The engine is up to date and started.
    virtual void OnLauncherReady() = 0;
    // The engine could not be brought up to date or started.
    virtual void OnLauncherFailed() = 0;
    // The update server cannot be reached; the update keeps trying.
    virtual void OnLauncherNetworkLost() = 0;
    // A folder the update needs cannot be written (kind: PathAccessKind).
    virtual void OnLauncherPathFailed(int kind) = 0;

protected:
    ~ILauncherEventListener() = default;
};
