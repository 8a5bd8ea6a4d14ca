#include "PlatformFileSizeChecker.h"

#include "PlatformFileSizeCheckSession.h"

CPlatformFileSizeChecker::CPlatformFileSizeChecker(ICheckerEventListener* listener, PlatformJobRecord* context)
    : m_pListener(listener), m_pContext(context)
{}

CPlatformFileSizeChecker::~CPlatformFileSizeChecker()
{
    for (auto& probe : m_activeProbes)
        probe->SetListener(nullptr);
    m_activeProbes.clear();
}

void CPlatformFileSizeChecker::Run(const std::vector<std::unique_ptr<JobFileEntry>>& files)
{
    m_knownTotal = 0;
    m_knownPresent = 0;
    m_knownFileCount = 0;
    m_fileSizes.clear();
    for (const auto& file : files) {
        if (file->index >= m_fileSizes.size())
            m_fileSizes.resize(file->index + 1, -1);
        if (file->size != -1) {
            m_fileSizes[file->index] = file->size;
            ++m_knownFileCount;
            m_knownTotal += static_cast<uint64_t>(file->size);
            m_knownPresent += static_cast<uint64_t>(file->done);
        } else {
            m_probeEntries.push_back(std::make_unique<JobFileEntry>(*file));
        }
    }
    if (m_probeEntries.empty())
        Complete();
    else
        StartProbes();
}

void CPlatformFileSizeChecker::StartProbes()
{
    const std::weak_ptr<int> alive = m_alive;
    while (m_nextProbe < m_probeEntries.size() && m_activeProbes.size() < kMaxActiveProbes) {
        JobFileEntry* entry = m_probeEntries[m_nextProbe++].get();
        m_activeProbes.push_back(std::make_unique<CPlatformFileSizeCheckSession>(this, entry));
        m_activeProbes.back()->Start();
        // A probe that failed at once may have ended the check: the checker
        // is then gone, or detached and kept until the report has returned.
        if (alive.expired() || m_pListener == nullptr)
            return;
    }
    if (m_probesDone == m_probeEntries.size())
        Complete();
}

void CPlatformFileSizeChecker::OnProbeDone(CPlatformFileSizeCheckSession* probe)
{
    // The probe is inside its own notification: it returns at once after this.
    m_activeProbes.remove_if([probe](const auto& active) { return active.get() == probe; });
    ++m_probesDone;
    StartProbes();
}

void CPlatformFileSizeChecker::OnProbeFailed(int code, const char* text)
{
    if (m_pListener != nullptr)
        m_pListener->OnPlatformSizeCheckFailed(m_pContext, code, text);
}

void CPlatformFileSizeChecker::Complete()
{
    SizeCheckResult result;
    result.totalSize = m_knownTotal;
    result.presentSize = m_knownPresent;
    result.fileCount = m_knownFileCount + static_cast<uint32_t>(m_probeEntries.size());
    for (const auto& entry : m_probeEntries) {
        result.totalSize += static_cast<uint64_t>(entry->size);
        result.presentSize += static_cast<uint64_t>(entry->done);
    }
    result.fileSizes = m_fileSizes;
    for (const auto& entry : m_probeEntries) {
        if (entry->index < result.fileSizes.size())
            result.fileSizes[entry->index] = entry->size;
    }
    if (m_pListener != nullptr)
        m_pListener->OnPlatformSizeCheckCompleted(m_pContext, result);
}
