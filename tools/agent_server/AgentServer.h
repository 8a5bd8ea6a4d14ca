#pragma once
// The agent server: accepts agent connections on one TCP port (IPv4 or IPv6),
// reads report frames, hands each report to the store's writer thread and
// answers it (type 131, answer 1) only once its transaction has committed.
// Answers on a connection keep the order of its reports. One thread serves
// every connection with poll(); the store never holds it up.
//
// A connection is closed when it sends anything but report frames, when a
// frame is not complete 10 s after its first byte, when it stays idle for
// the idle time, or when a transaction holding one of its reports fails
// (the client then sends them again). At the connection cap, the connection
// idle the longest makes room for a new one.
//
// A second port, when asked for, answers load-balancer checks: an HTTP/1.0
// answer "200 OK" while the last transaction committed, "503 Service
// Unavailable" with the store's error otherwise.
//
// Each stored or refused report is announced on the event stream as one line:
//   "agent_server stored report=ID records=N peer=ADDRESS:PORT"
//   "agent_server rejected peer=ADDRESS:PORT reason=TEXT"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "AgentFrameReader.h"
#include "StoreWriter.h"

namespace agent {

struct ServerOptions {
    std::string address = "127.0.0.1"; // numeric, either family
    std::uint16_t port = 0;            // 0: any free port
    int idleSeconds = 30;
    int maxConnections = 512;
    bool health = false;
    std::uint16_t healthPort = 0; // 0: any free port
};

class Server {
public:
    using Clock = std::chrono::steady_clock;

    // The time a frame has from its first byte to its last.
    static constexpr std::chrono::seconds kFrameDeadline{10};
    // Answers a peer may leave unread before it is dropped.
    static constexpr std::size_t kMaxOutbox = 64 * 1024;
    // Reports of one connection waiting for the store before it is read again.
    static constexpr std::size_t kMaxPendingReports = 64;
    // Records of all connections waiting for the store before any is read again.
    static constexpr std::size_t kMaxPendingRecords = 256 * 1024;

    Server(Store& store, std::FILE* events = stdout);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds and listens; false with the reason in GetError().
    bool Listen(const ServerOptions& options);
    std::uint16_t GetPort() const { return port_; }
    std::uint16_t GetHealthPort() const { return healthPort_; }
    const std::string& GetError() const { return error_; }

    // Serves until Stop; answers false when polling failed.
    bool Run();
    // Ends Run from any thread, or from a signal handler.
    void Stop();

private:
    struct Connection {
        std::uint64_t id = 0;
        int fd = -1;
        std::string peer;
        FrameReader reader;
        std::string outbox; // answers the peer has not taken yet
        std::size_t pendingReports = 0;
        std::size_t pendingRecords = 0;
        Clock::time_point lastActivity;
        Clock::time_point frameStarted; // of the partial frame, when one is buffered
        bool IsIdle() const { return pendingReports == 0 && outbox.empty() && !reader.HasPartialFrame(); }
    };
    struct HealthCheck {
        int fd = -1;
        std::string outbox;
        std::size_t received = 0;
        Clock::time_point deadline;
    };

    void Accept(Clock::time_point now);
    void AcceptHealthChecks(Clock::time_point now);
    // Closes the connection idle the longest; false when none is idle.
    bool MakeRoom();
    // Reads what arrived; false when the connection is to be closed.
    bool Receive(Connection& connection, Clock::time_point now);
    bool SubmitReports(Connection& connection);
    bool Flush(Connection& connection);
    void TakeStoreResults();
    // Serves a health check; false once it is done.
    bool ServeHealthCheck(HealthCheck& check, short revents, Clock::time_point now);
    // The next time something is due, for poll's time-out.
    Clock::time_point NextDeadline() const;
    // False when the connection is past a deadline (and announced).
    bool WithinDeadlines(Connection& connection, Clock::time_point now);
    bool ReadsFrom(const Connection& connection) const;
    void Close(Connection& connection);
    void Announce(const char* format, ...) __attribute__((format(printf, 2, 3)));

    StoreWriter writer_;
    std::FILE* events_;
    ServerOptions options_;
    int listener_ = -1;
    int healthListener_ = -1;
    int wake_[2] = {-1, -1};
    std::uint16_t port_ = 0;
    std::uint16_t healthPort_ = 0;
    std::string error_;
    std::uint64_t nextId_ = 1;
    std::size_t pendingRecords_ = 0;
    std::vector<std::unique_ptr<Connection>> connections_;
    std::unordered_map<std::uint64_t, Connection*> byId_;
    std::vector<std::unique_ptr<HealthCheck>> healthChecks_;
};

} // namespace agent
