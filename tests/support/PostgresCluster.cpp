#include "PostgresCluster.h"

#include <fcntl.h>
#include <libpq-fe.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "LoopbackPort.h"
#include "TempDir.h"

extern char** environ;

namespace testsupport {

namespace {

constexpr uid_t kUnprivileged = 65534;

std::string g_sharedError;

// Debian keeps the server programs by major version: the newest there.
std::string ServerPrograms()
{
    std::string newest;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", ignored)) {
        const std::string folder = entry.path().string() + "/bin/";
        if (std::filesystem::exists(folder + "initdb") && (newest.empty() || folder > newest))
            newest = folder;
    }
    return newest.empty() ? "/usr/lib/postgresql/15/bin/" : newest;
}

} // namespace

std::string PostgresCluster::program(const std::string& name)
{
    static const std::string programs = ServerPrograms();
    return programs + name;
}

PostgresCluster::~PostgresCluster()
{
    stop();
}

int PostgresCluster::run(const std::string& program, const std::vector<std::string>& arguments) const
{
    std::vector<std::string> command;
    if (geteuid() == 0)
        command = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    command.push_back(PostgresCluster::program(program));
    command.insert(command.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : command)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const std::string log = folder_ + "/tools.log";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The server programs complain about a working folder they cannot enter.
    posix_spawn_file_actions_addchdir_np(&actions, folder_.c_str());
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (spawned != 0 || waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool PostgresCluster::start(bool durable)
{
    char pattern[] = "/tmp/meshdrop-postgres-XXXXXX";
    if (!mkdtemp(pattern)) {
        error_ = "no temporary folder";
        return false;
    }
    folder_ = pattern;
    owned_ = true;
    if (geteuid() == 0 && chown(folder_.c_str(), kUnprivileged, kUnprivileged) != 0) {
        error_ = "cannot hand " + folder_ + " to user 65534";
        return false;
    }
    if (run("initdb", {"-D", folder_ + "/data", "-U", "meshdrop", "-A", "trust", "-E", "UTF8", "--no-sync"}) != 0) {
        error_ = "initdb failed: " + readFile(folder_ + "/tools.log");
        return false;
    }
    std::string settings = "-c listen_addresses=127.0.0.1 -k " + folder_ + " -c max_connections=300";
    if (!durable)
        settings += " -c fsync=off -c full_page_writes=off";
    // A port picked free may be taken before the server binds it: try again.
    for (int attempt = 0; attempt < 5; ++attempt) {
        port_ = freeLoopbackPort();
        const std::string options = settings + " -p " + std::to_string(port_);
        if (run("pg_ctl", {"-D", folder_ + "/data", "-l", folder_ + "/server.log", "-w", "-t", "60", "-o", options,
                           "start"}) == 0)
            return true;
    }
    error_ = "pg_ctl start failed: " + readFile(folder_ + "/server.log");
    return false;
}

void PostgresCluster::stop()
{
    if (!owned_ || folder_.empty())
        return;
    if (std::filesystem::exists(folder_ + "/data/postmaster.pid"))
        run("pg_ctl", {"-D", folder_ + "/data", "-m", "immediate", "-w", "stop"});
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
    folder_.clear();
    owned_ = false;
}

bool PostgresCluster::saveState(const std::string& stateFile) const
{
    return writeFile(stateFile, folder_ + "\n" + std::to_string(port_) + "\n");
}

bool PostgresCluster::adopt(const std::string& stateFile, bool own)
{
    std::ifstream in(stateFile);
    std::string port;
    if (!std::getline(in, folder_) || !std::getline(in, port) || folder_.empty()) {
        error_ = "no cluster described in " + stateFile;
        return false;
    }
    port_ = static_cast<uint16_t>(std::atoi(port.c_str()));
    owned_ = own;
    return true;
}

std::string PostgresCluster::uri(const std::string& database) const
{
    return "postgresql://meshdrop@127.0.0.1:" + std::to_string(port_) + "/" + database;
}

std::string PostgresCluster::newDatabase(const std::string& prefix)
{
    static std::atomic<int> counter{0};
    const std::string name = prefix + "_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
    PGconn* connection = PQconnectdb(uri().c_str());
    PGresult* result = PQexec(connection, ("CREATE DATABASE " + name).c_str());
    const bool created = PQresultStatus(result) == PGRES_COMMAND_OK;
    if (!created)
        error_ = std::string("CREATE DATABASE failed: ") + PQerrorMessage(connection);
    PQclear(result);
    PQfinish(connection);
    return created ? uri(name) : std::string();
}

PostgresCluster* PostgresCluster::shared()
{
    static const std::unique_ptr<PostgresCluster> cluster = [] {
        auto made = std::make_unique<PostgresCluster>();
        const char* state = std::getenv("MESHDROP_TEST_POSTGRES");
        const bool ready = state && *state ? made->adopt(state) : made->start();
        if (!ready) {
            g_sharedError = made->error();
            made.reset();
        }
        return made;
    }();
    return cluster.get();
}

const std::string& PostgresCluster::sharedError()
{
    return g_sharedError;
}

} // namespace testsupport
