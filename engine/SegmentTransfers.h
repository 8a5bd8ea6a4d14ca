#pragma once
// The transfers of a job's segments through libcurl. It starts a segment's
// request on its mirror (with If-Range and that mirror's validator), has the
// AnswerJudge judge each answer and applies what the answer teaches (the
// file's size, the mirror's validator and address), writes the body at the
// segment's place within the job's rate budget, and tells the job how each
// transfer ended: the segment complete, or a failure report for the
// FailurePolicy.

#include <memory>
#include <vector>

#include "CurlMulti.h"
#include "FileTask.h"
#include "NetworkWatch.h"
#include "RateBudget.h"
#include "Transfer.h"

namespace engine {

// Held to a rate, a transfer takes small writes: the budget has room only for
// a whole write, so the smaller the write, the closer a job runs to its rate.
inline constexpr long kLimitedBuffer = 8 * 1024;

class SegmentListener {
public:
    virtual void OnSegmentComplete(Segment& segment, Clock::time_point now) = 0;
    virtual void OnSegmentFailed(Segment& segment, const FailureReport& report, Clock::time_point now) = 0;

protected:
    ~SegmentListener() = default;
};

struct TransferServices {
    CurlMulti& multi;
    NetworkWatch& network;
};

class SegmentTransfers : public TransferSink {
public:
    SegmentTransfers(TransferServices services, RateBudget& budget, std::vector<std::unique_ptr<FileTask>>& files,
                     SegmentListener& listener);
    ~SegmentTransfers();
    SegmentTransfers(const SegmentTransfers&) = delete;
    SegmentTransfers& operator=(const SegmentTransfers&) = delete;

    // Starts the segment's next attempt. False with errno when the part file
    // cannot be opened; a transfer libcurl cannot take is retried in a second.
    bool Start(Segment& segment, Clock::time_point now, int* error);
    void Stop(Segment& segment);
    // Stops the transfers of a file and forgets its segments.
    void Drop(FileTask& file);
    // Wakes the transfers paused by the rate budget while it has room.
    void Wake();

    // TransferSink
    bool OnResponse(Transfer& transfer, const ResponseHead& head) override;
    std::size_t OnBody(Transfer& transfer, const char* data, std::size_t size) override;
    void OnDone(Transfer& transfer, CURLcode code, Clock::time_point now) override;

private:
    FileTask& FileOf(const Segment& segment) const { return *m_files[segment.file]; }

    TransferServices m_services;
    RateBudget& m_budget;
    std::vector<std::unique_ptr<FileTask>>& m_files;
    SegmentListener& m_listener;
    std::vector<std::unique_ptr<Transfer>> m_transfers;
};

} // namespace engine
