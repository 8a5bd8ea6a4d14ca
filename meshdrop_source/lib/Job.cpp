#include "Job.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "FolderPath.h"
#include "ServiceLog.h"
#include "ut/utFileEntry.h"

namespace {

// Copies at most size - 1 characters and always terminates.
void CopyBounded(char* dest, size_t size, const char* src)
{
    if (size == 0)
        return;
    size_t n = 0;
    if (src != nullptr) {
        while (n + 1 < size && src[n] != '\0') {
            dest[n] = src[n];
            ++n;
        }
    }
    dest[n] = '\0';
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string Trim(const char* text)
{
    std::string s(text);
    size_t first = 0;
    while (first < s.size() && IsBlank(s[first]))
        ++first;
    size_t last = s.size();
    while (last > first && IsBlank(s[last - 1]))
        --last;
    return s.substr(first, last - first);
}

std::string LowerAscii(std::string s)
{
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

std::atomic<MeshdropJobHandle> g_nextHandle{1};

} // namespace

CJob::CJob(int jobNumber, const ClientEventTarget& target, const char* regionCode, const char* serviceId)
    : m_target(target), m_nJobNumber(jobNumber), m_handle(g_nextHandle.fetch_add(1))
{
    CopyBounded(m_szServiceId, sizeof m_szServiceId, serviceId);
    CopyBounded(m_szRegionCode, sizeof m_szRegionCode, regionCode);
}

CJob::~CJob() = default;

int CJob::AddFile(const char* url, const char* folder, const char* fileName, int64_t size, uint32_t fileOption,
                  uint32_t internalOption)
{
    if (m_nState != JOB_STATE_IDLE)
        return MESHDROPLIB_ERROR_FAILED;
    if (url == nullptr || *url == '\0')
        return MESHDROPLIB_ERROR_URL;
    if (folder == nullptr || *folder == '\0')
        return MESHDROPLIB_ERROR_FOLDER;

    auto entry = std::make_unique<JobFileEntry>();
    entry->url = Trim(url);
    // A name that is not one plain component of the folder (or a URL that
    // no downloader can fetch) is refused now, not met when the file is
    // created: the client learns it while it adds the file. The engine reads
    // entries by the same rule.
    utFileEntry parsed;
    const bool usable = utReadFileEntry(entry->url, fileName ? fileName : "", &parsed) == utEntryCheck::Ok;
    entry->fileName = parsed.name;
    if (!usable) {
        WriteServiceLogFormat("[MeshdropLib] AddFile Refused : %s", PrintableLogText(entry->url).c_str());
        return MESHDROPLIB_ERROR_URL;
    }
    entry->folder = NormalizeFolder(folder);
    CopyBounded(m_szLastFolder, sizeof m_szLastFolder, entry->folder.c_str());

    std::string key = LowerAscii(entry->folder + entry->fileName);
    if (m_pathIndex.count(key) != 0)
        return MESHDROPLIB_ERROR_FAILED;

    entry->index = static_cast<uint32_t>(m_files.size());
    CopyBounded(entry->serviceId, sizeof entry->serviceId, m_szServiceId);
    entry->size = size;
    entry->fileOption = fileOption;
    entry->internalOption = internalOption;
    m_pathIndex.emplace(std::move(key), entry.get());
    m_files.push_back(std::move(entry));
    return MESHDROPLIB_OK;
}

void CJob::Raise(UINT code)
{
    RaiseClientEvent(m_target, code, static_cast<LPARAM>(GetHandle()));
}

void CJob::ReportSizes(uint32_t fileCount, uint64_t totalSize)
{
    // Sizes matter to the client only before the first byte arrives.
    if (m_nState != JOB_STATE_RUNNING || m_progress.doneSize != 0)
        return;
    m_pSizeInfo = std::make_unique<JobSizeInfo>(JobSizeInfo{fileCount, totalSize});
    Raise(MESHDROPLIB_EVENT_JOB_SIZE);
}

void CJob::SetProgress(const JobProgressInfo& progress)
{
    m_progress = progress;
    // The name is always terminated, whatever the downloader wrote.
    m_progress.fileName[sizeof m_progress.fileName - 1] = '\0';
}

void CJob::ReportProgress()
{
    if (m_nState != JOB_STATE_RUNNING || m_progress.doneSize == 0)
        return;
    Raise(MESHDROPLIB_EVENT_JOB_PROGRESS);
}

const JobFileEntry* CJob::FindFile(const char* localPath) const
{
    if (localPath == nullptr)
        return nullptr;
    const auto it = m_pathIndex.find(LowerAscii(localPath));
    return it == m_pathIndex.end() ? nullptr : it->second;
}

void CJob::ReportFileDone(const char* localPath)
{
    if (localPath == nullptr)
        return;
    auto it = m_pathIndex.find(LowerAscii(localPath));
    if (it == m_pathIndex.end() || it->second->fileState == JOB_FILE_COMPLETED)
        return;
    JobFileEntry& file = *it->second;
    file.fileState = JOB_FILE_COMPLETED;

    auto info = std::make_unique<FileDoneInfo>();
    info->fileCount = m_progress.fileCount;
    info->sequence = static_cast<uint32_t>(++m_nCompletions);
    // The job's own address and path, whatever a downloader wrote: the
    // client runs the installer from this path. Bounded: an over-long URL or
    // path is cut rather than overrunning the record.
    std::snprintf(info->text, sizeof info->text, "%s,%s%s", file.url.c_str(), file.folder.c_str(),
                  file.fileName.c_str());
    m_fileDoneQueue.push_back(std::move(info));
    Raise(MESHDROPLIB_EVENT_FILE_DONE);
}

void CJob::ReportEnd(uint32_t filesCompleted, uint32_t result)
{
    ReportProgress();
    m_nState = JOB_STATE_FINISHED;
    m_pFinishInfo =
        std::make_unique<JobFinishInfo>(JobFinishInfo{static_cast<uint32_t>(m_files.size()), filesCompleted, result});
    Raise(MESHDROPLIB_EVENT_JOB_FINISHED);
}

void CJob::Notify(uint32_t code, const char* text)
{
    Notice notice{code, nullptr};
    if (text != nullptr && *text != '\0')
        notice.text = std::make_unique<std::string>(text);
    m_noticeQueue.push_back(std::move(notice));
    Raise(MESHDROPLIB_EVENT_JOB_NOTICE);
}

void CJob::AskResume()
{
    Raise(MESHDROPLIB_EVENT_ASK_RESUME);
}

int CJob::GetSizeInfo(JobSizeInfo* info)
{
    if (m_pSizeInfo) {
        *info = *m_pSizeInfo;
        m_pSizeInfo.reset();
    }
    return MESHDROPLIB_OK;
}

int CJob::GetProgress(JobProgressInfo* info) const
{
    *info = m_progress;
    CopyBounded(info->fileName, sizeof info->fileName, m_progress.fileName);
    return MESHDROPLIB_OK;
}

int CJob::PopFileDone(FileDoneInfo* info)
{
    if (!m_fileDoneQueue.empty()) {
        *info = *m_fileDoneQueue.front();
        m_fileDoneQueue.pop_front();
    }
    return MESHDROPLIB_OK;
}

int CJob::GetFinishInfo(JobFinishInfo* info)
{
    if (m_pFinishInfo) {
        *info = *m_pFinishInfo;
        m_pFinishInfo.reset();
    }
    return MESHDROPLIB_OK;
}

int CJob::GetNoticeTextSize(int* size) const
{
    *size = 0;
    if (!m_noticeQueue.empty() && m_noticeQueue.front().text)
        *size = static_cast<int>(m_noticeQueue.front().text->size() + 1);
    return MESHDROPLIB_OK;
}

int CJob::PopNotice(NoticeInfo* info)
{
    if (m_noticeQueue.empty()) {
        info->code = MESHDROPLIB_NOTICE_NONE;
        return MESHDROPLIB_OK;
    }
    Notice& notice = m_noticeQueue.front();
    info->code = notice.code;
    if (info->text != nullptr && notice.text)
        std::memcpy(info->text, notice.text->c_str(), notice.text->size() + 1);
    m_noticeQueue.pop_front();
    return MESHDROPLIB_OK;
}
