#include "JobManager.h"

#include <algorithm>

#include "ContentLengthChecker.h"
#include "DataDownloadSession.h"
#include "DeferredDestruction.h"
#include "EngineDownloader.h"
#include "EngineLauncher.h"
#include "FolderPath.h"
#include "Job.h"
#include "JobDownloader.h"
#include "Library.h"
#include "PlatFormDownloader.h"
#include "ServiceLog.h"
#include "cp/CNpn.h"
#include "cp/cpAssert.h"
#include "cp/cpCMutex.h"

CJobManager::CJobManager(const ovSmartPtr& lock) : m_lock(lock)
{
    m_pNpn = std::make_unique<CNpn>(GetMutex(), &WriteServiceLog);
}

CJobManager::~CJobManager()
{
    {
        cpCMutexLock guard(GetMutex());
        m_jobs.clear();
        m_pEngineDownloader.reset();
        m_pDirectDownloader.reset();
        m_pDataSession.reset();
        m_pChecker.reset();
        m_pNpn.reset();
    }
    m_lock.Reset();
}

int CJobManager::Initialize(HWND clientWindow, MeshdropLibEventCallback callback, void* userValue, int elevation)
{
    CReportGuard guard(GetMutex());
    m_target = ClientEventTarget{clientWindow, callback, userValue};
    Library_SetElevationSwitch(elevation);
    // The engine downloader's launcher starts the engine update at once.
    m_pEngineDownloader = std::make_unique<CEngineDownloader>(
        this, m_lock, [](ILauncherEventListener* listener) { return std::make_unique<CEngineLauncher>(listener); });
    m_pDirectDownloader = std::make_unique<CPlatFormDownloader>(this, m_lock);
    return MESHDROPLIB_OK;
}

cpCMutex* CJobManager::GetMutex() const
{
    return m_lock.Get<cpCMutex>();
}

void CJobManager::RaiseEvent(UINT code, LPARAM param)
{
    RaiseClientEvent(m_target, code, param);
}

CJobDownloader* CJobManager::GetCurrentDownloader() const
{
    return m_pEngineDownloader ? m_pEngineDownloader.get() : m_pDirectDownloader.get();
}

CJob* CJobManager::FindJob(MeshdropJobHandle handle) const
{
    MESHDROP_ASSERT_LOCKED(GetMutex());
    if (handle == 0)
        return nullptr;
    for (const auto& job : m_jobs) {
        if (job->GetHandle() == handle)
            return job.get();
    }
    return nullptr;
}

template <class Fn>
int CJobManager::WithJob(MeshdropJobHandle handle, Fn&& fn)
{
    CReportGuard guard(GetMutex());
    CJob* job = FindJob(handle);
    if (job == nullptr)
        return MESHDROPLIB_ERROR_FAILED;
    return fn(*job);
}

// ---- File list and size check ----------------------------------------------

int CJobManager::FetchFileList(const char* url)
{
    // A fetch that cannot start would never be reported: say so at once.
    if (url == nullptr || *url == '\0')
        return MESHDROPLIB_ERROR_URL;
    CReportGuard guard(GetMutex());
    if (!m_pDataSession) {
        m_pDataSession = std::make_unique<CDataDownloadSession>();
        m_pDataSession->SetListener(this);
    }
    m_pDataSession->Download(url);
    return MESHDROPLIB_OK;
}

int CJobManager::GetFileListSize(uint64_t* size)
{
    CReportGuard guard(GetMutex());
    int64_t length = 0;
    if (!m_pDataSession || m_pDataSession->GetDataSize(&length) != MESHDROPLIB_OK)
        return MESHDROPLIB_ERROR_FAILED;
    *size = static_cast<uint64_t>(length);
    return MESHDROPLIB_OK;
}

int CJobManager::GetFileListData(FileListBuffer* data)
{
    CReportGuard guard(GetMutex());
    return m_pDataSession ? m_pDataSession->GetData(data) : MESHDROPLIB_ERROR_FAILED;
}

int CJobManager::AddFileSizeCheck(const char* url)
{
    CReportGuard guard(GetMutex());
    if (!m_pChecker) {
        m_pChecker = std::make_unique<CContentLengthChecker>();
        m_pChecker->SetListener(this);
    }
    return m_pChecker->AddFile(url);
}

