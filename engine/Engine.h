#pragma once
// The engine program's loop: one thread that waits on the listening socket,
// its clients, the signals, the flusher and every transfer at once (through
// the libcurl multi handle), turns the clients' requests into jobs and runs
// the jobs' timers.

#include <chrono>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "AgentReporter.h"
#include "ControlConnection.h"
#include "CurlMulti.h"
#include "Flusher.h"
#include "Job.h"
#include "JobCheck.h"
#include "NetworkWatch.h"

namespace engine {

// At most this many clients at once; more are closed as they connect.
inline constexpr std::size_t kMaxClients = 16;
// At most this many jobs run at once; more are refused (11).
inline constexpr std::size_t kMaxRunningJobs = 64;

struct EngineOptions {
    std::uint16_t port = CDN_ENGINE_DEFAULT_PORT;
    int readyFd = -1;     // closed once the engine listens
    int idleSeconds = 60; // leave this long after the last client left with no job running
};

class Engine {
public:
    enum class ListenResult { Listening, Taken, Failed };

    explicit Engine(EngineOptions options);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Binds 127.0.0.1:port and closes the readiness descriptor.
    ListenResult Listen();
    // Runs until SIGTERM or SIGINT, or until idle long enough; stops every
    // job with its state saved. The signals must be blocked in every thread
    // (the caller blocks them before the engine starts its threads).
    void Run();

private:
    int WaitTimeout(Clock::time_point now) const;
    void AcceptClients(Clock::time_point now);
    // False when the client is to be closed.
    bool ServeClient(ControlConnection& connection, Clock::time_point now);
    void HandleCommand(ControlConnection& connection, Command& command, Clock::time_point now);
    void Assemble(ControlConnection& connection, Command& command, Clock::time_point now);
    void SubmitJob(ControlConnection& connection, SubmittedJob job, Clock::time_point now);
    void Refuse(ControlConnection& connection, std::uint32_t jobNumber, const JobRefusal& refusal);
    Job* FindJob(const ControlConnection& connection, std::uint32_t jobNumber, std::uint32_t engineJobId);
    void CloseClient(ControlConnection& connection, Clock::time_point now);
    void Tick(Clock::time_point now);
    void ReapJobs(Clock::time_point now);
    void StopAll();

    EngineOptions m_options;
    int m_listenFd = -1;
    int m_signalFd = -1;
    bool m_quit = false;
    CurlMulti m_multi;
    Flusher m_flusher;
    NetworkWatch m_network;
    std::vector<std::unique_ptr<ControlConnection>> m_clients;
    std::vector<std::unique_ptr<Job>> m_jobs;
    // Files written by running jobs (FileKey), with the job writing each.
    std::set<std::string> m_busyFiles;
    std::vector<std::pair<const Job*, std::vector<std::string>>> m_jobFiles;
    std::uint32_t m_nextEngineJobId = 1;
    std::uint64_t m_nextClientId = 1;
    Clock::time_point m_lastTick;
    Clock::time_point m_idleSince;
    AgentReporter m_reporter{DefaultAgentSettings()}; // of the bytes each ended job fetched
};

} // namespace engine
