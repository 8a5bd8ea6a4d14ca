#pragma once
// CPlatFormDownloader: the direct downloader. For each job it first learns
// the sizes of the files whose size is unknown (CPlatformFileSizeChecker),
// then downloads the files one after another (CPlatformSession), and turns
// their reports into the job's client events. On every progress tick it
// watches the machine's network connection.

#include <cstdint>
#include <ctime>
#include <memory>
#include <vector>

#include "ICheckerEventListener.h"
#include "IPlatFormSessionEventListener.h"
#include "JobDownloader.h"

class CPlatformFileSizeChecker;
class CPlatformReporter;
class CPlatformSession;

// One job that the direct downloader runs.
struct PlatformJobRecord {
    PlatformJobRecord();
    ~PlatformJobRecord();
    // Detaches the checker and the session: nothing of the record reports
    // any more (before it is kept for deferred destruction).
    void Detach();
    PlatformJobRecord(const PlatformJobRecord&) = delete;
    PlatformJobRecord& operator=(const PlatformJobRecord&) = delete;

    std::unique_ptr<CPlatformFileSizeChecker> sizeChecker; // while the sizes are probed
    std::unique_ptr<CPlatformSession> session;             // while the files are downloaded
    CJob* job = nullptr;
    uint64_t totalSize = 0;
    uint64_t presentSize = 0; // bytes done when downloading began
    uint32_t fileCount = 0;
    uint32_t filesCompleted = 0;
    int64_t startTime = 0; // seconds since the epoch, when downloading began
};

class CPlatFormDownloader : public CJobDownloader,
                            public IPlatFormSessionEventListener,
                            public ICheckerEventListener {
public:
    CPlatFormDownloader(IJobDownloadEventListener* listener, const ovSmartPtr& lock);
    ~CPlatFormDownloader() override;

    // ---- CJobDownloader ----
    int BeginJob(CJob* job) override;
    void EndJob(CJob* job) override;
    // The network watch.
    void CheckJob(CJob* job) override;

    // ---- IPlatFormSessionEventListener ----
    void OnPlatformSessionCompleted(PlatformJobRecord* record) override;
    void OnPlatformSessionFailed(PlatformJobRecord* record, const char* text) override;
    void OnPlatformFileCompleted(PlatformJobRecord* record, const PlatformSessionFile* file) override;
    void OnPlatformSessionProgress(PlatformJobRecord* record) override;
    void OnPlatformFileOpened(PlatformJobRecord* record, const char* localPath) override;
    void OnPlatformSessionNotice(PlatformJobRecord* record, int code, const char* text) override;

    // ---- ICheckerEventListener ----
    void OnPlatformSizeCheckCompleted(PlatformJobRecord* record, const SizeCheckResult& result) override;
    void OnPlatformSizeCheckFailed(PlatformJobRecord* record, int code, const char* text) override;

    // The record of a job, or null.
    PlatformJobRecord* FindRecord(const CJob* job) const;

    // The progress block of a record at `now` (seconds since the epoch).
    static JobProgressInfo ComputeProgress(const PlatformJobRecord& record, int64_t now);

    // Finalisation: reports the bytes of every job still downloading (its
    // session stops) and has the reporter deliver what it holds, signalling
    // `drained` once done (CPlatformReporter::BeginDrain).
    void BeginReportDrain(HANDLE drained);
    // Forgets the event; answers how many reports are still undelivered.
    size_t EndReportDrain();

private:
    // Takes the record out of the list; the caller destroys it.
    std::unique_ptr<PlatformJobRecord> TakeRecord(const PlatformJobRecord* record);
    // Takes the record out, detaches it and destroys it once the current
    // report has returned (it may be reporting right now).
    void DropRecord(const PlatformJobRecord* record);
    void UpdateProgress(PlatformJobRecord* record);

    std::vector<std::unique_ptr<PlatformJobRecord>> m_records;
    std::unique_ptr<CPlatformReporter> m_reporter; // of the bytes each job downloaded
};
