// The platform reporter on the library's worker against a loopback peer in
// the agent server's place: the order reports leave in, that a report leaves
// the queue only with its answer, what becomes of reports that cannot leave,
// and the drain at finalisation.

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

// Delays short enough that retries do not slow the tests down.
constexpr nwAgentReportQueue::Delays kQuickRetries{50, 400};

class PlatformReporterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(worker.IsStarted());
        m_log = LibraryLog::Prepare();
        g_resolvable = true;
        worker.Run([&] {
            cpCHostCache::GetInstance().SetResolver(&ResolveToLoopback);
            reporter = std::make_unique<CPlatformReporter>(kQuickRetries);
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

    // On the worker, where the reporter reads it (retries run there too).
    void UsePort(std::uint16_t port)
    {
        worker.Run([&] { setenv(AGENT_PORT_VARIABLE, std::to_string(port).c_str(), 1); });
    }

    void Report(const std::vector<nwAgentReportRecord>& records)
    {
        worker.Run([&] { reporter->Report(static_cast<std::uint32_t>(records.size()), records.data()); });
    }

    size_t Pending()
    {
        return worker.Call([&] { return reporter->GetPendingCount(); });
    }

    bool WaitUntilPending(size_t count)
    {
        return worker.WaitUntil([&] { return reporter->GetPendingCount() == count; });
    }

    size_t LogCount(const std::string& message) const
    {
        const auto lines = LibraryLog::Messages(m_log);
        return static_cast<size_t>(std::count(lines.begin(), lines.end(), message));
    }

    // Reads `urls.size()` frames of one record each, answering each as it
    // comes (the reporter keeps a window of unanswered reports).
    static void ReadAndAnswer(LoopbackPeer& peer, const std::vector<std::string>& urls)
    {
        for (const std::string& url : urls) {
            ReadFrame frame;
            ASSERT_TRUE(agenttest::ReadOneFrame(peer, &frame)) << url;
            ASSERT_EQ(frame.Urls(), std::vector<std::string>{url});
            ASSERT_TRUE(peer.SendAll(agenttest::AnswerFrame(AGENT_ANSWER_STORED)));
        }
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

std::vector<std::string> Urls(const std::string& prefix, size_t first, size_t last)
{
    std::vector<std::string> urls;
    for (size_t i = first; i <= last; ++i)
        urls.push_back(prefix + std::to_string(i));
    return urls;
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
    EXPECT_TRUE(worker.WaitUntil([&] { return !reporter->HasConnection(); }));
    EXPECT_EQ(Pending(), 0u);
}

TEST_F(PlatformReporterTest, AReportLeavesOnlyWithItsAnswerAndUnansweredOnesGoAgainOnTheNextConnection)
{
    LoopbackPeer peer;
    UsePort(peer.Port());
    for (const char* name : {"a", "b", "c"})
        Report({agenttest::Record(name, 1)});
    ASSERT_TRUE(peer.Accept());
    for (const char* name : {"a", "b", "c"}) {
        ReadFrame frame;
        ASSERT_TRUE(agenttest::ReadOneFrame(peer, &frame));
        EXPECT_EQ(frame.Urls(), std::vector<std::string>{name});
    }
    // One answer, then the server is gone: b and c were sent, not answered.
    ASSERT_TRUE(peer.SendAll(agenttest::AnswerFrame(AGENT_ANSWER_STORED)));
    ASSERT_TRUE(WaitUntilPending(2));
    peer.CloseConnection();

    ASSERT_TRUE(peer.Accept());
    ReadAndAnswer(peer, {"b", "c"});
    EXPECT_TRUE(peer.WaitForClose());
    EXPECT_EQ(Pending(), 0u);
    EXPECT_EQ(LogCount("[MeshdropLib] CPlatformReporter Retry(2, 50)"), 1u);
}

TEST_F(PlatformReporterTest, ReportsThatCannotLeaveAreKeptUpToABoundAndArriveOnceTheServerIsBack)
{
    // The agent server's name does not resolve: nothing connects, every report
    // waits, and beyond the bound the oldest go.
    g_resolvable = false;
    worker.Run([] { cpCHostCache::GetInstance().Clear(); });
    for (size_t i = 0; i <= CPlatformReporter::kMaxQueuedReports; ++i)
        Report({agenttest::Record("r" + std::to_string(i), 1)});
    EXPECT_EQ(Pending(), CPlatformReporter::kMaxQueuedReports);
    EXPECT_EQ(LogCount("[MeshdropLib] CPlatformReporter Queue Full, Report Dropped(1)"), 1u);
    EXPECT_GE(LogCount("[MeshdropLib] CPlatformReporter Resolve Failed : 127.0.0.1"), 1u);

    // The server refuses the connection: the reports stay, retried later.
    g_resolvable = true;
    LoopbackPeer refusing;
    UsePort(refusing.Port());
    refusing.CloseAll();
    ASSERT_TRUE(worker.WaitUntil([&] { return reporter->IsRetryWaiting() && !reporter->HasConnection(); }));
    EXPECT_EQ(Pending(), CPlatformReporter::kMaxQueuedReports);

    // The server is back: a retry finds it and everything kept arrives, oldest first.
    LoopbackPeer peer;
    UsePort(peer.Port());
    ASSERT_TRUE(peer.Accept());
    ReadAndAnswer(peer, Urls("r", 1, 1000));
    EXPECT_TRUE(peer.WaitForClose());
    EXPECT_EQ(Pending(), 0u);
}

TEST_F(PlatformReporterTest, TheDrainConnectsAtOnceAndEndsWhenAllIsAnsweredOrTheServerCannotBeReached)
{
    // Retries a minute apart: only the drain's own attempt can deliver in time.
    worker.Run([&] { reporter = std::make_unique<CPlatformReporter>(nwAgentReportQueue::Delays{60000, 60000}); });
    LoopbackPeer refusing;
    UsePort(refusing.Port());
    refusing.CloseAll();
    Report({agenttest::Record("kept", 1)});
    ASSERT_TRUE(worker.WaitUntil([&] { return reporter->IsRetryWaiting(); }));

    LoopbackPeer peer;
    UsePort(peer.Port());
    HANDLE drained = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    worker.Run([&] { reporter->BeginDrain(drained); });
    ASSERT_TRUE(peer.Accept());
    ReadAndAnswer(peer, {"kept"});
    EXPECT_EQ(WaitForSingleObject(drained, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(Pending(), 0u);

    // A server that cannot be reached ends the drain at once, the report kept.
    ResetEvent(drained);
    UsePort(refusing.Port());
    Report({agenttest::Record("undelivered", 1)});
    ASSERT_TRUE(worker.WaitUntil([&] { return reporter->IsRetryWaiting(); }));
    worker.Run([&] { reporter->BeginDrain(drained); });
    EXPECT_EQ(WaitForSingleObject(drained, 10000), WAIT_OBJECT_0);
    worker.Run([&] { reporter->EndDrain(); });
    EXPECT_EQ(Pending(), 1u);
    CloseHandle(drained);
}

TEST_F(PlatformReporterTest, DestroyedWhileConnectingWithReportsQueuedItClosesAndFreesThem)
{
    LoopbackPeer peer;
    UsePort(peer.Port());
    worker.Run([&] {
        const std::vector<nwAgentReportRecord> records = Named("kept/", 3);
        reporter->Report(3, records.data());
        reporter->Report(1, records.data());
        EXPECT_EQ(reporter->GetPendingCount(), 2u);
        reporter.reset();
    });
    // The connection's late notices find no reporter to call.
    ASSERT_TRUE(peer.Accept());
    EXPECT_TRUE(peer.WaitForClose());
    worker.Run([] {});
}

} // namespace
