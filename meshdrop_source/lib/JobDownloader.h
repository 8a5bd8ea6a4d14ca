#pragma once
// CJobDownloader: the common base of the job downloaders. It keeps the jobs it
// runs, drives the one-second progress timer while it runs any, and offers the
// notification operations through which a downloader raises a job's client
// events. Everything here runs under the library lock.

#include <cstdint>
#include <vector>

#include "MeshdropLib.h"
#include "ov/ovSmartPtr.h"

class CJob;
class IJobDownloadEventListener;

class CJobDownloader {
public:
    static constexpr const char* kLibraryVersion = "3.5.0.2";
    static constexpr uint32_t kProgressIntervalMs = 1000;

    // Empties the service log and writes the launch line.
    CJobDownloader(IJobDownloadEventListener* listener, const ovSmartPtr& lock);

    CJobDownloader(const CJobDownloader&) = delete;
    CJobDownloader& operator=(const CJobDownloader&) = delete;

    // ---- The downloader's own operations, in this order ----
    // Its start of a job; returns a library status code.
    [[nodiscard]] virtual int BeginJob(CJob* job) = 0;
    // Its clean-up when a job is stopped.
    virtual void EndJob(CJob* job) = 0;
    // Called for each job on every progress tick.
    virtual void CheckJob(CJob* job) = 0;
    // Kept free for downloaders that need one more operation.
    virtual int Reserved() { return MESHDROPLIB_OK; }
    // The client's answer to the resume question; ignored by default.
    virtual int TakeResumeAnswer(CJob* job, int resume, int applyToAll);
    // Stops the progress timer; the jobs are not owned.
    virtual ~CJobDownloader();

    // ---- Called by the job manager ----
    // 515 when the job runs here already; otherwise the job runs (state 1)
    // and BeginJob answers.
    [[nodiscard]] int StartJob(CJob* job);
    // 516 when the job does not run here; otherwise it goes back to idle,
    // EndJob cleans up, 512.
    [[nodiscard]] int StopJob(CJob* job);
    // 516 when the job does not run here; otherwise TakeResumeAnswer, 512.
    [[nodiscard]] int AnswerResume(CJob* job, int resume, int applyToAll);
    bool HoldsJob(const CJob* job) const;
    // Before the downloader is destroyed from inside one of its own reports:
    // stops its progress timer and forgets its jobs (which keep their state,
    // for another downloader to take them), so that it does nothing more.
    void Retire();
    bool IsRetired() const { return m_bRetired; }

protected:
    // ---- Notifications; each does nothing for a job that does not run here ----
    void SetJobProgress(CJob* job, const JobProgressInfo& progress);
    void NotifyJob(CJob* job, uint32_t code, const char* text = nullptr);
    // Drops the job from this downloader first; the progress timer keeps running.
    void NotifyAndDropJob(CJob* job, uint32_t code, const char* text = nullptr);
    void ReportJobSizes(CJob* job, uint32_t fileCount, uint64_t totalSize);
    void ReportJobFileDone(CJob* job, const char* localPath);
    // Drops the job, lets it report its end (514 once more, then 516), and
    // stops the progress timer when no job remains.
    void ReportJobEnd(CJob* job, uint32_t filesCompleted, uint32_t result);
    // Drops the job and stops the progress timer when no job remains; the
    // job keeps its state (another downloader takes it over).
    void DropJob(CJob* job);
    // Lets the job raise the resume question.
    void AskJobResume(CJob* job);
    // The network watch of every progress tick: on losing the machine's
    // connection every job hears 515, on regaining it `job` hears 516.
    void WatchNetwork(CJob* job);

    IJobDownloadEventListener* GetListener() const { return m_pListener; }
    const ovSmartPtr& GetLock() const { return m_lock; }
    const std::vector<CJob*>& GetJobs() const { return m_jobs; }
    bool IsNetworkDown() const { return m_nNetworkDown != 0; }
    void SetNetworkDown(bool down) { m_nNetworkDown = down ? 1 : 0; }
    bool IsProgressTimerRunning() const { return static_cast<bool>(m_progressTimer); }

private:
    static void OnProgressTimer(void* context);
    void OnProgressTick();
    [[nodiscard]] bool RemoveJob(const CJob* job);
    void StartProgressTimer();
    void StopProgressTimerWhenIdle();

    int m_nNetworkDown = 0;
    ovSmartPtr m_progressTimer; // a cpCTimer while any job runs
    std::vector<CJob*> m_jobs;  // not owned
    IJobDownloadEventListener* m_pListener;
    ovSmartPtr m_lock; // the library lock, also handed to the timer
    bool m_bRetired = false;
};
