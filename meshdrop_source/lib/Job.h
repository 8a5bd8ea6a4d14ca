#pragma once
// CJob: one download job: its files bound for local folders, its state, its
// progress block and the queued payloads of its client events.
//
// Every operation runs under the library lock, taken by the job manager (for
// client calls) or by the network library (for downloader reports).

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "ClientEvent.h"
#include "JobFileEntry.h"
#include "MeshdropLib.h"

enum JobState : int {
    JOB_STATE_IDLE = 0,
    JOB_STATE_RUNNING = 1,
    JOB_STATE_FINISHED = 2,
};

class CJob {
public:
    static constexpr size_t kRegionCodeLength = 3;
    static constexpr size_t kServiceIdLength = 32;
    static constexpr size_t kFolderSize = 260;

    CJob(int jobNumber, const ClientEventTarget& target, const char* regionCode, const char* serviceId);
    virtual ~CJob();

    CJob(const CJob&) = delete;
    CJob& operator=(const CJob&) = delete;

    // Handles are never reused within the process, so a late event of a
    // deleted job cannot reach a newer job that took its memory.
    MeshdropJobHandle GetHandle() const { return m_handle; }

    // Adds one file; the folder must already exist. 512, 513 (no URL),
    // 514 (no folder) or 517 (job not idle, or the file is already in the job).
    [[nodiscard]] int AddFile(const char* url, const char* folder, const char* fileName, int64_t size,
                              uint32_t fileOption, uint32_t internalOption);

    // ---- Reports of the downloaders (each raises its client event) ----
    void ReportSizes(uint32_t fileCount, uint64_t totalSize);
    void SetProgress(const JobProgressInfo& progress);
    void ReportProgress();
    // The file of the job at that path (its folder and name, in any letter
    // case) is complete: queues its record, "<URL>,<local path>" of the job's
    // own entry, and raises 515. Nothing for a path the job does not hold or
    // a file already complete.
    void ReportFileDone(const char* localPath);
    void ReportEnd(uint32_t filesCompleted, uint32_t result);
    void Notify(uint32_t code, const char* text);
    void AskResume();

    // ---- Copies for the client's accessors; each returns 512 ----
    int GetSizeInfo(JobSizeInfo* info);
    int GetProgress(JobProgressInfo* info) const;
    [[nodiscard]] int PopFileDone(FileDoneInfo* info);
    int GetFinishInfo(JobFinishInfo* info);
    int GetNoticeTextSize(int* size) const;
    [[nodiscard]] int PopNotice(NoticeInfo* info);

    // ---- State ----
    int GetState() const { return m_nState; }
    void SetState(int state) { m_nState = state; }
    int GetMode() const { return m_nMode; }
    void SetMode(int mode) { m_nMode = mode; }
    const JobProgressInfo& GetProgressBlock() const { return m_progress; }
    const std::vector<std::unique_ptr<JobFileEntry>>& GetFiles() const { return m_files; }
    // The job's file at that local path (in any letter case), or null.
    const JobFileEntry* FindFile(const char* localPath) const;
    const char* GetRegionCode() const { return m_szRegionCode; }
    const char* GetServiceId() const { return m_szServiceId; }
    const char* GetLastFolder() const { return m_szLastFolder; }
    int GetJobNumber() const { return m_nJobNumber; }
    int GetEngineJobId() const { return m_nEngineJobId; }
    void SetEngineJobId(int id) { m_nEngineJobId = id; }
    bool GetEngineFlag() const { return m_bEngineFlag; }
    void SetEngineFlag() { m_bEngineFlag = true; }
    // Bytes per second the whole job may use besides its mode's limit; 0: none.
    uint64_t GetRateLimit() const { return m_nRateLimit; }
    void SetRateLimit(uint64_t bytesPerSecond) { m_nRateLimit = bytesPerSecond; }

private:
    struct Notice {
        uint32_t code;
        std::unique_ptr<std::string> text; // null when the notice has none
    };

    void Raise(UINT code);

    std::vector<std::unique_ptr<JobFileEntry>> m_files;
    std::unordered_map<std::string, JobFileEntry*> m_pathIndex; // lower-cased folder + name
    int m_nState = JOB_STATE_IDLE;
    int m_nMode = 1;
    uint64_t m_nRateLimit = 0;
    JobProgressInfo m_progress{};
    char m_szRegionCode[kRegionCodeLength + 1] = {};
    char m_szServiceId[kServiceIdLength + 1] = {};
    ClientEventTarget m_target;
    std::unique_ptr<JobSizeInfo> m_pSizeInfo;
    std::unique_ptr<JobFinishInfo> m_pFinishInfo;
    int m_nJobNumber;
    MeshdropJobHandle m_handle;
    int m_nEngineJobId = 0;
    std::deque<std::unique_ptr<FileDoneInfo>> m_fileDoneQueue;
    std::deque<Notice> m_noticeQueue;
    int m_nCompletions = 0;
    bool m_bEngineFlag = false;
    char m_szLastFolder[kFolderSize] = {};
};
