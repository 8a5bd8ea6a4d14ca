#pragma once
// The real agent server (tools/agent_server) run by a test as a process of its
// own on 127.0.0.1, with the lines it prints collected so that a test can wait
// for a report to be stored; and a plain reader of its database (an SQLite
// file or a PostgreSQL URI).
#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

class AgentServerProcess {
public:
    // port 0: any free port (known once started); `arguments` are added to
    // the command line.
    explicit AgentServerProcess(std::string database, uint16_t port = 0, std::vector<std::string> arguments = {});
    ~AgentServerProcess();
    AgentServerProcess(const AgentServerProcess&) = delete;
    AgentServerProcess& operator=(const AgentServerProcess&) = delete;

    // Runs the program through `wrapper` (a command that ends by running its
    // last arguments, e.g. one that prepares a mount first) from the next start.
    void setWrapper(std::vector<std::string> wrapper) { wrapper_ = std::move(wrapper); }

    // Starts the program and waits for its ready line; false with a reason in
    // error(). A started server can be started again after kill() or stop().
    bool start();
    // SIGTERM, then waits for the process.
    void stop();
    // SIGKILL, then waits for the process: nothing is finished or flushed.
    void kill();

    uint16_t port() const { return port_; }
    // The health port, when started with --health-port.
    uint16_t healthPort() const { return healthPort_; }
    const std::string& database() const { return database_; }
    pid_t pid() const { return pid_; }
    const std::string& error() const { return error_; }

    // Waits until `count` lines starting with `prefix` have been printed in
    // all (since the object was made); false after the timeout.
    bool waitForLines(const std::string& prefix, size_t count,
                      std::chrono::milliseconds timeout = std::chrono::seconds(20));
    size_t countLines(const std::string& prefix) const;

    static constexpr const char* kStored = "agent_server stored ";
    static constexpr const char* kRejected = "agent_server rejected ";
    static constexpr const char* kClosed = "agent_server closed ";

private:
    void readLines(int fd);
    void reap();

    std::string database_;
    uint16_t port_;
    std::vector<std::string> arguments_;
    std::vector<std::string> wrapper_;
    uint16_t healthPort_ = 0;
    pid_t pid_ = -1;
    std::thread reader_;
    std::string error_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
    bool ready_ = false;
    bool ended_ = false;
};

// One stored record with its report's columns, as the database holds it.
struct StoredRecord {
    int64_t reportId = 0;
    std::string serviceId;
    std::string url;
    int64_t bytes = 0;
    int64_t receivedAt = 0;
    std::string peer;
};

// Every record of the database, by report and then by its place in the report.
std::vector<StoredRecord> readAgentDatabase(const std::string& database);
// What `agent_server --db DATABASE --summary` prints.
std::string agentSummary(const std::string& database);

} // namespace testsupport
