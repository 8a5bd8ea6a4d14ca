#pragma once
// The agent server: accepts agent connections on one TCP port, reads report
// frames, stores each report in the store and answers it (type 131, answer 1)
// only once its transaction has committed. A connection that sends anything
// else, or stays silent for the idle time, is closed; a partial frame is
// dropped with it. One thread serves every connection with poll(), so
// reports are stored one at a time, in the order they complete.
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
#include <vector>

#include "AgentStore.h"

namespace agent {

struct ServerOptions {
    std::string address = "127.0.0.1";
    std::uint16_t port = 0; // 0: any free port
    int idleSeconds = 30;
    int maxConnections = 64;
};

class Server {
public:
    explicit Server(Store& store, std::FILE* events = stdout);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds and listens; false with the reason in GetError().
    bool Listen(const ServerOptions& options);
    std::uint16_t GetPort() const { return port_; }
    const std::string& GetError() const { return error_; }

    // Answers a peer may leave unread before it is dropped.
    static constexpr std::size_t kMaxOutbox = 64 * 1024;

    // Serves until Stop; answers false when polling failed.
    bool Run();
    // Ends Run from any thread, or from a signal handler.
    void Stop();

private:
    struct Connection {
        int fd = -1;
        std::string peer;
        FrameReader reader;
        std::string outbox; // answers the peer has not taken yet
        std::chrono::steady_clock::time_point lastActivity;
    };

    void Accept();
    // Reads what arrived; false when the connection is to be closed.
    bool Receive(Connection& connection);
    bool StoreReports(Connection& connection);
    bool Flush(Connection& connection);
    void Announce(const char* format, ...) __attribute__((format(printf, 2, 3)));

    Store& store_;
    std::FILE* events_;
    ServerOptions options_;
    int listener_ = -1;
    int wake_[2] = {-1, -1};
    std::uint16_t port_ = 0;
    std::string error_;
    std::vector<std::unique_ptr<Connection>> connections_;
};

} // namespace agent
