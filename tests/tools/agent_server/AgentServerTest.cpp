// The agent server as a process of its own, against plain socket clients:
// frames it must refuse, many clients at once on either store, several
// servers on one PostgreSQL database, sums beyond 64 bits, the connection
// cap, the health port and IPv6.

#include <gtest/gtest.h>

#include <libpq-fe.h>

#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "AgentFrames.h"
#include "AgentServerProcess.h"
#include "AgentTestClient.h"
#include "PostgresCluster.h"
#include "TempDir.h"

namespace {

using testsupport::AgentServerProcess;
using testsupport::PostgresCluster;
using testsupport::StoredRecord;

std::string Url(int client, int report, int file)
{
    return "http://files/c" + std::to_string(client) + "/r" + std::to_string(report) + "/f" + std::to_string(file);
}

// Report `report` of client `client`: 1 to 3 records with URLs of their own.
std::vector<nwAgentReportRecord> ClientReport(int client, int report)
{
    std::vector<nwAgentReportRecord> records;
    for (int file = 0; file <= report % 3; ++file)
        records.push_back(agenttest::Record(Url(client, report, file), client * 1000000ull + report * 10ull + file,
                                            "svc" + std::to_string(client)));
    return records;
}

// `clients` clients at once, each sending `reports` reports one after the
// other to the servers in turn; answers the reports answered per client.
std::vector<int> RunClients(const std::vector<uint16_t>& ports, int clients, int reports)
{
    std::vector<int> answered(static_cast<size_t>(clients), 0);
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            AgentTestClient client(ports[static_cast<size_t>(c) % ports.size()]);
            for (int r = 0; r < reports; ++r) {
                if (client.Report(ClientReport(c, r)) == AGENT_ANSWER_STORED)
                    ++answered[static_cast<size_t>(c)];
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    return answered;
}

// Every record of every report of RunClients stored once, with its report.
void ExpectStoredOnce(const std::string& database, int clients, int reports)
{
    std::map<std::string, StoredRecord> byUrl;
    std::set<int64_t> reportIds;
    for (const StoredRecord& record : testsupport::readAgentDatabase(database)) {
        EXPECT_TRUE(byUrl.emplace(record.url, record).second) << record.url << " stored twice";
        reportIds.insert(record.reportId);
    }
    EXPECT_EQ(reportIds.size(), static_cast<size_t>(clients * reports));
    size_t expected = 0;
    for (int c = 0; c < clients; ++c) {
        for (int r = 0; r < reports; ++r) {
            const std::vector<nwAgentReportRecord> records = ClientReport(c, r);
            for (const nwAgentReportRecord& record : records) {
                ++expected;
                const auto found = byUrl.find(record.url);
                ASSERT_NE(found, byUrl.end()) << record.url;
                EXPECT_EQ(found->second.bytes, static_cast<int64_t>(record.bytesWritten));
                EXPECT_EQ(found->second.serviceId, record.serviceId);
                EXPECT_EQ(found->second.reportId, byUrl[records[0].url].reportId) << "a report split";
            }
        }
    }
    EXPECT_EQ(byUrl.size(), expected);
}

// A database of the shared cluster, or a skip-free failure saying why not.
std::string PostgresDatabase(const std::string& prefix)
{
    PostgresCluster* cluster = PostgresCluster::shared();
    if (!cluster) {
        ADD_FAILURE() << "no PostgreSQL cluster: " << PostgresCluster::sharedError();
        return {};
    }
    std::string database = cluster->newDatabase(prefix);
    EXPECT_FALSE(database.empty()) << cluster->error();
    return database;
}

bool ExecuteSql(const std::string& database, const std::string& sql)
{
    PGconn* connection = PQconnectdb(database.c_str());
    PGresult* result = PQexec(connection, sql.c_str());
    const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
    PQclear(result);
    PQfinish(connection);
    return ok;
}

class AgentServerTest : public ::testing::Test {
protected:
    testsupport::TempDir dir{"meshdrop-agent-server"};
};

TEST_F(AgentServerTest, FramesItCannotTakeCloseTheConnectionAndStoreNothing)
{
    AgentServerProcess server(dir.file("agent.db"));
    ASSERT_TRUE(server.start()) << server.error();
    const std::string good = agenttest::ReportFrame({agenttest::Record("http://files/a", 10)});
    std::string overCount = good;
    overCount[nwFrameHeader::kSize] = 3; // three records announced, one sent
    std::string hugeLength = good.substr(0, nwFrameHeader::kSize);
    hugeLength.replace(10, 4, std::string("\0\0\x40\x06", 4)); // 100 MiB
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"another class", agenttest::Frame(0x0100, AGENT_MSG_REPORT, good.substr(nwFrameHeader::kSize))},
        {"another type", agenttest::Frame(AGENT_CLASS, AGENT_MSG_ANSWER, good.substr(nwFrameHeader::kSize))},
        {"count above the payload", overCount},
        {"100 MiB announced", hugeLength},
        {"bytes above 2^48", agenttest::ReportFrame({agenttest::Record("http://files/big", (1ull << 48) + 1)})},
        {"truncated", good.substr(0, good.size() / 2)},
    };
    size_t rejected = 0;
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        AgentTestClient client(server.port());
        ASSERT_TRUE(client.Connected());
        ASSERT_TRUE(client.Send(bytes));
        if (name == "truncated")
            client.ShutdownWrite();
        EXPECT_TRUE(client.ClosedByServer());
        EXPECT_TRUE(server.waitForLines(AgentServerProcess::kRejected, ++rejected));
    }
    EXPECT_TRUE(testsupport::readAgentDatabase(server.database()).empty());

    // A good report after them is stored and answered.
    AgentTestClient client(server.port());
    EXPECT_EQ(client.Report({agenttest::Record("http://files/a", 10)}), AGENT_ANSWER_STORED);
    const std::vector<StoredRecord> stored = testsupport::readAgentDatabase(server.database());
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].url, "http://files/a");
    EXPECT_EQ(stored[0].bytes, 10);
    EXPECT_EQ(stored[0].serviceId, "svc");
}

