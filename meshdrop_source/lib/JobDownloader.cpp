#include "JobDownloader.h"

#include <windows.h>

#include <algorithm>

#include "Job.h"
#include "ServiceLog.h"
#include "cp/cpCMutex.h"
#include "cp/cpCTimer.h"
#include "ov/ovClassIds.h"

CJobDownloader::CJobDownloader(IJobDownloadEventListener* listener, const ovSmartPtr& lock)
    : m_pListener(listener), m_lock(lock)
{
    ResetServiceLog();
    WriteServiceLogFormat("[MeshdropLib] Launch(%s)", kLibraryVersion);
}

CJobDownloader::~CJobDownloader()
{
    cpCMutexLock guard(m_lock.Get<cpCMutex>());
    if (m_progressTimer)
        m_progressTimer.Get<cpCTimer>()->Stop();
    m_progressTimer.Reset();
}

int CJobDownloader::TakeResumeAnswer(CJob* /*job*/, int /*resume*/, int /*applyToAll*/)
{
    return MESHDROPLIB_OK;
}

bool CJobDownloader::HoldsJob(const CJob* job) const
{
    return std::find(m_jobs.begin(), m_jobs.end(), job) != m_jobs.end();
}

void CJobDownloader::Retire()
{
    m_bRetired = true;
    m_jobs.clear();
    StopProgressTimerWhenIdle();
}

bool CJobDownloader::RemoveJob(const CJob* job)
{
    auto it = std::find(m_jobs.begin(), m_jobs.end(), job);
    if (it == m_jobs.end())
        return false;
    m_jobs.erase(it);
    return true;
}

int CJobDownloader::StartJob(CJob* job)
{
    if (HoldsJob(job))
        return MESHDROPLIB_ERROR_JOB_RUNNING;
    m_nNetworkDown = 0;
    job->SetState(JOB_STATE_RUNNING);
    m_jobs.push_back(job);
    StartProgressTimer();
    return BeginJob(job);
}

int CJobDownloader::StopJob(CJob* job)
{
    if (!RemoveJob(job))
        return MESHDROPLIB_ERROR_JOB_NOT_RUNNING;
    job->SetState(JOB_STATE_IDLE);
    StopProgressTimerWhenIdle();
    EndJob(job);
    return MESHDROPLIB_OK;
}

int CJobDownloader::AnswerResume(CJob* job, int resume, int applyToAll)
{
    if (!HoldsJob(job))
        return MESHDROPLIB_ERROR_JOB_NOT_RUNNING;
    TakeResumeAnswer(job, resume, applyToAll);
    return MESHDROPLIB_OK;
}

void CJobDownloader::SetJobProgress(CJob* job, const JobProgressInfo& progress)
{
    if (HoldsJob(job))
        job->SetProgress(progress);
}

void CJobDownloader::NotifyJob(CJob* job, uint32_t code, const char* text)
{
    if (HoldsJob(job))
        job->Notify(code, text);
}

void CJobDownloader::NotifyAndDropJob(CJob* job, uint32_t code, const char* text)
{
    if (RemoveJob(job))
        job->Notify(code, text);
}

void CJobDownloader::ReportJobSizes(CJob* job, uint32_t fileCount, uint64_t totalSize)
{
    if (HoldsJob(job))
        job->ReportSizes(fileCount, totalSize);
}

void CJobDownloader::ReportJobFileDone(CJob* job, const char* localPath)
{
    if (HoldsJob(job))
        job->ReportFileDone(localPath);
}

void CJobDownloader::ReportJobEnd(CJob* job, uint32_t filesCompleted, uint32_t result)
{
    if (!RemoveJob(job))
        return;
    job->ReportEnd(filesCompleted, result);
    StopProgressTimerWhenIdle();
}

void CJobDownloader::DropJob(CJob* job)
{
    if (RemoveJob(job))
        StopProgressTimerWhenIdle();
}

void CJobDownloader::AskJobResume(CJob* job)
{
    if (HoldsJob(job))
        job->AskResume();
}

void CJobDownloader::WatchNetwork(CJob* job)
{
    DWORD flags = 0;
    const bool connected = InternetGetConnectedState(&flags, 0) != FALSE;
    if (connected && IsNetworkDown()) {
        SetNetworkDown(false);
        NotifyJob(job, MESHDROPLIB_NOTICE_NETWORK_BACK);
    } else if (!connected && !IsNetworkDown()) {
        SetNetworkDown(true);
        const std::vector<CJob*> jobs = m_jobs;
        for (CJob* running : jobs)
            NotifyJob(running, MESHDROPLIB_NOTICE_NETWORK_LOST);
    }
}

void CJobDownloader::StartProgressTimer()
{
    if (m_progressTimer)
        return;
    ovSmartPtr timer;
    if (!timer.CreateInstance(OVCLS_TIMER))
        return;
    timer.Get<cpCTimer>()->Start(kProgressIntervalMs, &CJobDownloader::OnProgressTimer, this, CP_TIMER_TAG_PROGRESS,
                                 m_lock.Get());
    m_progressTimer = timer;
}

void CJobDownloader::StopProgressTimerWhenIdle()
{
    if (!m_jobs.empty() || !m_progressTimer)
        return;
    m_progressTimer.Get<cpCTimer>()->Stop();
    m_progressTimer.Reset();
}

void CJobDownloader::OnProgressTimer(void* context)
{
    static_cast<CJobDownloader*>(context)->OnProgressTick();
}

void CJobDownloader::OnProgressTick()
{
    cpCMutexLock guard(m_lock.Get<cpCMutex>());
    // A check may drop or end jobs: walk a copy and skip jobs that left.
    const std::vector<CJob*> jobs = m_jobs;
    for (CJob* job : jobs) {
        if (!HoldsJob(job))
            continue;
        CheckJob(job);
        if (HoldsJob(job))
            job->ReportProgress();
    }
}
