#pragma once
// One job of a client: its files, the transfers that fetch them, and the
// notifications that report them. A job keeps up to 8 transfers going with
// the player's consent (one without, held to 393216 bytes per second in
// all), spread over its files in order and, within a large file, over
// segments and mirrors. It asks about partial files of an earlier run before
// it starts, reports progress once a second, reports each file once it is
// complete on disk under its name, and ends exactly once.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ControlConnection.h"
#include "CurlMulti.h"
#include "FileTask.h"
#include "Flusher.h"
#include "NetworkWatch.h"
#include "RateBudget.h"
#include "Transfer.h"

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

class Job : public TransferSink {
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
    void OnTransferDone(Transfer& transfer, CURLcode code, Clock::time_point now);
    // After the transfers moved: what their callbacks left to do, retries
    // that are due, new transfers for free connections.
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

    // TransferSink
    bool OnResponse(Transfer& transfer, const ResponseHead& head) override;
    std::size_t OnBody(Transfer& transfer, const char* data, std::size_t size) override;

private:
    void AskNext(Clock::time_point now);
    void StartRunning(Clock::time_point now);
    void Schedule(Clock::time_point now);
    bool AssignGaps(FileTask& file, int* slots, Clock::time_point now);
    bool Split(Clock::time_point now);
    Segment& AddSegment(FileTask& file, std::int64_t begin, std::int64_t end);
    void StartSegment(Segment& segment, Clock::time_point now);
    void StopTransfer(Segment& segment);
    void RemoveSegment(Segment& segment);
    void DropSegments(FileTask& file);
    void HandleFailure(Segment& segment, Clock::time_point now);
    bool MoveToNextMirror(Segment& segment);
    std::size_t ChooseMirror(FileTask& file);
    void FinishIfComplete(FileTask& file);
    void FailLocal(const FileTask& file, int error);
    void Fail(const std::string& text, const nwCDNTail& tail);
    void End(std::uint32_t result);
    void EnterDiskFull();
    void SaveStates(bool all);
    void SendProgress(Clock::time_point now);
    void Send(const std::vector<std::uint8_t>& frame);
    int SegmentCount() const;
    std::uint64_t TotalSize() const;
    std::uint64_t DoneSize() const;

    JobServices m_services;
    ControlConnection* m_client;
    JobSettings m_settings;
    std::vector<std::unique_ptr<FileTask>> m_files;
    State m_state = State::Asking;
    RateBudget m_budget;
    int m_maxConnections;
    std::uint8_t m_fileOption = 0;

    // The resume question.
    std::vector<std::size_t> m_partials;
    std::size_t m_asked = 0;
    bool m_answerForAll = false;
    bool m_resumeAll = false;

    // Left by transfer callbacks for Service.
    bool m_diskFull = false;
    std::uint64_t m_spaceNeeded = 0;
    const FileTask* m_localErrorFile = nullptr;
    int m_localError = 0;

    std::uint32_t m_filesCompleted = 0;
    Clock::time_point m_started{};
    Clock::time_point m_lastTick{};
    std::uint64_t m_intervalBytes = 0;
    std::uint32_t m_speed = 0;
};

} // namespace engine