int CJobManager::StartFileSizeCheck()
{
    CReportGuard guard(GetMutex());
    if (!m_pChecker) {
        WriteDiagnosticLog("[MeshdropLib_D] 0x0003");
        return MESHDROPLIB_ERROR_FAILED;
    }
    m_pChecker->Start();
    return MESHDROPLIB_OK;
}

int CJobManager::GetFileSizeTotal(uint64_t* total)
{
    CReportGuard guard(GetMutex());
    if (!m_pChecker)
        return MESHDROPLIB_ERROR_FAILED;
    *total = static_cast<uint64_t>(m_pChecker->GetTotal());
    return MESHDROPLIB_OK;
}

int CJobManager::GetFileSize(uint32_t index, uint64_t* size)
{
    CReportGuard guard(GetMutex());
    const int64_t length = m_pChecker ? m_pChecker->GetLength(index) : -1;
    if (length < 0)
        return MESHDROPLIB_ERROR_FAILED;
    *size = static_cast<uint64_t>(length);
    return MESHDROPLIB_OK;
}

// ---- Jobs -------------------------------------------------------------------

int CJobManager::SetEngineServiceId(const char* serviceId)
{
    CReportGuard guard(GetMutex());
    if (auto* engine = dynamic_cast<CEngineDownloader*>(m_pEngineDownloader.get()))
        engine->SetServiceId(serviceId);
    return MESHDROPLIB_OK;
}

int CJobManager::CreateJob(MeshdropJobHandle* handle, const char* regionCode, const char* serviceId)
{
    CReportGuard guard(GetMutex());
    if (FindJob(*handle) != nullptr)
        return MESHDROPLIB_ERROR_FAILED;
    auto job = std::make_unique<CJob>(m_nJobCounter++, m_target, regionCode, serviceId);
    *handle = job->GetHandle();
    m_jobs.push_back(std::move(job));
    return MESHDROPLIB_OK;
}

int CJobManager::SetJobEngineFlag(MeshdropJobHandle handle)
{
    return WithJob(handle, [](CJob& job) {
        job.SetEngineFlag();
        return MESHDROPLIB_OK;
    });
}

int CJobManager::SetJobRateLimit(MeshdropJobHandle handle, uint64_t bytesPerSecond)
{
    return WithJob(handle, [bytesPerSecond](CJob& job) {
        job.SetRateLimit(bytesPerSecond);
        return MESHDROPLIB_OK;
    });
}

int CJobManager::AddFile(MeshdropJobHandle handle, const char* url, const char* folder, const char* fileName,
                         int64_t size, uint32_t fileOption, uint32_t internalOption)
{
    // A size is either unknown (-1) or positive.
    if (size < -1 || size == 0)
        return MESHDROPLIB_ERROR_INVALID_SIZE;

    CReportGuard guard(GetMutex());
    CJob* job = FindJob(handle);
    if (job == nullptr)
        return MESHDROPLIB_ERROR_FAILED;
    if (!CreateFolderPath(folder)) {
        OnPathAccessFailed(PATH_ACCESS_DOWNLOAD);
        return MESHDROPLIB_ERROR_FOLDER;
    }
    return job->AddFile(url, folder, fileName, size, fileOption, internalOption);
}

int CJobManager::StartJob(MeshdropJobHandle handle, int mode)
{
    CReportGuard guard(GetMutex());
    CJobDownloader* downloader = GetCurrentDownloader();
    CJob* job = FindJob(handle);
    if (job == nullptr || job->GetFiles().empty())
        return MESHDROPLIB_ERROR_FAILED;
    if (downloader == nullptr)
        return MESHDROPLIB_ERROR_FAILED;
    job->SetMode(mode);
    return downloader->StartJob(job);
}

int CJobManager::StopJob(MeshdropJobHandle handle)
{
    CReportGuard guard(GetMutex());
    CJob* job = FindJob(handle);
    if (job == nullptr)
        return MESHDROPLIB_ERROR_FAILED;
    for (CJobDownloader* downloader : {m_pEngineDownloader.get(), m_pDirectDownloader.get()}) {
        if (downloader != nullptr && downloader->HoldsJob(job))
            return downloader->StopJob(job);
    }
    return MESHDROPLIB_ERROR_FAILED;
}

