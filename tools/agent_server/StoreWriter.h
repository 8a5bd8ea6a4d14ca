#pragma once
// The store's own thread. The server's loop hands it each report as it
// arrives; the thread commits them in batches: a transaction takes every
// report that arrived while the one before it committed (up to a bound), so
// under load many connections share one commit, and no report waits longer
// than the commit in progress. The loop learns of results through an event
// descriptor. A slow disk or a locked database holds up this thread only.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "AgentStore.h"

namespace agent {

struct StoreResult {
    std::uint64_t connection = 0;
    bool stored = false;
    std::int64_t id = 0;
    std::size_t records = 0;
    std::string error; // when not stored
};

class StoreWriter {
public:
    // Bounds of one transaction.
    static constexpr std::size_t kMaxBatchReports = 1000;
    static constexpr std::size_t kMaxBatchRecords = 20000;

    explicit StoreWriter(Store& store);
    // Stops after the batch in progress; reports still waiting are dropped
    // unanswered (their clients send them again).
    ~StoreWriter();
    StoreWriter(const StoreWriter&) = delete;
    StoreWriter& operator=(const StoreWriter&) = delete;

    void Submit(PendingReport report);
    // Drops the reports of a connection that no batch has taken yet; answers
    // how many records they held.
    std::size_t Cancel(std::uint64_t connection);
    // The results since the last call, in the order the reports came; makes
    // the event descriptor quiet again.
    std::vector<StoreResult> TakeResults();
    // Readable while results wait.
    int EventFd() const { return eventFd_; }
    // Whether the last transaction committed (true before the first), and
    // why the last one that failed did not.
    bool IsHealthy() const;
    std::string GetLastError() const;

private:
    void Run();

    Store& store_;
    int eventFd_ = -1;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<PendingReport> queue_;
    std::vector<StoreResult> results_;
    bool stop_ = false;
    bool healthy_ = true;
    std::string lastError_;
    std::thread thread_;
};

} // namespace agent
