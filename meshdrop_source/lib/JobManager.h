#pragma once
// CJobManager: the hub of the download library. It owns the job downloaders,
// the network environment and every job; each entry point lands in one of its
// operations, which run under the library lock. It also listens to what it
// owns and turns the reports into client events.

#include <cstdint>
#include <memory>
#include <vector>

#include "ClientEvent.h"
#include "IContentLengthCheckerEventListener.h"
#include "IDataDownloadSessionEventListener.h"
#include "IJobDownloadEventListener.h"
#include "MeshdropLib.h"
#include "ov/ovSmartPtr.h"

class CContentLengthChecker;
class CDataDownloadSession;
class CJob;
class CJobDownloader;
class CNpn;
class cpCMutex;

class CJobManager : public IJobDownloadEventListener,
                    public IDataDownloadSessionEventListener,
                    public IContentLengthCheckerEventListener {
public:
    // On the worker thread, with the lock held: creates the network environment.
    explicit CJobManager(const ovSmartPtr& lock);
    // On the client's thread after the worker has ended.
    ~CJobManager() override;

    CJobManager(const CJobManager&) = delete;
    CJobManager& operator=(const CJobManager&) = delete;

    int Initialize(HWND clientWindow, MeshdropLibEventCallback callback, void* userValue, int elevation);

    // ---- File list and size check ----
    int FetchFileList(const char* url);
    int GetFileListSize(uint64_t* size);
    int GetFileListData(FileListBuffer* data);
    int AddFileSizeCheck(const char* url);
    int StartFileSizeCheck();
    int GetFileSizeTotal(uint64_t* total);
    int GetFileSize(uint32_t index, uint64_t* size);

    // ---- Jobs ----
    int SetEngineServiceId(const char* serviceId);
    int CreateJob(MeshdropJobHandle* handle, const char* regionCode, const char* serviceId);
    int SetJobEngineFlag(MeshdropJobHandle handle);
    int SetJobRateLimit(MeshdropJobHandle handle, uint64_t bytesPerSecond);
    int AddFile(MeshdropJobHandle handle, const char* url, const char* folder, const char* fileName, int64_t size,
                uint32_t fileOption, uint32_t internalOption);
    int StartJob(MeshdropJobHandle handle, int mode);
    int StopJob(MeshdropJobHandle handle);
    int DeleteJob(MeshdropJobHandle handle);
    int AnswerResume(MeshdropJobHandle handle, int resume, int applyToAll);
    int GetRequiredSpace(MeshdropJobHandle handle, uint64_t* bytes);

    // ---- Event accessors ----
    int GetJobSizeInfo(MeshdropJobHandle handle, JobSizeInfo* info);
    int GetJobProgress(MeshdropJobHandle handle, JobProgressInfo* info);
    int PopFileDone(MeshdropJobHandle handle, FileDoneInfo* info);
    int GetJobFinishInfo(MeshdropJobHandle handle, JobFinishInfo* info);
    int GetNoticeTextSize(MeshdropJobHandle handle, int* size);
    int PopNotice(MeshdropJobHandle handle, NoticeInfo* info);

    // At the end of the worker's loop, on the worker thread.
    int ShutdownNetwork();
    // At finalisation, on the client's thread while the worker still runs:
    // the direct downloader reports the jobs still downloading, and its
    // reporter gets up to `timeoutMs` to deliver what it holds; what it could
    // not deliver is logged.
    void DrainReports(DWORD timeoutMs);

    // Replaces the engine downloader that Initialize created, which then is
    // the current one until the engine fallback (tests install one of
    // theirs). Takes the lock.
    void SetEngineDownloader(std::unique_ptr<CJobDownloader> downloader);

    // The job a handle names, or null; the caller holds the lock.
    CJob* FindJob(MeshdropJobHandle handle) const;
    const ovSmartPtr& GetLock() const { return m_lock; }
    cpCMutex* GetMutex() const;
    CNpn* GetNpn() const { return m_pNpn.get(); }

    // ---- IJobDownloadEventListener ----
    void OnEngineUpdateFileStarted(const char* fileName, int64_t size) override;
    void OnEngineUpdateProgress(const char* fileName, int64_t received) override;
    void OnEngineReady() override;
    void OnEngineUpdateFailed() override;
    void OnEngineUnavailable() override;
    void OnJobHandOver(CJob* job) override;
    void OnPathAccessFailed(int kind) override;
    void OnEngineStatus(int value) override;

    // ---- IDataDownloadSessionEventListener ----
    void OnDataCompleted(const void* buffer, int64_t length) override;
    void OnDataError(int error) override;
    void OnDataTick() override;

    // ---- IContentLengthCheckerEventListener ----
    void OnSizeCheckComplete(int64_t total) override;
    void OnSizeCheckFailed(const char* address) override;
    void OnSizeCheckUnreachable() override;

private:
    void RaiseEvent(UINT code, LPARAM param = 0);
    // The engine downloader while it exists, else the direct downloader.
    CJobDownloader* GetCurrentDownloader() const;
    // Runs one accessor of the job under the lock; 517 for an unknown job.
    template <class Fn>
    int WithJob(MeshdropJobHandle handle, Fn&& fn);

    std::unique_ptr<CJobDownloader> m_pDirectDownloader;
    // Null after the engine fallback: the direct downloader is the current one.
    std::unique_ptr<CJobDownloader> m_pEngineDownloader;
    ovSmartPtr m_lock;
    std::unique_ptr<CNpn> m_pNpn;
    // Created by the first file-list fetch.
    std::unique_ptr<CDataDownloadSession> m_pDataSession;
    // Created by the first probe.
    std::unique_ptr<CContentLengthChecker> m_pChecker;
    std::vector<std::unique_ptr<CJob>> m_jobs;
    int m_nJobCounter = 0;
    ClientEventTarget m_target;
};
