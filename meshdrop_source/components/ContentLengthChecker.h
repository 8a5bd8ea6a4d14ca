#pragma once
// CContentLengthChecker: probes the length of every file-list entry, at most
// five at a time, and sums them. The first file that fails ends the whole
// check; the job manager owns one and forwards the outcome to the client.

#include <cstdint>
#include <memory>
#include <vector>

#include "ContentLengthCheckSession.h"
#include "IContentLengthCheckSessionEventListener.h"
#include "IContentLengthCheckerEventListener.h"

class CContentLengthChecker : public IContentLengthCheckSessionEventListener {
public:
    static constexpr uint32_t kMaxRunning = 5;

    CContentLengthChecker() = default;
    ~CContentLengthChecker() override;
    CContentLengthChecker(const CContentLengthChecker&) = delete;
    CContentLengthChecker& operator=(const CContentLengthChecker&) = delete;

    void SetListener(IContentLengthCheckerEventListener* listener) { m_pListener = listener; }
    // Adds one probe for the entry's first address. Returns 512.
    [[nodiscard]] int AddFile(const char* entry);
    // Starts the probes; without any reports completion with the total at once.
    void Start();
    // The sum of the lengths reported since the checker was created.
    int64_t GetTotal() const { return m_total; }
    // The length reported for the index-th file of the current check, or -1.
    int64_t GetLength(uint32_t index) const { return index < m_lengths.size() ? m_lengths[index] : -1; }
    // Closes and destroys every probe, last first.
    void StopAll();

    size_t GetSessionCount() const { return m_sessions.size(); }
    uint32_t GetRunning() const { return m_nRunning; }

    // ---- IContentLengthCheckSessionEventListener ----
    void OnFileLength(int fileIndex, int64_t length) override;
    void OnFileFailed(int fileIndex, const char* address) override;
    void OnFileUnreachable(int fileIndex) override;

private:
    // Starts the probe at `next` when one is left and fewer than five run.
    void StartNext();

    int64_t m_total = 0;
    uint32_t m_nNext = 0;
    uint32_t m_nRunning = 0;
    int m_nCompleted = 0;
    std::vector<std::unique_ptr<CContentLengthCheckSession>> m_sessions;
    std::vector<int64_t> m_lengths; // per file of the current check; -1 until reported
    int64_t m_startTime = 0;
    IContentLengthCheckerEventListener* m_pListener = nullptr;
};
