#include "AgentServerProcess.h"

#include <fcntl.h>
#include <libpq-fe.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

extern char** environ;

namespace testsupport {

AgentServerProcess::AgentServerProcess(std::string database, uint16_t port, std::vector<std::string> arguments)
    : database_(std::move(database)), port_(port), arguments_(std::move(arguments))
{}

AgentServerProcess::~AgentServerProcess()
{
    stop();
}

bool AgentServerProcess::start()
{
    int pipeFds[2];
    // Close-on-exec: a server started next must not hold this one's pipe.
    if (pid_ > 0 || pipe2(pipeFds, O_CLOEXEC) != 0) {
        error_ = "already running, or no pipe";
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    const std::string port = std::to_string(port_);
    std::vector<std::string> args = wrapper_;
    for (const std::string& arg :
         {std::string(AGENT_SERVER_PROGRAM), std::string("--db"), database_, std::string("--port"), port})
        args.push_back(arg);
    args.insert(args.end(), arguments_.begin(), arguments_.end());
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const int spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (spawned != 0) {
        close(pipeFds[0]);
        pid_ = -1;
        error_ = "cannot start " + std::string(AGENT_SERVER_PROGRAM);
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ready_ = false;
        ended_ = false;
    }
    reader_ = std::thread(&AgentServerProcess::readLines, this, pipeFds[0]);
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(20), [&] { return ready_ || ended_; });
    if (!ready_) {
        error_ = "agent_server did not become ready";
        lock.unlock();
        kill();
        return false;
    }
    return true;
}

void AgentServerProcess::readLines(int fd)
{
    std::string pending;
    char buffer[4096];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0) {
        pending.append(buffer, static_cast<size_t>(got));
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            std::lock_guard<std::mutex> lock(mutex_);
            const std::string ready = "agent_server ready port=";
            if (line.rfind(ready, 0) == 0) {
                port_ = static_cast<uint16_t>(std::stoi(line.substr(ready.size())));
                const size_t health = line.find(" health=");
                if (health != std::string::npos)
                    healthPort_ = static_cast<uint16_t>(std::stoi(line.substr(health + 8)));
                ready_ = true;
            }
            lines_.push_back(line);
            changed_.notify_all();
        }
    }
    close(fd);
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
    changed_.notify_all();
}

void AgentServerProcess::reap()
{
    if (pid_ > 0) {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
    }
    if (reader_.joinable())
        reader_.join();
}

void AgentServerProcess::stop()
{
    if (pid_ > 0)
        ::kill(pid_, SIGTERM);
    reap();
}

void AgentServerProcess::kill()
{
    if (pid_ > 0)
        ::kill(pid_, SIGKILL);
    reap();
}

size_t AgentServerProcess::countLines(const std::string& prefix) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<size_t>(std::count_if(lines_.begin(), lines_.end(),
                                             [&](const std::string& line) { return line.rfind(prefix, 0) == 0; }));
}

bool AgentServerProcess::waitForLines(const std::string& prefix, size_t count, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        return static_cast<size_t>(std::count_if(lines_.begin(), lines_.end(), [&](const std::string& line) {
                   return line.rfind(prefix, 0) == 0;
               })) >= count;
    });
}

namespace {

constexpr const char* kRecordsQuery = "SELECT r.id, c.service_id, c.url, c.bytes, r.received_at, r.peer"
                                      " FROM records c JOIN reports r ON r.id = c.report_id ORDER BY r.id, c.id";

std::vector<StoredRecord> readSqlite(const std::string& database)
{
    std::vector<StoredRecord> records;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(db, 5000);
        sqlite3_stmt* query = nullptr;
        sqlite3_prepare_v2(db, kRecordsQuery, -1, &query, nullptr);
        while (query && sqlite3_step(query) == SQLITE_ROW) {
            auto text = [&](int column) {
                const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(query, column));
                return std::string(value ? value : "");
            };
            records.push_back({sqlite3_column_int64(query, 0), text(1), text(2), sqlite3_column_int64(query, 3),
                               sqlite3_column_int64(query, 4), text(5)});
        }
        sqlite3_finalize(query);
    }
    sqlite3_close(db);
    return records;
}

// The byte columns (bytea there) come back as text: the tests' values are ASCII.
std::vector<StoredRecord> readPostgres(const std::string& database)
{
    std::vector<StoredRecord> records;
    PGconn* connection = PQconnectdb(database.c_str());
    PGresult* result = PQexec(connection, "SELECT r.id, encode(c.service_id, 'escape'), encode(c.url, 'escape'),"
                                          " c.bytes, r.received_at, r.peer"
                                          " FROM records c JOIN reports r ON r.id = c.report_id ORDER BY r.id, c.id");
    if (PQresultStatus(result) == PGRES_TUPLES_OK) {
        for (int row = 0; row < PQntuples(result); ++row) {
            auto number = [&](int column) { return std::stoll(PQgetvalue(result, row, column)); };
            records.push_back({number(0), PQgetvalue(result, row, 1), PQgetvalue(result, row, 2), number(3), number(4),
                               PQgetvalue(result, row, 5)});
        }
    }
    PQclear(result);
    PQfinish(connection);
    return records;
}

} // namespace

std::string agentSummary(const std::string& database)
{
    const std::string command = std::string(AGENT_SERVER_PROGRAM) + " --summary --db '" + database + "'";
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            output.append(buffer, got);
        pclose(pipe);
    }
    return output;
}

std::vector<StoredRecord> readAgentDatabase(const std::string& database)
{
    return database.rfind("postgresql://", 0) == 0 ? readPostgres(database) : readSqlite(database);
}

} // namespace testsupport
