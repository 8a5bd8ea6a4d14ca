// The reports of downloaded bytes end to end: jobs run through the shared
// library's entry points against loopback file servers, and their reports
// reach the real agent server, which keeps them in its database (SQLite, or
// the PostgreSQL cluster the program shares).

#include "TestDriveC.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <win32_ext.h>

#include "AgentServerProcess.h"
#include "EntryPointFlow.h"
#include "MeshdropLib.h"
#include "NginxServer.h"
#include "PostgresCluster.h"
#include "ScriptedHttpServer.h"
#include "TempDir.h"
#include "TestClientWindow.h"

namespace {

using testsupport::AgentServerProcess;
using testsupport::HttpConnection;
using testsupport::ScriptedHttpServer;
using testsupport::StoredRecord;

constexpr const char* kFolder = "C:\\games\\reported\\";
constexpr const char* kServiceId = "joyvend_veilrune_tw";
constexpr int64_t kFileSize = 100000;

// Every file: the head of a kFileSize-byte answer and the first `sent` bytes
// of it (none when 0), then nothing more until the client goes.
ScriptedHttpServer::Handler StallAfter(size_t sent)
{
    return [sent](HttpConnection& c, int) {
        if (!c.readRequest())
            return;
        if (sent > 0)
            c.send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kFileSize) + "\r\n\r\n" +
                   std::string(sent, 'x'));
        c.waitForPeerClose();
    };
}

class AgentReportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        W32SetInternetConnectedForTesting(1);
        ASSERT_EQ(MeshdropLib_Initialize(window.Handle(), nullptr, nullptr), MESHDROPLIB_OK);
    }

    void TearDown() override
    {
        EXPECT_EQ(MeshdropLib_Finalize(), MESHDROPLIB_OK);
        W32SetInternetConnectedForTesting(-1);
        unsetenv(AGENT_PORT_VARIABLE_NAME);
    }

    // The agent server on `port` (any free one with 0), on `database` (an
    // SQLite file of the test's own by default); the library reports there.
    bool StartAgentServer(uint16_t port = 0, const std::string& database = {})
    {
        if (!server)
            server = std::make_unique<AgentServerProcess>(database.empty() ? dir.file("agent.db") : database, port);
        if (!server->start())
            return false;
        setenv(AGENT_PORT_VARIABLE_NAME, std::to_string(server->port()).c_str(), 1);
        return true;
    }

    MeshdropJobHandle StartJob(const std::vector<std::string>& urls, int64_t size = kFileSize)
    {
        MeshdropJobHandle job = 0;
        EXPECT_EQ(MeshdropLib_CreateJob(&job, "TW", kServiceId), MESHDROPLIB_OK);
        for (const std::string& url : urls) {
            const auto bits = static_cast<uint64_t>(size);
            EXPECT_EQ(MeshdropLib_AddFile(job, url.c_str(), kFolder, nullptr, static_cast<DWORD>(bits),
                                          static_cast<DWORD>(bits >> 32), 1),
                      MESHDROPLIB_OK);
        }
        EXPECT_EQ(MeshdropLib_StartJob(job, 1), MESHDROPLIB_OK);
        return job;
    }

    // Pumps progress events until the job has `bytes` done.
    bool PumpUntilDone(MeshdropJobHandle job, uint64_t bytes)
    {
        for (;;) {
            JobProgressInfo progress{};
            MeshdropLib_GetJobProgress(job, &progress);
            if (progress.doneSize >= bytes)
                return true;
            if (!window.PumpUntil(MESHDROPLIB_EVENT_JOB_PROGRESS, window.Count(MESHDROPLIB_EVENT_JOB_PROGRESS) + 1))
                return false;
        }
    }

    // A job of one file that has received `bytes`, then stopped.
    void StopAfter(const ScriptedHttpServer& files, const std::string& path, uint64_t bytes)
    {
        const MeshdropJobHandle job = StartJob({files.url(path)});
        ASSERT_TRUE(PumpUntilDone(job, bytes));
        EXPECT_EQ(MeshdropLib_StopJob(job), MESHDROPLIB_OK);
    }

    std::vector<StoredRecord> Stored(size_t reports)
    {
        EXPECT_TRUE(server->waitForLines(AgentServerProcess::kStored, reports));
        return testsupport::readAgentDatabase(server->database());
    }

    static constexpr const char* AGENT_PORT_VARIABLE_NAME = "MESHDROP_AGENT_PORT";

    testsupport::TempDir dir{"meshdrop-agent-report"};
    TestClientWindow window;
    std::unique_ptr<AgentServerProcess> server;
};

// The same rows in either store.
class AgentReportStoreTest : public AgentReportTest,
                             public ::testing::WithParamInterface<const char*> {};

