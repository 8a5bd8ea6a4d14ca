// The agent server under faults, with the library's reporters as its
// clients: killed (SIGKILL) while fifty reporters report, a disk that is
// full, and a client that trickles bytes. Reports answered are stored, and
// every report is stored at least once in the end.

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "AgentFrames.h"
#include "AgentServerProcess.h"
#include "AgentTestClient.h"
#include "NpnWorker.h"
#include "PlatformReporter.h"
#include "PostgresCluster.h"
#include "TempDir.h"

namespace {

using testsupport::AgentServerProcess;
using testsupport::StoredRecord;

// Short delays: the reporters find a restarted server quickly.
constexpr nwAgentReportQueue::Delays kQuickRetries{50, 400};

std::string Url(size_t reporter, size_t report)
{
    return "http://files/reporter" + std::to_string(reporter) + "/report" + std::to_string(report);
}

// Reporters on the library's worker, each numbering its reports.
class Reporters {
public:
    Reporters(NpnWorker& worker, size_t count) : m_worker(worker), m_sent(count, 0)
    {
        m_worker.Run([&] {
            for (size_t i = 0; i < count; ++i)
                m_reporters.push_back(std::make_unique<CPlatformReporter>(kQuickRetries));
        });
    }
    ~Reporters()
    {
        m_worker.Run([&] { m_reporters.clear(); });
    }

    // `count` more reports from each reporter, one record each.
    void Report(size_t count)
    {
        m_worker.Run([&] {
            for (size_t i = 0; i < m_reporters.size(); ++i) {
                for (size_t n = 0; n < count; ++n, ++m_sent[i]) {
                    const nwAgentReportRecord record = agenttest::Record(Url(i, m_sent[i]), m_sent[i] + 1);
                    m_reporters[i]->Report(1, &record);
                }
            }
        });
    }

    // Per reporter, how many of its reports the server has answered: they
    // leave the queue in order, so those are its first ones.
    std::vector<size_t> Answered()
    {
        std::vector<size_t> answered;
        m_worker.Run([&] {
            for (size_t i = 0; i < m_reporters.size(); ++i)
                answered.push_back(m_sent[i] - m_reporters[i]->GetPendingCount());
        });
        return answered;
    }

    size_t Pending()
    {
        size_t pending = 0;
        m_worker.Run([&] {
            for (const auto& reporter : m_reporters)
                pending += reporter->GetPendingCount();
        });
        return pending;
    }

    bool WaitUntilDelivered(std::chrono::milliseconds timeout = std::chrono::seconds(60))
    {
        return m_worker.WaitUntil(
            [&] {
                for (const auto& reporter : m_reporters) {
                    if (reporter->GetPendingCount() > 0)
                        return false;
                }
                return true;
            },
            timeout);
    }

    const std::vector<size_t>& Sent() const { return m_sent; }

private:
    NpnWorker& m_worker;
    std::vector<std::unique_ptr<CPlatformReporter>> m_reporters;
    std::vector<size_t> m_sent;
};

// How often each URL is stored.
std::map<std::string, int> StoredCounts(const std::string& database)
{
    std::map<std::string, int> counts;
    for (const StoredRecord& record : testsupport::readAgentDatabase(database))
        ++counts[record.url];
    return counts;
}

void ExpectEveryReportStored(const std::string& database, const std::vector<size_t>& sent)
{
    const std::map<std::string, int> stored = StoredCounts(database);
    size_t duplicates = 0;
    for (size_t i = 0; i < sent.size(); ++i) {
        for (size_t n = 0; n < sent[i]; ++n) {
            const auto found = stored.find(Url(i, n));
            ASSERT_NE(found, stored.end()) << Url(i, n) << " never stored";
            duplicates += static_cast<size_t>(found->second - 1);
        }
    }
    ::testing::Test::RecordProperty("duplicates", static_cast<int>(duplicates));
}

class AgentFaultTest : public ::testing::Test {
protected:
    void UsePort(uint16_t port) { setenv(AGENT_PORT_VARIABLE, std::to_string(port).c_str(), 1); }
    void TearDown() override { unsetenv(AGENT_PORT_VARIABLE); }

