#include "PlatFormDownloader.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "DeferredDestruction.h"
#include "Job.h"
#include "PlatformFileSizeChecker.h"
#include "PlatformReporter.h"
#include "PlatformSession.h"
#include "ServiceLog.h"
#include "cp/cpCMutex.h"

PlatformJobRecord::PlatformJobRecord() = default;

PlatformJobRecord::~PlatformJobRecord()
{
    // Detached first, so that nothing reports while it goes.
    Detach();
    sizeChecker.reset();
    session.reset();
}

void PlatformJobRecord::Detach()
{
    if (sizeChecker)
        sizeChecker->SetListener(nullptr);
    if (session)
        session->SetListener(nullptr, nullptr);
}

CPlatFormDownloader::CPlatFormDownloader(IJobDownloadEventListener* listener, const ovSmartPtr& lock)
    : CJobDownloader(listener, lock), m_reporter(std::make_unique<CPlatformReporter>())
{
    SetNetworkDown(false);
}

CPlatFormDownloader::~CPlatFormDownloader()
{
    {
        cpCMutexLock guard(GetLock().Get<cpCMutex>());
        m_records.clear();
        m_reporter.reset();
    }
    WriteServiceLog("[MeshdropLib] CPlatFormDownloader Destroy");
}

PlatformJobRecord* CPlatFormDownloader::FindRecord(const CJob* job) const
{
    for (const auto& record : m_records) {
        if (record->job == job)
            return record.get();
    }
    return nullptr;
}

std::unique_ptr<PlatformJobRecord> CPlatFormDownloader::TakeRecord(const PlatformJobRecord* record)
{
    auto it = std::find_if(m_records.begin(), m_records.end(),
                           [record](const std::unique_ptr<PlatformJobRecord>& r) { return r.get() == record; });
    if (it == m_records.end())
        return nullptr;
    std::unique_ptr<PlatformJobRecord> taken = std::move(*it);
    m_records.erase(it);
    return taken;
}

void CPlatFormDownloader::DropRecord(const PlatformJobRecord* record)
{
    std::unique_ptr<PlatformJobRecord> taken = TakeRecord(record);
    if (taken) {
        taken->Detach();
        DestroyAfterReport(std::move(taken));
    }
}

int CPlatFormDownloader::BeginJob(CJob* job)
{
    if (FindRecord(job) != nullptr)
        return MESHDROPLIB_ERROR_FAILED;
    cpCMutexLock guard(GetLock().Get<cpCMutex>());
    WriteServiceLog("[MeshdropLib] CPlatFormDownloader Begin");
    m_records.push_back(std::make_unique<PlatformJobRecord>());
    PlatformJobRecord* record = m_records.back().get();
    record->job = job;
    record->sizeChecker = std::make_unique<CPlatformFileSizeChecker>(this, record);
    // The check may finish (and even the whole job end) before Run returns:
    // the record is not touched after it.
    record->sizeChecker->Run(job->GetFiles());
    return MESHDROPLIB_OK;
}

void CPlatFormDownloader::EndJob(CJob* job)
{
    PlatformJobRecord* record = FindRecord(job);
    if (record == nullptr)
        return;
    cpCMutexLock guard(GetLock().Get<cpCMutex>());
    m_reporter->ReportSession(record->session.get());
    // A client that stops the job from inside one of its events returns into
    // the record's session: the record goes once that report has returned.
    DropRecord(record);
}

void CPlatFormDownloader::BeginReportDrain(HANDLE drained)
{
    cpCMutexLock guard(GetLock().Get<cpCMutex>());
    std::vector<const PlatformJobRecord*> downloading;
    for (const auto& record : m_records) {
        if (record->session)
            downloading.push_back(record.get());
    }
    for (const PlatformJobRecord* record : downloading) {
        m_reporter->ReportSession(record->session.get());
        DropRecord(record);
    }
    m_reporter->BeginDrain(drained);
}

size_t CPlatFormDownloader::EndReportDrain()
{
    cpCMutexLock guard(GetLock().Get<cpCMutex>());
    m_reporter->EndDrain();
    return m_reporter->GetPendingCount();
}

void CPlatFormDownloader::CheckJob(CJob* job)
{
    WatchNetwork(job);
}

// ---- Size check ------------------------------------------------------------

