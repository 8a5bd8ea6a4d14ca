#pragma once
// Tells the agent server how many bytes of which files the engine fetched
// for each job that ended, as the library's reporter does for the direct
// path: the same frame, the same answer, and the same promise. A report
// stays queued until the server answers it (nwAgentReportQueue); a
// connection that fails or ends before its answers is tried again after a
// growing delay, and the unanswered reports go out again on it.
//
// The reporter runs on a thread of its own, so the engine's loop never waits
// for the agent server. When the engine leaves, the reporter makes one more
// attempt at once and waits up to kDrainTimeout for its answers, then logs
// how many reports were not delivered.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "nw/nwAgentReportQueue.h"
#include "nw/nwAgentWire.h"

namespace engine {

class Job;

struct AgentSettings {
    std::string host;       // a name or a numeric address of either family
    std::uint16_t port = 0; // 0: reports are not sent (and not kept)
    nwAgentReportQueue::Delays delays;
};

// The agent server the library reports to: the build's QLS_AGENT_HOST and
// nwAgentServerPort().
AgentSettings DefaultAgentSettings();

class AgentReporter {
public:
    static constexpr std::chrono::seconds kConnectTimeout{5};
    static constexpr std::chrono::seconds kIdleTimeout{5};
    static constexpr std::chrono::seconds kDrainTimeout{2};

    explicit AgentReporter(AgentSettings settings);
    ~AgentReporter();
    AgentReporter(const AgentReporter&) = delete;
    AgentReporter& operator=(const AgentReporter&) = delete;

    // Queues the records (nothing for none) and wakes the thread.
    void Report(const std::vector<nwAgentReportRecord>& records);
    std::size_t GetPendingCount() const;

private:
    using Clock = std::chrono::steady_clock;

    void Run();
    // Starts a non-blocking connect to the server's next address; false
    // (and a retry is set) when none can be started.
    bool Connect(Clock::time_point now);
    // Ends the connection; with `failed`, what was in flight waits again.
    void Disconnect(bool failed, Clock::time_point now);
    void FillOutbox();
    // Reads what arrived; false when the connection is broken.
    bool Receive();
    bool Send();
    void Wake();

    const AgentSettings m_settings;
    int m_wakeFd = -1;
    // Shared with the engine's loop.
    mutable std::mutex m_mutex;
    nwAgentReportQueue m_queue;
    bool m_stopping = false;
    bool m_failedWhileStopping = false;
    bool m_quit = false;
    std::condition_variable m_drained;
    // The thread's own.
    int m_fd = -1;
    bool m_connecting = false;
    Clock::time_point m_deadline{}; // of the connect, or of the next answer
    Clock::time_point m_retryAt{};
    std::string m_outbox;
    std::string m_inbox;
    std::thread m_thread;
};

// The records of the job's files that brought bytes in this run, in the
// job's order.
std::vector<nwAgentReportRecord> MakeJobReport(const Job& job);

} // namespace engine
