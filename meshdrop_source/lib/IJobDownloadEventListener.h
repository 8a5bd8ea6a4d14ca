#pragma once
// What the job downloaders report to the job manager. The operations keep
// this order; the listener is held as a plain pointer and never deleted
// through this interface.

#include <cstdint>

class CJob;

enum PathAccessKind : int {
    PATH_ACCESS_ENGINE = 1,   // the local engine's folder
    PATH_ACCESS_DOWNLOAD = 2, // a download folder given by the client
};

class IJobDownloadEventListener {
public:
    virtual void OnEngineUpdateFileStarted(const char* fileName, int64_t size) = 0;
    virtual void OnEngineUpdateProgress(const char* fileName, int64_t received) = 0;
    virtual void OnEngineReady() = 0;
    virtual void OnEngineUpdateFailed() = 0;
    virtual void OnEngineUnavailable() = 0;
    virtual void OnJobHandOver(CJob* job) = 0;
    virtual void OnPathAccessFailed(int kind) = 0;
    virtual void OnEngineStatus(int value) = 0;

protected:
    ~IJobDownloadEventListener() = default;
};
