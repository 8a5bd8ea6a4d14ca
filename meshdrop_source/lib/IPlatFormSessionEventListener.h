#pragma once
// What a direct download session tells the direct downloader. Every report
// carries the job record the session was given; the listener may destroy the
// session from inside the completion report.

struct PlatformJobRecord;
struct PlatformSessionFile;

class IPlatFormSessionEventListener {
public:
    // The last file of the job is done.
    virtual void OnPlatformSessionCompleted(PlatformJobRecord* record) = 0;
    // The download cannot go on; `text` is the address that failed.
    virtual void OnPlatformSessionFailed(PlatformJobRecord* record, const char* text) = 0;
    // One file is completely downloaded.
    virtual void OnPlatformFileCompleted(PlatformJobRecord* record, const PlatformSessionFile* file) = 0;
    // Body bytes were received.
    virtual void OnPlatformSessionProgress(PlatformJobRecord* record) = 0;
    // A local file was created for the current file.
    virtual void OnPlatformFileOpened(PlatformJobRecord* record, const char* localPath) = 0;
    // A notice for the job (513 with the file's address: the disk is full).
    virtual void OnPlatformSessionNotice(PlatformJobRecord* record, int code, const char* text) = 0;

protected:
    ~IPlatFormSessionEventListener() = default;
};
