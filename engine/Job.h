#pragma once
// One job of a client: the glue between its files, the transfers that fetch
// them (SegmentTransfers), the flusher that makes them durable and the
// notifications that report them. The decisions are the units': AnswerJudge
// judges each answer, FailurePolicy decides what a failed try leads to,
// SegmentPlanner plans the ranges and mirrors, ProgressReport makes the
// figures. A job keeps up to 8
// transfers going with the player's consent (one without, held to 393216
// bytes per second in all). It asks about partial files of an earlier run
// before it starts, reports progress once a second from its first second on,
// reports each file once it is complete on disk under its name, and ends
// exactly once, right after a progress report with its final figures.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ControlConnection.h"
#include "CurlMulti.h"
#include "FailurePolicy.h"
#include "FileTask.h"
#include "Flusher.h"
#include "NetworkWatch.h"
#include "RateBudget.h"
#include "SegmentTransfers.h"

namespace engine {

inline constexpr int kMaxConnections = 8;
inline constexpr std::uint64_t kLimitedRate = 393216;

struct JobServices {
    CurlMulti& multi;
    Flusher& flusher;
    NetworkWatch& network;
};

struct JobSettings {
    std::uint32_t jobNumber = 0;
    std::uint32_t engineJobId = 0;
    bool fullSpeed = false;
    std::uint64_t rateLimit = 0; // bytes per second for the whole job, besides the mode's limit; 0: none
    std::string serviceId;
    std::string region;
    bool engineFlag = false;
};

class Job : private SegmentListener {
public:
    enum class State { Asking, Running, DiskFull, Ended };

    Job(JobServices services, ControlConnection* client, JobSettings settings, std::vector<FileOrder> files);
    ~Job();
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;

    // Sends 4, then asks about partial files (16) or starts.
    void Begin(Clock::time_point now);
    void OnResumeAnswer(bool resume, bool applyToAll, Clock::time_point now);
    // Ends the job with 6 and `result`: stopped by its client, or the client left.
    void Stop(std::uint32_t result);
    // After the transfers moved: retries that are due, new transfers for
    // free connections, files that are complete.
    void Service(Clock::time_point now);
    // Once a second: progress, stalled transfers, state files.
    void OnTick(Clock::time_point now);
    void OnFlushResult(const FlushResult& result);
    // Puts back what the rate earned and wakes paused transfers.
    void Refill(Clock::time_point now);
    bool HasPausedTransfers() const;
    // When the first retry that waits is due (far ahead when none waits).
    Clock::time_point NextRetry() const;
    void SetFileOption(std::uint8_t value);
    void SetEngineFlag();
    void DetachClient() { m_client = nullptr; }

    ControlConnection* Client() const { return m_client; }
    State GetState() const { return m_state; }
    bool IsEnded() const { return m_state == State::Ended; }
    // Ended, and every task of its files has run: the files may go to
    // another job without a late state file of this one landing on theirs.
    bool IsSettled() const { return IsEnded() && m_flushing == 0; }
    bool IsRunning() const { return m_state == State::Running; }
    std::uint32_t JobNumber() const { return m_settings.jobNumber; }
    std::uint32_t EngineJobId() const { return m_settings.engineJobId; }
    const std::string& ServiceId() const { return m_settings.serviceId; }
    const std::vector<std::unique_ptr<FileTask>>& Files() const { return m_files; }
    // The flusher's token of a file of a job.
    static std::uint64_t Token(std::uint32_t engineJobId, std::uint32_t index)
    {
        return (std::uint64_t{engineJobId} << 32) | index;
    }

private:
    // SegmentListener
    void OnSegmentComplete(Segment& segment, Clock::time_point now) override;
    void OnSegmentFailed(Segment& segment, const FailureReport& report, Clock::time_point now) override;

    void AskNext(Clock::time_point now);
    void StartRunning(Clock::time_point now);
    void Act(Segment& segment, const FailureReport& report, Clock::time_point now);
    void DropSegments(FileTask& file) { m_transfers.Drop(file); }
    FileTask& FileOf(const Segment& segment) const { return *m_files[segment.file]; }
    void FinishIfComplete(FileTask& file);
    void FailLocal(const FileTask& file, int error);
    void Fail(const std::string& text, const nwCDNTail& tail);
    void End(std::uint32_t result);
    void EnterDiskFull(std::uint64_t spaceNeeded);
    void SaveStates(bool all);
    void SendProgress(Clock::time_point now);
    void Send(const std::vector<std::uint8_t>& frame);
    void SubmitTask(FlushTask task);
    int SegmentCount() const;

    JobServices m_services;
    ControlConnection* m_client;
    JobSettings m_settings;
    std::vector<std::unique_ptr<FileTask>> m_files;
    std::vector<FileProgress*> m_progress; // the same files, as the units see them
    State m_state = State::Asking;
    RateBudget m_budget;
    SegmentTransfers m_transfers;
    int m_maxConnections;
    std::uint8_t m_fileOption = 0;

    // The resume question.
    std::vector<std::size_t> m_partials;
    std::size_t m_asked = 0;
    bool m_answerForAll = false;
    bool m_resumeAll = false;

    int m_flushing = 0; // tasks submitted whose result has not come back
    std::uint32_t m_filesCompleted = 0;
    std::uint32_t m_failedFile = CDN_NO_FILE;
    bool m_transferring = false; // since StartRunning
    Clock::time_point m_started{};
    Clock::time_point m_lastReport{};
    bool m_reported = false;
    std::uint32_t m_speed = 0;
};

} // namespace engine