    testsupport::TempDir dir{"meshdrop-agent-faults"};
};

class AgentKillTest : public AgentFaultTest,
                      public ::testing::WithParamInterface<const char*> {};

TEST_P(AgentKillTest, KilledWhileFiftyReportersReportEveryAnsweredReportIsStoredAndEveryReportInTheEnd)
{
    std::string database = dir.file("agent.db");
    if (std::string(GetParam()) == "postgresql") {
        testsupport::PostgresCluster* cluster = testsupport::PostgresCluster::shared();
        ASSERT_NE(cluster, nullptr) << testsupport::PostgresCluster::sharedError();
        database = cluster->newDatabase("killed");
        ASSERT_FALSE(database.empty()) << cluster->error();
    }
    AgentServerProcess server(database);
    ASSERT_TRUE(server.start()) << server.error();
    UsePort(server.port());
    NpnWorker worker;
    ASSERT_TRUE(worker.IsStarted());
    Reporters reporters(worker, 50);
    reporters.Report(40);
    ASSERT_TRUE(server.waitForLines(AgentServerProcess::kStored, 300));
    server.kill();

    // Answers that arrive after the kill were sent after their commit: the
    // count taken now can only be short of what is stored.
    const std::vector<size_t> answered = reporters.Answered();
    RecordProperty("pending_at_kill", static_cast<int>(reporters.Pending()));
    const std::map<std::string, int> stored = StoredCounts(database);
    for (size_t i = 0; i < answered.size(); ++i) {
        for (size_t n = 0; n < answered[i]; ++n)
            ASSERT_TRUE(stored.count(Url(i, n))) << Url(i, n) << " was answered but is not stored";
    }

    // Reports made while the server is down wait with the unanswered ones.
    reporters.Report(5);
    ASSERT_TRUE(server.start()) << server.error();
    ASSERT_TRUE(reporters.WaitUntilDelivered()) << reporters.Pending() << " reports not delivered";
    ExpectEveryReportStored(database, reporters.Sent());
}

INSTANTIATE_TEST_SUITE_P(Stores, AgentKillTest, ::testing::Values("sqlite", "postgresql"));

// Writes into `path` until the file system is full.
bool Fill(const std::string& path)
{
    std::ofstream out(path, std::ios::binary);
    const std::string chunk(64 * 1024, 'x');
    while (out.write(chunk.data(), static_cast<std::streamsize>(chunk.size())) && out.flush()) {}
    return std::ifstream(path).good();
}

std::string HealthAnswer(uint16_t port)
{
    AgentTestClient check(port);
    check.Send("GET / HTTP/1.0\r\n\r\n");
    const std::string answer = check.ReadToClose();
    return answer.substr(0, answer.find('\r'));
}

TEST_F(AgentFaultTest, AServerWhoseDiskIsFullAnswersNothingAndTheReportsArriveOnceThereIsRoom)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "mounting a small tmpfs for the database needs root";
    // The database on a 2 MiB tmpfs of the server's own mount namespace.
    AgentServerProcess server(dir.file("agent.db"), 0, {"--health-port", "0"});
    server.setWrapper({"/usr/bin/unshare", "--mount", "--propagation", "private", "/bin/sh", "-c",
                       "mount -t tmpfs -o size=2m tmpfs \"$0\" && exec \"$@\"", dir.path()});
    ASSERT_TRUE(server.start()) << server.error();
    UsePort(server.port());
    const std::string filler = "/proc/" + std::to_string(server.pid()) + "/root" + dir.file("filler");
    ASSERT_TRUE(Fill(filler));

    NpnWorker worker;
    ASSERT_TRUE(worker.IsStarted());
    Reporters reporters(worker, 3);
    reporters.Report(5);
    // Every attempt fails: the server closes the connections without an answer.
    ASSERT_TRUE(server.waitForLines(AgentServerProcess::kRejected, 6));
    EXPECT_EQ(server.countLines(AgentServerProcess::kStored), 0u);
    EXPECT_EQ(reporters.Pending(), 15u);
    EXPECT_EQ(HealthAnswer(server.healthPort()), "HTTP/1.0 503 Service Unavailable");

    ASSERT_EQ(std::remove(filler.c_str()), 0);
    ASSERT_TRUE(reporters.WaitUntilDelivered()) << reporters.Pending() << " reports not delivered";
    EXPECT_EQ(HealthAnswer(server.healthPort()), "HTTP/1.0 200 OK");
    // SQLite resolves the /proc link to this namespace's folder: read a copy.
    testsupport::TempDir copy("meshdrop-agent-copy");
    for (const char* file : {"agent.db", "agent.db-wal"}) {
        const std::string inside = "/proc/" + std::to_string(server.pid()) + "/root" + dir.file(file);
        ASSERT_TRUE(testsupport::writeFile(copy.file(file), testsupport::readFile(inside)));
    }
    ExpectEveryReportStored(copy.file("agent.db"), reporters.Sent());
}

TEST_F(AgentFaultTest, AClientTricklingBytesIsClosedTenSecondsAfterItsFirstWhileOthersAreServed)
{
    AgentServerProcess server(dir.file("agent.db"));
    ASSERT_TRUE(server.start()) << server.error();
    const std::string frame = agenttest::ReportFrame({agenttest::Record("http://files/slow", 1)});
    std::atomic<size_t> trickled{0};
    std::atomic<bool> closed{false};
    std::thread trickler([&] {
        AgentTestClient client(server.port());
        // One byte a second; a close by the server ends the wait at once.
        for (size_t i = 0; i < frame.size(); ++i) {
            if (!client.Send(frame.substr(i, 1)) || client.ClosedByServer(1000)) {
                closed = true;
                return;
            }
            ++trickled;
        }
    });
    // Served meanwhile, beside the trickle.
    AgentTestClient other(server.port());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(other.Report({agenttest::Record("http://files/fast" + std::to_string(i), 1)}), AGENT_ANSWER_STORED);
    trickler.join();
    EXPECT_TRUE(closed);
    EXPECT_LT(trickled, frame.size());
    EXPECT_TRUE(server.waitForLines("agent_server rejected peer=", 1));
    EXPECT_EQ(server.countLines(AgentServerProcess::kStored), 3u);
}

} // namespace
