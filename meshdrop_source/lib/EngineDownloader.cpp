#include "EngineDownloader.h"

#include <algorithm>
#include <ctime>

#include <win32_ext.h>

#include "DeferredDestruction.h"
#include "EngineLauncher.h"
#include "HttpGetRequest.h"
#include "IJobDownloadEventListener.h"
#include "Job.h"
#include "ServiceLog.h"
#include "cp/cpCHostCache.h"
#include "cp/cpCQoSContext.h"
#include "cp/ovIQoSContext.h"
#include "nw/ovICDNLocalClientLayer.h"
#include "ov/ovCGarbageCollector.h"
#include "ov/ovClassIds.h"

namespace {

// The bytes of a job as one command 14: its header, then per file the fixed
// fields and the URL with its terminator.
uint64_t SingleMessageSize(const CJob& job)
{
    uint64_t size = sizeof(nwCDNJobHeader);
    for (const auto& file : job.GetFiles())
        size += file->url.size() + sizeof(nwCDNItemFields) + 1;
    return size;
}

nwCDNItemFields ItemFields(const JobFileEntry& file)
{
    nwCDNItemFields fields{};
    fields.fileOption = static_cast<uint8_t>(file.fileOption);
    fields.internalOption = static_cast<uint8_t>(file.internalOption);
    fields.size = file.size;
    nwCDNPutField(fields.folder, sizeof fields.folder, file.folder);
    nwCDNPutField(fields.fileName, sizeof fields.fileName, file.fileName);
    return fields;
}

// The engine takes folders and file names in fields of 260 bytes: a longer
// one would reach it cut, and its files would land in another place.
bool FitsEngineFields(const CJob& job)
{
    for (const auto& file : job.GetFiles()) {
        if (file->folder.size() >= CDN_PATH_SIZE || file->fileName.size() >= CDN_PATH_SIZE)
            return false;
    }
    return true;
}

uint32_t Percent(uint64_t done, uint64_t total)
{
    if (done == 0 || total == 0)
        return 0;
    // Never above 100, and no overflow for any figure the engine sends.
    return done >= total ? 100 : static_cast<uint32_t>(static_cast<unsigned __int128>(done) * 100 / total);
}

uint64_t Remaining(uint64_t total, uint64_t done, uint32_t speed)
{
    return (total > done ? total - done : 0) / (speed == 0 ? 1 : speed);
}

int64_t Now()
{
    return static_cast<int64_t>(std::time(nullptr));
}

// The job's file that a file-done report names: by the engine's index when
// it sent one (the path it gives must be that file's), else by the path.
const JobFileEntry* ReportedFile(const CJob& job, const nwCDNFileDoneRecord& done)
{
    const JobFileEntry* byPath = job.FindFile(done.localPath);
    if (done.fileIndex == CDN_NO_FILE)
        return byPath;
    const auto& files = job.GetFiles();
    return done.fileIndex < files.size() && files[done.fileIndex].get() == byPath ? byPath : nullptr;
}

} // namespace

CEngineDownloader::CEngineDownloader(IJobDownloadEventListener* listener, const ovSmartPtr& lock,
                                     LauncherFactory makeLauncher)
    : CJobDownloader(listener, lock), m_makeLauncher(std::move(makeLauncher))
{
    CreateLauncher();
}

CEngineDownloader::~CEngineDownloader()
{
    {
        CSessionLock lock;
        if (m_connection) {
            const ovSmartPtr connection = m_connection;
            ReleaseConnection();
            connection.Get<ovIQoSContext>()->Close();
        }
        DestroyLauncher();
        m_records.clear();
    }
    WriteServiceLog("[MeshdropLib] CEngineDownloader Destroy");
}

// ---- Launcher ----------------------------------------------------------------

void CEngineDownloader::CreateLauncher()
{
    if (m_makeLauncher)
        m_pLauncher = m_makeLauncher(this);
    ++m_nLaunchCount;
}

void CEngineDownloader::DestroyLauncher()
{
    if (!m_pLauncher)
        return;
    m_pLauncher->Detach();
    DestroyAfterReport(std::move(m_pLauncher));
}

void CEngineDownloader::OnLauncherFileLength(const char* fileName, int64_t size)
{
    GetListener()->OnEngineUpdateFileStarted(fileName, size);
}

void CEngineDownloader::OnLauncherProgress(const char* fileName, int64_t received)
{
    GetListener()->OnEngineUpdateProgress(fileName, received);
}

