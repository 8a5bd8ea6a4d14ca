// Reports stored per second by the agent server, and the 95th percentile of
// the answer time, with 200 clients that each send 100 reports (3 records a
// report) one after the other on one connection, waiting for each answer: on
// SQLite, on PostgreSQL with one agent server, and with two agent servers on
// one PostgreSQL database (the clients split between them). Beside them,
// pgbench stores the same rows, one transaction per report, with 200 clients
// against the same cluster: what PostgreSQL itself takes without a server
// in front. The cluster keeps fsync on, as SQLite keeps full synchronisation.
//
// BENCH_SHORT=1: 50 clients x 20 reports.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <latch>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "AgentServerProcess.h"
#include "AgentTestClient.h"
#include "BenchFigures.h"
#include "PostgresCluster.h"
#include "TempDir.h"
#include "nw/nwAgentWire.h"

namespace {

using Clock = std::chrono::steady_clock;
using testsupport::AgentServerProcess;

constexpr int kRecordsPerReport = 3;

struct Load {
    int clients = 200;
    int reports = 100;
};

struct Result {
    bool ok = false;
    double reportsPerSecond = 0;
    double p95Ms = 0;
};

double Percentile95(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, values.size() * 95 / 100)];
}

// The clients against `ports` (client i on port i mod n), started together.
Result RunClients(const std::vector<uint16_t>& ports, const Load& load)
{
    std::vector<std::vector<double>> latencies(static_cast<size_t>(load.clients));
    std::atomic<int> failed{0};
    std::latch go(1);
    std::vector<std::thread> threads;
    for (int c = 0; c < load.clients; ++c) {
        threads.emplace_back([&, c] {
            AgentTestClient client(ports[static_cast<size_t>(c) % ports.size()]);
            go.wait();
            for (int r = 0; client.Connected() && r < load.reports; ++r) {
                std::vector<nwAgentReportRecord> records;
                for (int f = 0; f < kRecordsPerReport; ++f) {
                    records.push_back(nwMakeAgentRecord("bench",
                                                        "http://files.example/c" + std::to_string(c) + "/r" +
                                                            std::to_string(r) + "/f" + std::to_string(f),
                                                        1000000 + static_cast<std::uint64_t>(r)));
                }
                const auto start = Clock::now();
                if (client.Report(records) != AGENT_ANSWER_STORED) {
                    ++failed;
                    break;
                }
                latencies[static_cast<size_t>(c)].push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            }
            if (!client.Connected())
                ++failed;
        });
    }
    const auto start = Clock::now();
    go.count_down();
    for (std::thread& t : threads)
        t.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::vector<double> all;
    for (const auto& client : latencies)
        all.insert(all.end(), client.begin(), client.end());
    Result result;
    result.ok = failed == 0;
    result.reportsPerSecond = static_cast<double>(all.size()) / seconds;
    result.p95Ms = Percentile95(all);
    return result;
}

Result RunServers(const std::string& database, int servers, const Load& load)
{
    std::vector<std::unique_ptr<AgentServerProcess>> running;
    std::vector<uint16_t> ports;
    for (int i = 0; i < servers; ++i) {
        running.push_back(std::make_unique<AgentServerProcess>(database));
        if (!running.back()->start()) {
            std::fprintf(stderr, "agent_server: %s\n", running.back()->error().c_str());
            return {};
        }
        ports.push_back(running.back()->port());
    }
    return RunClients(ports, load);
}

// pgbench's latencies from its per-transaction logs (microseconds, third column).
std::vector<double> PgbenchLatencies(const std::string& folder)
{
    std::vector<double> latencies;
    DIR* dir = opendir(folder.c_str());
    while (dirent* entry = dir ? readdir(dir) : nullptr) {
        if (std::string(entry->d_name).rfind("pgbench_log.", 0) != 0)
            continue;
        std::ifstream in(folder + "/" + entry->d_name);
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            long long client = 0, transaction = 0, micros = 0;
            if (fields >> client >> transaction >> micros)
                latencies.push_back(static_cast<double>(micros) / 1000.0);
        }
    }
    if (dir)
        closedir(dir);
    return latencies;
}

Result RunPgbench(testsupport::PostgresCluster& cluster, const std::string& database, const Load& load)
{
    // The schema as the agent server makes it.
    {
        AgentServerProcess schema(database);
        if (!schema.start())
            return {};
    }
    testsupport::TempDir folder("meshdrop-bench-pgbench");
    std::string url = "\\x";
    for (const char c : std::string("http://files.example/pgbench/report/file"))
        url += "0123456789abcdef"[static_cast<unsigned char>(c) >> 4], url += "0123456789abcdef"[c & 15];
    std::ofstream(folder.file("report.sql"))
        << "WITH r AS (INSERT INTO reports (received_at, peer, record_count)"
           " VALUES (extract(epoch from now())::bigint, '127.0.0.1:1', "
        << kRecordsPerReport
        << ") RETURNING id) INSERT INTO records (report_id, service_id, url, bytes)"
           " SELECT r.id, '\\x62656e6368', '"
        << url << "', 1000000 FROM r, generate_series(1, " << kRecordsPerReport << ");\n";
    const std::string name = database.substr(database.rfind('/') + 1);
    const bench::Figures figures =
        bench::RunProgram({cluster.program("pgbench"), "-n", "-h", "127.0.0.1", "-p", std::to_string(cluster.port()),
                           "-U", "meshdrop", "-c", std::to_string(load.clients), "-j", "2", "-t",
                           std::to_string(load.reports), "-l", "-f", "report.sql", name},
                          folder.path());
    Result result;
    const std::vector<double> latencies = PgbenchLatencies(folder.path());
    result.ok = figures.ok && latencies.size() == static_cast<size_t>(load.clients * load.reports);
    result.reportsPerSecond = static_cast<double>(latencies.size()) / figures.seconds;
    result.p95Ms = Percentile95(latencies);
    return result;
}

void Print(const char* what, const Result& result)
{
    if (!result.ok) {
        std::printf("%-44s failed\n", what);
        return;
    }
    std::printf("%-44s %10.0f reports/s   p95 answer %7.2f ms\n", what, result.reportsPerSecond, result.p95Ms);
}

} // namespace

int main()
{
    Load load;
    if (const char* quick = std::getenv("BENCH_SHORT"); quick && *quick == '1')
        load = {50, 20};
    testsupport::PostgresCluster cluster;
    if (!cluster.start(true)) {
        std::fprintf(stderr, "bench_agent_server: no PostgreSQL cluster: %s\n", cluster.error().c_str());
        return 1;
    }
    testsupport::TempDir folder("meshdrop-bench-agent");
    std::printf("agent server: %d clients x %d reports of %d records, each answered before the next\n", load.clients,
                load.reports, kRecordsPerReport);
    const Result sqlite = RunServers(folder.file("agent.db"), 1, load);
    Print("SQLite, one agent server", sqlite);
    const Result one = RunServers(cluster.newDatabase("bench_one"), 1, load);
    Print("PostgreSQL, one agent server", one);
    const Result two = RunServers(cluster.newDatabase("bench_two"), 2, load);
    Print("PostgreSQL, two agent servers", two);
    const Result pgbench = RunPgbench(cluster, cluster.newDatabase("bench_pgbench"), load);
    Print("pgbench, the same rows, one commit each", pgbench);
    return sqlite.ok && one.ok && two.ok && pgbench.ok ? 0 : 1;
}