int CJobManager::DeleteJob(MeshdropJobHandle handle)
{
    CReportGuard guard(GetMutex());
    auto it = std::find_if(m_jobs.begin(), m_jobs.end(),
                           [handle](const std::unique_ptr<CJob>& job) { return job->GetHandle() == handle; });
    if (handle == 0 || it == m_jobs.end())
        return MESHDROPLIB_ERROR_FAILED;
    std::unique_ptr<CJob> job = std::move(*it);
    m_jobs.erase(it);
    for (CJobDownloader* downloader : {m_pEngineDownloader.get(), m_pDirectDownloader.get()}) {
        if (downloader != nullptr && downloader->HoldsJob(job.get())) {
            // The job is being deleted: whatever the downloader answers, it
            // no longer holds the job.
            (void)downloader->StopJob(job.get());
            break;
        }
    }
    // A client deleting the job from inside one of its events returns into
    // the job's own report: the job goes once that report has returned.
    DestroyAfterReport(std::move(job));
    return MESHDROPLIB_OK;
}

int CJobManager::AnswerResume(MeshdropJobHandle handle, int resume, int applyToAll)
{
    CReportGuard guard(GetMutex());
    CJob* job = FindJob(handle);
    if (job == nullptr)
        return MESHDROPLIB_ERROR_FAILED;
    CJobDownloader* downloader = GetCurrentDownloader();
    if (downloader == nullptr)
        return MESHDROPLIB_ERROR_JOB_NOT_RUNNING;
    return downloader->AnswerResume(job, resume, applyToAll);
}

int CJobManager::GetRequiredSpace(MeshdropJobHandle handle, uint64_t* bytes)
{
    CReportGuard guard(GetMutex());
    JobProgressInfo progress{};
    if (CJob* job = FindJob(handle))
        progress = job->GetProgressBlock();
    if (progress.totalSize != 0) {
        // Never a wrapped-around figure when more was done than announced.
        *bytes = progress.totalSize > progress.doneSize ? progress.totalSize - progress.doneSize : 0;
        return MESHDROPLIB_OK;
    }
    // Otherwise the size checker's total answers.
    if (!m_pChecker)
        return MESHDROPLIB_ERROR_FAILED;
    *bytes = static_cast<uint64_t>(m_pChecker->GetTotal());
    return MESHDROPLIB_OK;
}

// ---- Event accessors ----------------------------------------------------------

int CJobManager::GetJobSizeInfo(MeshdropJobHandle handle, JobSizeInfo* info)
{
    return WithJob(handle, [info](CJob& job) { return job.GetSizeInfo(info); });
}

int CJobManager::GetJobProgress(MeshdropJobHandle handle, JobProgressInfo* info)
{
    return WithJob(handle, [info](CJob& job) { return job.GetProgress(info); });
}

int CJobManager::PopFileDone(MeshdropJobHandle handle, FileDoneInfo* info)
{
    return WithJob(handle, [info](CJob& job) { return job.PopFileDone(info); });
}

int CJobManager::GetJobFinishInfo(MeshdropJobHandle handle, JobFinishInfo* info)
{
    return WithJob(handle, [info](CJob& job) { return job.GetFinishInfo(info); });
}

int CJobManager::GetNoticeTextSize(MeshdropJobHandle handle, int* size)
{
    return WithJob(handle, [size](CJob& job) { return job.GetNoticeTextSize(size); });
}

int CJobManager::PopNotice(MeshdropJobHandle handle, NoticeInfo* info)
{
    return WithJob(handle, [info](CJob& job) { return job.PopNotice(info); });
}

int CJobManager::ShutdownNetwork()
{
    CReportGuard guard(GetMutex());
    m_pNpn->Cleanup();
    return MESHDROPLIB_OK;
}

void CJobManager::DrainReports(DWORD timeoutMs)
{
    auto* direct = dynamic_cast<CPlatFormDownloader*>(m_pDirectDownloader.get());
    HANDLE drained = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (direct == nullptr || drained == nullptr) {
        if (drained != nullptr)
            CloseHandle(drained);
        return;
    }
    direct->BeginReportDrain(drained);
    // The worker delivers meanwhile; the lock is not held here.
    WaitForSingleObject(drained, timeoutMs);
    const size_t undelivered = direct->EndReportDrain();
    CloseHandle(drained);
    if (undelivered > 0)
        WriteServiceLogFormat("[MeshdropLib] CPlatformReporter %zu Reports Not Delivered", undelivered);
}