void CEngineDownloader::OnLauncherReady()
{
    SetNetworkDown(false);
    ConnectToEngine();
    GetListener()->OnEngineReady();
}

void CEngineDownloader::OnLauncherFailed()
{
    SetNetworkDown(false);
    ConnectToEngine();
    IJobDownloadEventListener* manager = GetListener();
    manager->OnEngineUpdateFailed();
    // Destroys this downloader once the report has returned: nothing of it
    // is touched after this call.
    manager->OnEngineUnavailable();
}

void CEngineDownloader::OnLauncherNetworkLost()
{
    SetNetworkDown(true);
    const std::vector<CJob*> jobs = GetJobs();
    for (CJob* job : jobs)
        NotifyJob(job, MESHDROPLIB_NOTICE_NETWORK_LOST);
}

void CEngineDownloader::OnLauncherPathFailed(int kind)
{
    IJobDownloadEventListener* manager = GetListener();
    manager->OnPathAccessFailed(kind);
    if (kind == PATH_ACCESS_ENGINE)
        manager->OnEngineUnavailable(); // the last thing this downloader does
}

// ---- Connection ----------------------------------------------------------------

void CEngineDownloader::ConnectToEngine()
{
    if (m_connection)
        return;
    const uint16_t port = nwCDNEnginePort();
    cpAddress address;
    if (!cpCHostCache::GetInstance().GetAddress(CDN_ENGINE_ADDRESS, port, &address))
        return;
    CSessionLock lock;
    if (!lock.Held() || !m_connection.CreateInstance(OVCLS_QOS_CONTEXT))
        return;
    auto* context = m_connection.Get<ovIQoSContext>();
    const uint32_t connectTimeout = 1;
    ovICDNLocalClientLayer* layer = nullptr;
    if (OV_SUCCEEDED(context->Open(QOS_ACTION_HIGH, QOS_CONNECT_FAILED, nullptr)) &&
        OV_SUCCEEDED(context->SetOption(QOS_OPTION_CONNECT_TIMEOUT, &connectTimeout)) &&
        OV_SUCCEEDED(context->AddLayer(OVCLS_LOCAL_ENGINE_LAYER, false)))
        layer = GetLayer();
    if (layer == nullptr) {
        ReleaseConnection();
        return;
    }
    layer->SetListener(this, 0);
    // A connection that cannot be framed is closed by the layer; nothing to add here.
    (void)layer->SendServiceId(m_serviceId.c_str());
    context->SetRemoteEndpoint(cpEndpoint{address, port});
    // Reports later (connected, or connect failed and closed).
    context->Connect(cpEndpoint{address, port});
}

void CEngineDownloader::ReleaseConnection()
{
    if (!m_connection)
        return;
    if (ovICDNLocalClientLayer* layer = GetLayer())
        layer->SetListener(nullptr, 0);
    // The connection may be reporting right now: the collector frees it later.
    ovCGarbageCollector::GetGarbageCollector()->Add(m_connection);
    m_connection.Reset();
}

bool CEngineDownloader::IsConnected() const
{
    return m_connection && m_lastConnectTime != 0;
}

ovICDNLocalClientLayer* CEngineDownloader::GetLayer() const
{
    ovIUnknown* top = m_connection ? m_connection.Get<ovIQoSContext>()->GetTopLayer() : nullptr;
    return top != nullptr ? ovAsCDNLocalClientLayer(top) : nullptr;
}

void CEngineDownloader::SetServiceId(const char* serviceId)
{
    m_serviceId = serviceId != nullptr ? serviceId : "";
    if (IsConnected())
        (void)GetLayer()->SendServiceId(m_serviceId.c_str());
}

// ---- Jobs ------------------------------------------------------------------------

EngineJobRecord* CEngineDownloader::FindRecord(const CJob* job)
{
    auto it = std::find_if(m_records.begin(), m_records.end(), [job](const auto& r) { return r.job == job; });
    return it == m_records.end() ? nullptr : &*it;
}

EngineJobRecord* CEngineDownloader::FindRecord(uint32_t jobNumber)
{
    auto it = std::find_if(m_records.begin(), m_records.end(),
                           [jobNumber](const auto& r) { return static_cast<uint32_t>(r.jobNumber) == jobNumber; });
    return it == m_records.end() ? nullptr : &*it;
}

EngineJobRecord* CEngineDownloader::FindRecord(uint32_t jobNumber, uint32_t engineJobId)
{
    EngineJobRecord* record = FindRecord(jobNumber);
    return record != nullptr && static_cast<uint32_t>(record->engineJobId) == engineJobId ? record : nullptr;
}

