#include "StoreWriter.h"

#include <sys/eventfd.h>
#include <unistd.h>

namespace agent {

StoreWriter::StoreWriter(Store& store) : store_(store), eventFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    thread_ = std::thread(&StoreWriter::Run, this);
}

StoreWriter::~StoreWriter()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
    if (eventFd_ >= 0)
        close(eventFd_);
}

void StoreWriter::Submit(PendingReport report)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(std::move(report));
    }
    wake_.notify_one();
}

std::size_t StoreWriter::Cancel(std::uint64_t connection)
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t records = 0;
    std::erase_if(queue_, [&](const PendingReport& pending) {
        if (pending.connection != connection)
            return false;
        records += pending.report.records.size();
        return true;
    });
    return records;
}

std::vector<StoreResult> StoreWriter::TakeResults()
{
    std::uint64_t count = 0;
    if (read(eventFd_, &count, sizeof count) < 0) {
        // Nothing signalled: results may still have been added meanwhile.
    }
    std::lock_guard<std::mutex> lock(mutex_);
    return std::move(results_);
}

bool StoreWriter::IsHealthy() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return healthy_;
}

std::string StoreWriter::GetLastError() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return lastError_;
}

void StoreWriter::Run()
{
    std::vector<PendingReport> batch;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [&] { return stop_ || !queue_.empty(); });
            if (stop_)
                return;
            std::size_t records = 0;
            while (!queue_.empty() && batch.size() < kMaxBatchReports &&
                   (batch.empty() || records + queue_.front().report.records.size() <= kMaxBatchRecords)) {
                records += queue_.front().report.records.size();
                batch.push_back(std::move(queue_.front()));
                queue_.pop_front();
            }
        }
        const bool stored = store_.AddBatch(batch);
        const std::string error = stored ? std::string() : store_.GetError();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            healthy_ = stored;
            if (!stored)
                lastError_ = error;
            for (const PendingReport& pending : batch)
                results_.push_back({pending.connection, stored, pending.id, pending.report.records.size(), error});
        }
        batch.clear();
        const std::uint64_t one = 1;
        if (write(eventFd_, &one, sizeof one) < 0) {
            // The counter is full: the loop has results to take anyway.
        }
    }
}

} // namespace agent