class AgentServerStoreTest : public AgentServerTest,
                             public ::testing::WithParamInterface<const char*> {};

TEST_P(AgentServerStoreTest, TwentyClientsSendingTwoHundredReportsHaveEveryRecordStoredOnce)
{
    const std::string database =
        std::string(GetParam()) == "postgresql" ? PostgresDatabase("twenty_clients") : dir.file("agent.db");
    ASSERT_FALSE(database.empty());
    AgentServerProcess server(database);
    ASSERT_TRUE(server.start()) << server.error();
    EXPECT_EQ(RunClients({server.port()}, 20, 10), std::vector<int>(20, 10));
    ExpectStoredOnce(database, 20, 10);
}

INSTANTIATE_TEST_SUITE_P(Stores, AgentServerStoreTest, ::testing::Values("sqlite", "postgresql"));

TEST_F(AgentServerTest, TwoServersShareOnePostgresDatabaseWhoseSchemaCarriesItsVersion)
{
    const std::string database = PostgresDatabase("two_servers");
    ASSERT_FALSE(database.empty());
    // Started together: both create the schema when missing.
    AgentServerProcess first(database);
    AgentServerProcess second(database);
    std::thread starting([&] { EXPECT_TRUE(second.start()) << second.error(); });
    ASSERT_TRUE(first.start()) << first.error();
    starting.join();
    EXPECT_EQ(RunClients({first.port(), second.port()}, 10, 6), std::vector<int>(10, 6));
    ExpectStoredOnce(database, 10, 6);
    EXPECT_GE(first.countLines(AgentServerProcess::kStored), 1u);
    EXPECT_GE(second.countLines(AgentServerProcess::kStored), 1u);
    uint64_t bytes = 0;
    for (int c = 0; c < 10; ++c) {
        for (int r = 0; r < 6; ++r) {
            for (const nwAgentReportRecord& record : ClientReport(c, r))
                bytes += record.bytesWritten;
        }
    }
    const std::string summary = testsupport::agentSummary(database);
    EXPECT_EQ(summary.substr(0, summary.find('\n')),
              "agent_server summary: 60 reports, 120 records, " + std::to_string(bytes) + " bytes");

    // A database of a newer layout is left alone.
    ASSERT_TRUE(ExecuteSql(database, "UPDATE agent_schema SET version = 2"));
    AgentServerProcess third(database);
    EXPECT_FALSE(third.start());
}