EngineJobRecord CEngineDownloader::TakeRecord(const EngineJobRecord* record)
{
    EngineJobRecord taken = *record;
    m_records.erase(m_records.begin() + (record - m_records.data()));
    return taken;
}

int CEngineDownloader::BeginJob(CJob* job)
{
    if (FindRecord(job) != nullptr)
        return MESHDROPLIB_ERROR_FAILED;
    if (IsNetworkDown())
        return kNetworkDownStatus;
    if (!FitsEngineFields(*job)) {
        // The direct downloader writes any path: the job goes there at once.
        DropJob(job);
        GetListener()->OnJobHandOver(job);
        return MESHDROPLIB_OK;
    }
    // Not connected yet: the job waits in the jobs array for OnEngineConnected.
    if (!IsConnected())
        return MESHDROPLIB_OK;
    m_records.push_back(EngineJobRecord{-1, job->GetJobNumber(), job});
    SendJob(m_records.back());
    return MESHDROPLIB_OK;
}

void CEngineDownloader::SendJob(const EngineJobRecord& record)
{
    ovICDNLocalClientLayer* layer = GetLayer();
    const CJob& job = *record.job;
    // A request that cannot be framed leaves the job incomplete: the engine
    // refuses it (11), which fails the job.
    if (job.GetRegionCode()[0] != '\0') {
        nwCDNRegion region{};
        nwCDNPutField(region.code, sizeof region.code, job.GetRegionCode());
        (void)layer->SendRegion(&region);
    }
    const nwCDNJobMode mode{
        static_cast<uint8_t>(job.GetMode() != 0 ? CDN_MODE_FULL : CDN_MODE_LIMITED), job.GetRateLimit(), {}};
    (void)layer->SendJobMode(&mode);
    const auto jobNumber = static_cast<uint32_t>(record.jobNumber);
    if (job.GetEngineFlag())
        (void)layer->SendEngineFlag(jobNumber);

    nwCDNJobHeader header{};
    header.jobNumber = jobNumber;
    header.itemCount = static_cast<uint32_t>(job.GetFiles().size());
    nwCDNPutField(header.serviceId, sizeof header.serviceId, job.GetServiceId());
    if (SingleMessageSize(job) > kSingleMessageLimit) {
        (void)layer->SendJobHeader(&header);
        for (const auto& file : job.GetFiles()) {
            nwCDNJobItem item;
            item.jobNumber = jobNumber;
            item.itemIndex = file->index;
            item.fields = ItemFields(*file);
            item.url = file->url.c_str();
            (void)layer->SendJobItem(&item);
        }
        (void)layer->SendJobEnd(jobNumber);
        return;
    }
    std::vector<nwCDNJobListItem> items;
    items.reserve(job.GetFiles().size());
    for (const auto& file : job.GetFiles()) {
        nwCDNJobListItem item;
        item.fields = ItemFields(*file);
        item.url = file->url.c_str();
        items.push_back(item);
    }
    const nwCDNJobList list{header, items.data()};
    (void)layer->SendJobList(&list);
}

void CEngineDownloader::EndJob(CJob* job)
{
    const EngineJobRecord* found = FindRecord(job);
    if (found == nullptr)
        return;
    const EngineJobRecord record = TakeRecord(found);
    if (ovICDNLocalClientLayer* layer = GetLayer()) {
        const nwCDNJobRef ref{static_cast<uint32_t>(record.jobNumber), static_cast<uint32_t>(record.engineJobId)};
        (void)layer->SendStopJob(&ref);
    }
}

void CEngineDownloader::CheckJob(CJob* job)
{
    WatchNetwork(job);
}

int CEngineDownloader::TakeResumeAnswer(CJob* job, int resume, int applyToAll)
{
    const EngineJobRecord* record = FindRecord(job);
    ovICDNLocalClientLayer* layer = GetLayer();
    if (record != nullptr && layer != nullptr) {
        const nwCDNResumeAnswer answer{static_cast<uint32_t>(record->engineJobId),
                                       static_cast<uint32_t>(record->jobNumber), static_cast<uint8_t>(resume),
                                       static_cast<uint8_t>(applyToAll)};
        (void)layer->SendResumeAnswer(&answer);
    }
    return MESHDROPLIB_OK;
}

void CEngineDownloader::SendFileOption(CJob* job, uint8_t value)
{
    const EngineJobRecord* record = FindRecord(job);
    if (record == nullptr || !IsConnected())
        return;
    const nwCDNFileOption option{static_cast<uint32_t>(record->jobNumber), static_cast<uint32_t>(record->engineJobId),
                                 value};
    (void)GetLayer()->SendFileOption(&option);
}