void CJobManager::SetEngineDownloader(std::unique_ptr<CJobDownloader> downloader)
{
    CReportGuard guard(GetMutex());
    m_pEngineDownloader = std::move(downloader);
}

// ---- IJobDownloadEventListener ------------------------------------------------

void CJobManager::OnEngineUpdateFileStarted(const char* /*fileName*/, int64_t /*size*/)
{
    RaiseEvent(MESHDROPLIB_EVENT_ENGINE_UPDATE_FILE);
}

void CJobManager::OnEngineUpdateProgress(const char* /*fileName*/, int64_t /*received*/)
{
    RaiseEvent(MESHDROPLIB_EVENT_ENGINE_UPDATE_DATA);
}

void CJobManager::OnEngineReady()
{
    RaiseEvent(MESHDROPLIB_EVENT_ENGINE_READY);
}

void CJobManager::OnEngineUpdateFailed()
{
    RaiseEvent(MESHDROPLIB_EVENT_ENGINE_UPDATE_FAILED);
}

void CJobManager::OnEngineUnavailable()
{
    CReportGuard guard(GetMutex());
    // Reached from a report of the engine downloader itself (its progress
    // tick, its connection): it stops working now and goes once that report
    // has returned.
    if (m_pEngineDownloader) {
        m_pEngineDownloader->Retire();
        DestroyAfterReport(std::move(m_pEngineDownloader));
        // The one event of every way the engine is given up, so that a
        // client can say its jobs go the direct way.
        RaiseEvent(MESHDROPLIB_EVENT_ENGINE_DROPPED);
    }
    if (!m_pDirectDownloader)
        return;
    for (const auto& job : m_jobs) {
        // A job that already runs on the direct downloader answers 515 and stays.
        if (job->GetState() == JOB_STATE_RUNNING)
            (void)m_pDirectDownloader->StartJob(job.get());
    }
}

void CJobManager::OnJobHandOver(CJob* job)
{
    CReportGuard guard(GetMutex());
    // A job the direct downloader already runs answers 515 and stays as it is.
    if (m_pDirectDownloader && job != nullptr && FindJob(job->GetHandle()) == job)
        (void)m_pDirectDownloader->StartJob(job);
}

void CJobManager::OnPathAccessFailed(int kind)
{
    const LPARAM self = reinterpret_cast<LPARAM>(this);
    if (kind == PATH_ACCESS_ENGINE) {
        WriteServiceLog("[MeshdropLib] engine path access failed");
        RaiseEvent(MESHDROPLIB_EVENT_ENGINE_PATH_FAILED, self);
    } else if (kind == PATH_ACCESS_DOWNLOAD) {
        WriteServiceLog("[MeshdropLib] download path access failed");
        RaiseEvent(MESHDROPLIB_EVENT_DOWNLOAD_PATH_FAILED, self);
    }
}

void CJobManager::OnEngineStatus(int /*value*/)
{
    RaiseEvent(MESHDROPLIB_EVENT_ENGINE_STATUS);
}

// ---- IDataDownloadSessionEventListener ------------------------------------------

void CJobManager::OnDataCompleted(const void* /*buffer*/, int64_t /*length*/)
{
    RaiseEvent(MESHDROPLIB_EVENT_FILE_LIST_DONE);
}

void CJobManager::OnDataError(int /*error*/)
{
    RaiseEvent(MESHDROPLIB_EVENT_FILE_LIST_FAILED);
}

void CJobManager::OnDataTick()
{
    RaiseEvent(MESHDROPLIB_EVENT_FILE_LIST_TICK);
}

// ---- IContentLengthCheckerEventListener -----------------------------------------

void CJobManager::OnSizeCheckComplete(int64_t /*total*/)
{
    RaiseEvent(MESHDROPLIB_EVENT_SIZE_CHECK_DONE);
}

void CJobManager::OnSizeCheckFailed(const char* /*address*/)
{
    WriteDiagnosticLog("[MeshdropLib_D] File Size Check Failed. 0x0011");
    RaiseEvent(MESHDROPLIB_EVENT_SIZE_CHECK_FAILED);
}

void CJobManager::OnSizeCheckUnreachable()
{
    WriteDiagnosticLog("[MeshdropLib_D] File Size Check Failed. 0x0012");
    RaiseEvent(MESHDROPLIB_EVENT_SIZE_CHECK_FAILED);
}