TEST_P(AgentReportStoreTest, AJobOfThreeFilesGivesOneReportWithTheBytesOfEachFile)
{
    std::string database;
    if (std::string(GetParam()) == "postgresql") {
        testsupport::PostgresCluster* cluster = testsupport::PostgresCluster::shared();
        ASSERT_NE(cluster, nullptr) << testsupport::PostgresCluster::sharedError();
        database = cluster->newDatabase("direct_reports");
        ASSERT_FALSE(database.empty()) << cluster->error();
    }
    ASSERT_TRUE(StartAgentServer(0, database)) << server->error();
    testsupport::TempDir root("meshdrop-agent-files");
    const std::vector<std::pair<std::string, size_t>> files = {{"a.pak", 70000}, {"b.pak", 5}, {"c.pak", 123457}};
    for (const auto& [name, size] : files)
        ASSERT_TRUE(testsupport::writeFile(root.file(name), testsupport::patternBytes(size, 7)));
    testsupport::NginxServer nginx(root.path());
    ASSERT_TRUE(nginx.start()) << nginx.error();

    MeshdropJobHandle job = 0;
    ASSERT_EQ(MeshdropLib_CreateJob(&job, "TW", kServiceId), MESHDROPLIB_OK);
    for (const auto& file : files)
        ASSERT_EQ(
            MeshdropLib_AddFile(job, nginx.url("/" + file.first).c_str(), kFolder, nullptr, 0xFFFFFFFF, 0xFFFFFFFF, 1),
            MESHDROPLIB_OK);
    ASSERT_EQ(MeshdropLib_StartJob(job, 1), MESHDROPLIB_OK);
    ASSERT_TRUE(window.PumpUntil(MESHDROPLIB_EVENT_JOB_FINISHED));

    const std::vector<StoredRecord> stored = Stored(1);
    ASSERT_EQ(stored.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(stored[i].reportId, stored[0].reportId);
        EXPECT_EQ(stored[i].serviceId, kServiceId);
        EXPECT_EQ(stored[i].url, nginx.url("/" + files[i].first));
        EXPECT_EQ(stored[i].bytes, static_cast<int64_t>(files[i].second));
        EXPECT_EQ(stored[i].peer.rfind("127.0.0.1:", 0), 0u);
    }
    EXPECT_EQ(server->countLines(AgentServerProcess::kStored), 1u);
}

INSTANTIATE_TEST_SUITE_P(Stores, AgentReportStoreTest, ::testing::Values("sqlite", "postgresql"));

TEST_F(AgentReportTest, AStoppedJobReportsTheBytesWrittenSoFarAndAJobWithoutBytesNothing)
{
    ASSERT_TRUE(StartAgentServer());
    ScriptedHttpServer nothing(StallAfter(0));
    const MeshdropJobHandle idle = StartJob({nothing.url("/idle.pak")});
    ASSERT_TRUE(nothing.waitForConnections(1));
    EXPECT_EQ(MeshdropLib_StopJob(idle), MESHDROPLIB_OK);

    ScriptedHttpServer partial(StallAfter(30000));
    StopAfter(partial, "/half.pak", 30000);

    // Reports leave in order: had the first job reported, it would be first.
    const std::vector<StoredRecord> stored = Stored(1);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].url, partial.url("/half.pak"));
    EXPECT_EQ(stored[0].bytes, 30000);
}

TEST_F(AgentReportTest, TwoReportsMadeOneRightAfterTheOtherBothArriveOldestFirst)
{
    ASSERT_TRUE(StartAgentServer());
    ScriptedHttpServer files(StallAfter(1000));
    const MeshdropJobHandle first = StartJob({files.url("/first.pak")});
    const MeshdropJobHandle second = StartJob({files.url("/second.pak")});
    ASSERT_TRUE(PumpUntilDone(first, 1000));
    ASSERT_TRUE(PumpUntilDone(second, 1000));
    EXPECT_EQ(MeshdropLib_StopJob(first), MESHDROPLIB_OK);
    EXPECT_EQ(MeshdropLib_StopJob(second), MESHDROPLIB_OK);

    const std::vector<StoredRecord> stored = Stored(2);
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0].url, files.url("/first.pak"));
    EXPECT_EQ(stored[1].url, files.url("/second.pak"));
    EXPECT_LT(stored[0].reportId, stored[1].reportId);
}

TEST_F(AgentReportTest, AReportMadeWhileTheServerIsDownArrivesWithTheNextOne)
{
    const uint16_t port = ClosedLoopbackPort();
    setenv(AGENT_PORT_VARIABLE_NAME, std::to_string(port).c_str(), 1);
    ScriptedHttpServer files(StallAfter(2000));
    StopAfter(files, "/early.pak", 2000);

    ASSERT_TRUE(StartAgentServer(port)) << server->error();
    StopAfter(files, "/later.pak", 2000);

    const std::vector<StoredRecord> stored = Stored(2);
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0].url, files.url("/early.pak"));
    EXPECT_EQ(stored[1].url, files.url("/later.pak"));
}

TEST_F(AgentReportTest, AJobFinalisedRightAfterItsEndIsReportedBeforeFinalisingReturns)
{
    ASSERT_TRUE(StartAgentServer());
    testsupport::TempDir root("meshdrop-agent-files");
    ASSERT_TRUE(testsupport::writeFile(root.file("one.pak"), testsupport::patternBytes(4321, 3)));
    testsupport::NginxServer nginx(root.path());
    ASSERT_TRUE(nginx.start()) << nginx.error();
    const MeshdropJobHandle job = StartJob({nginx.url("/one.pak")}, 4321);
    ASSERT_TRUE(window.PumpUntil(MESHDROPLIB_EVENT_JOB_FINISHED));
    (void)job;
    ASSERT_EQ(MeshdropLib_Finalize(), MESHDROPLIB_OK);
    // Answered, so committed: no waiting for the server's line.
    const std::vector<StoredRecord> stored = testsupport::readAgentDatabase(server->database());
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].bytes, 4321);
}

TEST_F(AgentReportTest, FinalisingWithReportsQueuedForAServerThatIsDown)
{
    setenv(AGENT_PORT_VARIABLE_NAME, std::to_string(ClosedLoopbackPort()).c_str(), 1);
    ScriptedHttpServer files(StallAfter(500));
    StopAfter(files, "/one.pak", 500);
    StopAfter(files, "/two.pak", 500);
    // TearDown finalises the library with both reports still queued.
}

} // namespace