TEST_F(AgentServerTest, RecordsOfUpTo2Pow48BytesSumBeyond64BitsInTheSummary)
{
    AgentServerProcess server(dir.file("agent.db"));
    ASSERT_TRUE(server.start()) << server.error();
    const std::vector<nwAgentReportRecord> largest(AGENT_MAX_RECORDS,
                                                   agenttest::Record("http://files/huge", 1ull << 48));
    AgentTestClient client(server.port());
    for (int i = 0; i < 9; ++i)
        ASSERT_EQ(client.Report(largest), AGENT_ANSWER_STORED);
    // 9 x 4096 x 2^48 = 10376293541461622784, above 2^63.
    EXPECT_EQ(testsupport::agentSummary(server.database()),
              "agent_server summary: 9 reports, 36864 records, 10376293541461622784 bytes\n"
              "10376293541461622784 bytes  36864 records  http://files/huge\n");
}

TEST_F(AgentServerTest, AtTheConnectionCapTheConnectionIdleLongestMakesRoom)
{
    AgentServerProcess server(dir.file("agent.db"), 0, {"--max-connections", "2"});
    ASSERT_TRUE(server.start()) << server.error();
    AgentTestClient oldest(server.port());
    ASSERT_EQ(oldest.Report({agenttest::Record("http://files/1", 1)}), AGENT_ANSWER_STORED);
    AgentTestClient recent(server.port());
    ASSERT_EQ(recent.Report({agenttest::Record("http://files/2", 2)}), AGENT_ANSWER_STORED);

    AgentTestClient newcomer(server.port());
    EXPECT_EQ(newcomer.Report({agenttest::Record("http://files/3", 3)}), AGENT_ANSWER_STORED);
    EXPECT_TRUE(oldest.ClosedByServer());
    EXPECT_EQ(recent.Report({agenttest::Record("http://files/4", 4)}), AGENT_ANSWER_STORED);
    EXPECT_EQ(server.countLines(AgentServerProcess::kClosed), 1u);
}

TEST_F(AgentServerTest, TheHealthPortAnswersOkWhileTheStoreCommits)
{
    AgentServerProcess server(dir.file("agent.db"), 0, {"--health-port", "0"});
    ASSERT_TRUE(server.start()) << server.error();
    ASSERT_NE(server.healthPort(), 0);
    AgentTestClient check(server.healthPort());
    ASSERT_TRUE(check.Send("GET /healthz HTTP/1.0\r\n\r\n"));
    const std::string answer = check.ReadToClose();
    EXPECT_EQ(answer.substr(0, 15), "HTTP/1.0 200 OK");
    EXPECT_NE(answer.find("\r\n\r\nok\n"), std::string::npos) << answer;
}

TEST_F(AgentServerTest, ServesOverIPv6)
{
    AgentServerProcess server(dir.file("agent.db"), 0, {"--address", "::1"});
    if (!server.start())
        GTEST_SKIP() << "no IPv6 loopback here: " << server.error();
    AgentTestClient client(server.port(), "::1");
    ASSERT_TRUE(client.Connected());
    EXPECT_EQ(client.Report({agenttest::Record("http://[::1]/a", 6)}), AGENT_ANSWER_STORED);
    const std::vector<StoredRecord> stored = testsupport::readAgentDatabase(server.database());
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].peer.rfind("[::1]:", 0), 0u) << stored[0].peer;
}

} // namespace
