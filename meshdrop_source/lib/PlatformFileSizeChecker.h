#pragma once
// CPlatformFileSizeChecker: learns the sizes of a job's files before the
// direct downloader downloads them. Files of known size are counted as they
// are; the others are probed, at most five at a time, and the job's totals
// are reported once every probe is done. The first failed probe fails the check.

#include <cstdint>
#include <list>
#include <memory>
#include <vector>

#include "ICheckerEventListener.h"
#include "IPlatformFileSizeCheckSessionEventListener.h"
#include "JobFileEntry.h"

class CPlatformFileSizeCheckSession;

class CPlatformFileSizeChecker : public IPlatformFileSizeCheckSessionEventListener {
public:
    static constexpr size_t kMaxActiveProbes = 5;

    CPlatformFileSizeChecker(ICheckerEventListener* listener, PlatformJobRecord* context);
    // Destroys the probes still running; reports nothing.
    ~CPlatformFileSizeChecker();
    CPlatformFileSizeChecker(const CPlatformFileSizeChecker&) = delete;
    CPlatformFileSizeChecker& operator=(const CPlatformFileSizeChecker&) = delete;

    // A null listener detaches: nothing is reported after it.
    void SetListener(ICheckerEventListener* listener) { m_pListener = listener; }
    // Counts the known sizes and probes the unknown ones. May report (and
    // the listener may destroy this checker) before it returns.
    void Run(const std::vector<std::unique_ptr<JobFileEntry>>& files);

    size_t GetActiveProbeCount() const { return m_activeProbes.size(); }

    // ---- IPlatformFileSizeCheckSessionEventListener ----
    void OnProbeDone(CPlatformFileSizeCheckSession* probe) override;
    void OnProbeFailed(int code, const char* text) override;

private:
    void StartProbes();
    void Complete();

    ICheckerEventListener* m_pListener;
    PlatformJobRecord* m_pContext;
    size_t m_nextProbe = 0;
    size_t m_probesDone = 0;
    std::vector<std::unique_ptr<JobFileEntry>> m_probeEntries;
    std::list<std::unique_ptr<CPlatformFileSizeCheckSession>> m_activeProbes;
    uint64_t m_knownTotal = 0;
    uint64_t m_knownPresent = 0;
    uint32_t m_knownFileCount = 0;
    std::vector<int64_t> m_fileSizes; // given sizes by file index; -1 until probed
    // Expires with the checker: a probe's report may destroy it mid-loop.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};