void CPlatFormDownloader::OnPlatformSizeCheckCompleted(PlatformJobRecord* record, const SizeCheckResult& result)
{
    WriteServiceLog("[MeshdropLib] CPlatFormDownloader FileSizeCheck Completed");
    CJob* job = record->job;
    ReportJobSizes(job, result.fileCount, result.totalSize);
    // The client may have stopped the job from inside event 513.
    if (FindRecord(job) != record)
        return;

    if (record->session) {
        record->session->SetListener(nullptr, nullptr);
        DestroyAfterReport(std::move(record->session));
    }
    record->session = std::make_unique<CPlatformSession>();
    record->session->SetListener(this, record);
    record->session->SetMode(record->job->GetMode());
    record->session->SetRateLimit(record->job->GetRateLimit());
    record->totalSize = result.totalSize;
    record->presentSize = result.presentSize;
    record->fileCount = result.fileCount;
    record->startTime = static_cast<int64_t>(std::time(nullptr));
    // The session may end the job (and the record) before Start returns.
    record->session->Start(record->job->GetFiles(), result.fileSizes);
}

void CPlatFormDownloader::OnPlatformSizeCheckFailed(PlatformJobRecord* record, int code, const char* text)
{
    CJob* job = record->job;
    // The text belongs to the probe that goes with the record.
    const std::string url = text != nullptr ? text : "";
    DropRecord(record);
    NotifyAndDropJob(job, static_cast<uint32_t>(code), url.c_str());
}

// ---- Download session ----------------------------------------------------------

JobProgressInfo CPlatFormDownloader::ComputeProgress(const PlatformJobRecord& record, int64_t now)
{
    JobProgressInfo progress{};
    const CPlatformSession* session = record.session.get();
    const uint64_t total = record.totalSize;
    const uint64_t done = session != nullptr ? session->GetReceived() : 0;
    progress.totalSize = total;
    progress.doneSize = done;
    progress.fileCount = record.fileCount;
    progress.fileCounter = session != nullptr ? record.filesCompleted : 0;
    if (total > 0 && done > 0)
        progress.percent = static_cast<uint32_t>(std::min<uint64_t>(done * 100 / total, 100));
    const int64_t elapsed = now - record.startTime;
    progress.elapsed = elapsed > 0 ? static_cast<uint64_t>(elapsed) : 0;
    if (elapsed > 0 && done > record.presentSize)
        progress.speed = static_cast<uint32_t>((done - record.presentSize) / static_cast<uint64_t>(elapsed));
    const uint64_t left = total > done ? total - done : 0;
    progress.remaining = left / (progress.speed != 0 ? progress.speed : 1);

    const PlatformSessionFile* file = session != nullptr ? session->GetCurrentFile() : nullptr;
    if (file != nullptr) {
        const int64_t fileDone = file->present + file->written;
        progress.fileIndex = static_cast<uint32_t>(session->GetFileIndex());
        progress.fileSize = static_cast<uint64_t>(std::max<int64_t>(file->size, 0));
        progress.fileDone = static_cast<uint64_t>(std::max<int64_t>(fileDone, 0));
        progress.fileSpeed = progress.speed;
        progress.fileRemaining = progress.remaining;
        if (file->size > 0 && fileDone > 0)
            progress.filePercent = static_cast<uint32_t>(std::min<int64_t>(fileDone * 100 / file->size, 100));
        std::strncpy(progress.fileName, file->fileName.c_str(), sizeof progress.fileName - 1);
    }
    return progress;
}

void CPlatFormDownloader::UpdateProgress(PlatformJobRecord* record)
{
    SetJobProgress(record->job, ComputeProgress(*record, static_cast<int64_t>(std::time(nullptr))));
}

void CPlatFormDownloader::OnPlatformSessionProgress(PlatformJobRecord* record)
{
    UpdateProgress(record);
}

void CPlatFormDownloader::OnPlatformFileOpened(PlatformJobRecord* /*record*/, const char* /*localPath*/) {}

void CPlatFormDownloader::OnPlatformFileCompleted(PlatformJobRecord* record, const PlatformSessionFile* file)
{
    const std::string localPath = file->folder + file->fileName;
    ++record->filesCompleted;
    ReportJobFileDone(record->job, localPath.c_str());
}

void CPlatFormDownloader::OnPlatformSessionCompleted(PlatformJobRecord* record)
{
    const uint32_t filesCompleted = record->session ? record->filesCompleted : 0;
    m_reporter->ReportSession(record->session.get());
    UpdateProgress(record);
    CJob* job = record->job;
    // The session that reports this returns at once; it goes after that.
    DropRecord(record);
    ReportJobEnd(job, filesCompleted, 0);
}

void CPlatFormDownloader::OnPlatformSessionFailed(PlatformJobRecord* record, const char* text)
{
    NotifyJob(record->job, MESHDROPLIB_NOTICE_JOB_FAILED, text);
}

void CPlatFormDownloader::OnPlatformSessionNotice(PlatformJobRecord* record, int code, const char* text)
{
    // The client answers a full disk by asking how many bytes are missing:
    // the progress block says it, also when no byte was written yet.
    if (code == MESHDROPLIB_NOTICE_DISK_FULL)
        UpdateProgress(record);
    NotifyJob(record->job, static_cast<uint32_t>(code), text);
}
