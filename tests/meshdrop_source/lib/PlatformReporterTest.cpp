// The platform reporter on the library's worker against a loopback peer in
// the agent server's place: the order reports leave in, when the connection
// closes, and what becomes of reports that cannot leave.

#include "TestDriveC.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "AgentFrames.h"
#include "LibraryLog.h"
#include "LoopbackPeer.h"
#include "NpnWorker.h"
#include "PlatformReporter.h"
#include "cp/cpCHostCache.h"

namespace {

using agenttest::ReadFrame;

std::atomic<bool> g_resolvable{true};

// Every name is this machine while resolvable, nothing otherwise.
OVRESULT ResolveToLoopback(const char* /*name*/, std::vector<cpAddress>* addresses)
{
    if (!g_resolvable)
        return OVR_PLATFORM_FAIL;
    addresses->push_back(htonl(INADDR_LOOPBACK));
    return OVR_PLATFORM_OK;
}

class PlatformReporterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(worker.IsStarted());
        m_log = LibraryLog::Prepare();
        g_resolvable = true;
        worker.Run([&] {
            cpCHostCache::GetInstance().SetResolver(&ResolveToLoopback);
            reporter = std::make_unique<CPlatformReporter>();
        });
    }

    void TearDown() override
    {
        worker.Run([&] {
            reporter.reset();
            cpCHostCache::GetInstance().SetResolver(nullptr);
            cpCHostCache::GetInstance().Clear();
        });
        unsetenv(AGENT_PORT_VARIABLE);
    }

    static void UsePort(std::uint16_t port) { setenv(AGENT_PORT_VARIABLE, std::to_string(port).c_str(), 1); }

    void Report(const std::vector<nwAgentReportRecord>& records)
    {
        worker.Run([&] { reporter->Report(static_cast<std::uint32_t>(records.size()), records.data()); });
    }

    size_t Queued()
    {
        return worker.Call([&] { return reporter->GetQueuedCount(); });
    }

    bool WaitUntilDisconnected()
    {
        return worker.WaitUntil([&] { return !reporter->HasConnection(); });
    }

    size_t LogCount(const std::string& message) const
    {
        const auto lines = LibraryLog::Messages(m_log);
        return static_cast<size_t>(std::count(lines.begin(), lines.end(), message));
    }

    NpnWorker worker;
    std::unique_ptr<CPlatformReporter> reporter;
    std::string m_log;
};

std::vector<nwAgentReportRecord> Named(const std::string& prefix, size_t count)
{
    std::vector<nwAgentReportRecord> records;
    for (size_t i = 0; i < count; ++i)
        records.push_back(agenttest::Record(prefix + std::to_string(i), i + 1));
    return records;
}

TEST_F(PlatformReporterTest, ReportsLeaveOldestFirstAndOnlyTheLastAnswerClosesTheConnection)
{
    LoopbackPeer peer;
    UsePort(peer.Port());
    // Far more than the socket can buffer, in reports of the largest size the
    // server takes: most of it is still queued when the first answer comes.
    const std::vector<nwAgentReportRecord> large = Named("large/", 12 * AGENT_MAX_RECORDS);
    worker.Run([&] {
        const nwAgentReportRecord first = agenttest::Record("first", 5);
        reporter->Report(1, &first);
        reporter->Report(static_cast<std::uint32_t>(large.size()), large.data());
    });
    ASSERT_TRUE(peer.Accept());
    // An answer before anything was read: the report it is for has left, the
    // rest has not.
    ASSERT_TRUE(peer.SendAll(agenttest::AnswerFrame(AGENT_ANSWER_STORED)));
    ReadFrame frame;
    ASSERT_TRUE(agenttest::ReadOneFrame(peer, &frame));
    EXPECT_EQ(frame.Urls(), std::vector<std::string>{"first"});
    for (uint32_t part = 0; part < 12; ++part) {
        ASSERT_TRUE(agenttest::ReadOneFrame(peer, &frame)) << "part " << part;
        ASSERT_EQ(frame.Count(), AGENT_MAX_RECORDS);
        EXPECT_EQ(frame.Urls().front(), "large/" + std::to_string(part * AGENT_MAX_RECORDS));
        ASSERT_TRUE(peer.SendAll(agenttest::AnswerFrame(AGENT_ANSWER_STORED)));
    }
    EXPECT_TRUE(peer.WaitForClose());
    EXPECT_TRUE(WaitUntilDisconnected());
    EXPECT_EQ(Queued(), 0u);
}

TEST_F(PlatformReporterTest, ReportsThatCannotLeaveWaitForTheNextConnectionUpToABound)
{
    // The agent server's name does not resolve: nothing connects, every report
    // waits, and beyond the bound the oldest go.
    g_resolvable = false;
    worker.Run([] { cpCHostCache::GetInstance().Clear(); });
    for (size_t i = 0; i <= CPlatformReporter::kMaxQueuedReports; ++i)
        Report({agenttest::Record("r" + std::to_string(i), 1)});
    EXPECT_EQ(Queued(), CPlatformReporter::kMaxQueuedReports);
    EXPECT_FALSE(worker.Call([&] { return reporter->HasConnection(); }));
    EXPECT_EQ(LogCount("[MeshdropLib] CPlatformReporter Queue Full, Report Dropped(1)"), 1u);
    EXPECT_GE(LogCount("[MeshdropLib] CPlatformReporter Resolve Failed : 127.0.0.1"), 1u);

    // The server refuses the connection, and a report comes while it is being
    // tried: the reports stay, none is handed to a connection that never comes up.
    g_resolvable = true;
    LoopbackPeer refusing;
    UsePort(refusing.Port());
    refusing.CloseAll();
    worker.Run([&] {
        const nwAgentReportRecord r1001 = agenttest::Record("r1001", 1);
        const nwAgentReportRecord r1002 = agenttest::Record("r1002", 1);
        reporter->Report(1, &r1001);
        reporter->Report(1, &r1002);
    });
    ASSERT_TRUE(WaitUntilDisconnected());
    EXPECT_EQ(Queued(), CPlatformReporter::kMaxQueuedReports);

    // The next report finds the server: everything kept arrives, oldest first.
    LoopbackPeer peer;
    UsePort(peer.Port());
    Report({agenttest::Record("r1003", 1)});
    ASSERT_TRUE(peer.Accept());
    for (size_t i = 4; i <= 1003; ++i) {
        ReadFrame frame;
        ASSERT_TRUE(agenttest::ReadOneFrame(peer, &frame)) << i;
        ASSERT_EQ(frame.Urls(), std::vector<std::string>{"r" + std::to_string(i)});
    }
    std::string answers;
    for (size_t i = 0; i < CPlatformReporter::kMaxQueuedReports; ++i)
        answers += agenttest::AnswerFrame(AGENT_ANSWER_STORED);
    ASSERT_TRUE(peer.SendAll(answers));
    EXPECT_TRUE(peer.WaitForClose());
    EXPECT_EQ(Queued(), 0u);
}

TEST_F(PlatformReporterTest, DestroyedWhileConnectingWithReportsQueuedItClosesAndFreesThem)
{
    LoopbackPeer peer;
    UsePort(peer.Port());
    worker.Run([&] {
        const std::vector<nwAgentReportRecord> records = Named("kept/", 3);
        reporter->Report(3, records.data());
        reporter->Report(1, records.data());
        EXPECT_EQ(reporter->GetQueuedCount(), 2u);
        reporter.reset();
    });
    // The connection's late notices find no reporter to call.
    ASSERT_TRUE(peer.Accept());
    EXPECT_TRUE(peer.WaitForClose());
    worker.Run([] {});
}

} // namespace