// ---- The engine's reports ----------------------------------------------------------

bool CEngineDownloader::IsEngineOfThisUser() const
{
    const cpSocketRecord* record = m_connection.Get<cpCQoSContext>()->GetRecord();
    DWORD owner = 0;
    const bool known = record != nullptr && W32GetTcpPeerOwner(record->socket, &owner);
    if (known && owner == W32GetCurrentOwner())
        return true;
    const unsigned port = nwCDNEnginePort();
    if (known)
        WriteServiceLogFormat("[MeshdropLib] Engine Refused (port %u belongs to uid %u)", port,
                              static_cast<unsigned>(owner));
    else
        WriteServiceLogFormat("[MeshdropLib] Engine Refused (port %u has no known owner)", port);
    return false;
}

void CEngineDownloader::OnEngineConnected(uint32_t /*cookie*/)
{
    // Only an engine of the player's own user gets the jobs: anything else
    // on the port is closed before a frame is sent or read (the requests
    // queued so far wait for this report), and counts as an engine that
    // could not be started.
    if (!IsEngineOfThisUser()) {
        // Close reports OnEngineClosed at once, which relaunches or falls back.
        m_connection.Get<ovIQoSContext>()->Close();
        return;
    }
    m_lastConnectTime = Now();
    // Jobs started before the engine was ready go to it now.
    const std::vector<CJob*> jobs = GetJobs();
    for (CJob* job : jobs) {
        // Answers 517 for a job submitted already; nothing to do then.
        (void)BeginJob(job);
    }
}

void CEngineDownloader::OnEngineJobAccepted(const nwCDNJobAccepted* accepted, uint32_t /*cookie*/)
{
    EngineJobRecord* record = FindRecord(accepted->jobNumber);
    if (record == nullptr) {
        // A job stopped before the engine accepted it: stop it there too,
        // or the engine would go on fetching files that nobody waits for.
        const nwCDNJobRef ref{accepted->jobNumber, accepted->engineJobId};
        if (ovICDNLocalClientLayer* layer = GetLayer())
            (void)layer->SendStopJob(&ref);
        return;
    }
    record->engineJobId = static_cast<int>(accepted->engineJobId);
    record->job->SetEngineJobId(record->engineJobId);
    ReportJobSizes(record->job, accepted->fileCount, accepted->totalSize);
}

void CEngineDownloader::OnEngineJobFailed(const nwCDNJobFailedRecord* failed, uint32_t /*cookie*/)
{
    const EngineJobRecord* found = FindRecord(failed->jobNumber);
    if (found == nullptr)
        return;
    const EngineJobRecord record = TakeRecord(found);
    NotifyAndDropJob(record.job, MESHDROPLIB_NOTICE_JOB_FAILED, failed->text);
}

void CEngineDownloader::OnEngineJobProgress(const nwCDNProgressRecord* progress, uint32_t /*cookie*/)
{
    const nwCDNProgressBlock& block = progress->block;
    const EngineJobRecord* record = FindRecord(block.jobNumber, block.engineJobId);
    if (record == nullptr)
        return;
    CJob* job = record->job;
    const auto elapsed = static_cast<int64_t>(block.elapsedSeconds);

    JobProgressInfo info{};
    info.totalSize = block.totalSize;
    info.doneSize = block.doneSize;
    info.fileCount = block.fileCount;
    info.fileCounter = block.currentFile;
    info.elapsed = block.elapsedSeconds;
    info.percent = Percent(block.doneSize, block.totalSize);
    m_jobSpeed.Add(elapsed, block.speed);
    info.speed = m_jobSpeed.GetAverage();
    info.remaining = Remaining(block.totalSize, block.doneSize, info.speed);

    if (block.itemCount > 0) {
        const nwCDNProgressItem& current = progress->items[0].item;
        info.fileSize = current.size;
        info.fileDone = current.done;
        info.filePercent = Percent(current.done, current.size);
        m_fileSpeed.Add(elapsed, current.speed);
        info.fileSpeed = m_fileSpeed.GetAverage();
        info.fileRemaining = Remaining(current.size, current.done, static_cast<uint32_t>(info.fileSpeed));
    }

    // The engine's file number, kept within the job's files.
    const auto& files = job->GetFiles();
    const uint32_t last = files.empty() ? 0 : static_cast<uint32_t>(files.size() - 1);
    info.fileIndex = block.currentFile < last ? block.currentFile : last;
    if (!files.empty()) {
        const std::string& name = files[info.fileIndex]->fileName;
        name.copy(info.fileName, sizeof info.fileName - 1);
    }
    SetJobProgress(job, info);
}

void CEngineDownloader::OnEngineFileDone(const nwCDNFileDoneRecord* done, uint32_t /*cookie*/)
{
    EngineJobRecord* record = FindRecord(done->jobNumber, done->engineJobId);
    if (record == nullptr)
        return;
    // The file's path comes from the job, never from the engine: the
    // client runs the installer from it.
    const JobFileEntry* file = ReportedFile(*record->job, *done);
    if (file == nullptr) {
        WriteServiceLogFormat("[MeshdropLib] File Done Ignored (job %d, not its file: %s)", record->jobNumber,
                              PrintableLogText(done->localPath).c_str());
        return;
    }
    m_fileSpeed.Clear();
    ReportJobFileDone(record->job, (file->folder + file->fileName).c_str());
}

void CEngineDownloader::OnEngineFileDoneText(const nwCDNFileDoneRecord* done, uint32_t cookie)
{
    // The alternative text is only shown (here, in the log), never taken
    // for the file's path.
    if (FindRecord(done->jobNumber, done->engineJobId) != nullptr && done->altText[0] != '\0')
        WriteServiceLogFormat("[MeshdropLib] File Done Text (%s)", PrintableLogText(done->altText).c_str());
    OnEngineFileDone(done, cookie);
}

void CEngineDownloader::OnEngineJobEnded(const nwCDNJobEnded* ended, uint32_t /*cookie*/)
{
    const EngineJobRecord* found = FindRecord(ended->jobNumber, ended->engineJobId);
    if (found == nullptr)
        return;
    const EngineJobRecord record = TakeRecord(found);
    if (ended->result != CDN_RESULT_OK) {
        // The direct downloader takes the job over from here.
        NotifyJob(record.job, MESHDROPLIB_NOTICE_ENGINE_JOB_ERROR);
        DropJob(record.job);
        GetListener()->OnJobHandOver(record.job);
        return;
    }
    ReportJobEnd(record.job, ended->filesCompleted, 0);
}

void CEngineDownloader::OnEngineNotice(const nwCDNNoticeRecord* notice, uint32_t /*cookie*/)
{
    EngineJobRecord* record = FindRecord(notice->jobNumber, notice->engineJobId);
    if (record != nullptr && notice->kind == CDN_NOTICE_DISK_FULL)
        NotifyJob(record->job, MESHDROPLIB_NOTICE_DISK_FULL);
}

void CEngineDownloader::OnEngineNetworkLost(const nwCDNTail* /*tail*/, uint32_t /*cookie*/)
{
    if (!m_records.empty())
        NotifyJob(m_records.front().job, MESHDROPLIB_NOTICE_NETWORK_LOST);
}

void CEngineDownloader::OnEngineNetworkBack(const nwCDNTail* /*tail*/, uint32_t /*cookie*/)
{
    if (!m_records.empty())
        NotifyJob(m_records.front().job, MESHDROPLIB_NOTICE_NETWORK_BACK);
}

void CEngineDownloader::OnEngineAskResume(const nwCDNAskResume* ask, uint32_t /*cookie*/)
{
    if (EngineJobRecord* record = FindRecord(ask->jobNumber))
        AskJobResume(record->job);
}

void CEngineDownloader::OnEngineStatusReport(const nwCDNStatus* status, uint32_t /*cookie*/)
{
    GetListener()->OnEngineStatus(static_cast<int>(status->value));
}

void CEngineDownloader::OnEngineConnectFailed(uint32_t /*cookie*/)
{
    // OnEngineClosed follows and decides.
}

void CEngineDownloader::OnEngineClosed(uint32_t /*cookie*/)
{
    ReleaseConnection();
    if (m_lastConnectTime != 0 && Now() - m_lastConnectTime > m_reconnectWindowSeconds) {
        m_nLaunchCount = 0;
        m_lastConnectTime = 0;
    }
    WriteServiceLog("[MeshdropLib] localClosed()");
    if (m_nLaunchCount > kMaxLaunchCount) {
        WriteServiceLog("[MeshdropLib] CEngineDownloader MaxTry Over");
        GetListener()->OnEngineUnavailable(); // the last thing this downloader does
        return;
    }
    // A new engine run: the jobs stay in the jobs array and are submitted
    // again once the new engine is connected.
    DestroyLauncher();
    m_records.clear();
    CreateLauncher();
}
