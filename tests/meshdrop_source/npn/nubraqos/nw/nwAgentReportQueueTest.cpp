// The report queue of the agent clients: what is sent, what an answer or a
// lost connection does to it, the bound and the delays between connections.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "nw/nwAgentReportQueue.h"

namespace {

std::vector<nwAgentReportRecord> Records(std::uint32_t count, const std::string& prefix = "r")
{
    std::vector<nwAgentReportRecord> records;
    for (std::uint32_t i = 0; i < count; ++i)
        records.push_back(nwMakeAgentRecord("svc", prefix + std::to_string(i), i + 1));
    return records;
}

std::string FirstUrl(const nwAgentReportQueue::Entry* entry)
{
    return entry ? std::string(nwAgentFieldText(entry->front().url, AGENT_URL_SIZE)) : "(none)";
}

TEST(AgentReportQueueTest, EntriesLeaveOnlyWithTheirAnswerAndComeBackInOrderWhenTheConnectionIsLost)
{
    nwAgentReportQueue queue;
    for (int i = 0; i < 3; ++i) {
        const auto records = Records(1, "e" + std::to_string(i) + "/");
        EXPECT_TRUE(queue.Add(records.data(), 1).empty());
    }
    EXPECT_EQ(FirstUrl(queue.TakeNextToSend()), "e0/0");
    EXPECT_EQ(FirstUrl(queue.TakeNextToSend()), "e1/0");
    EXPECT_TRUE(queue.OnAnswer()); // e0
    EXPECT_EQ(queue.GetPendingCount(), 2u);
    EXPECT_EQ(queue.OnConnectionLost(), 1000u);
    // e1 was sent and not answered: it goes again, before e2.
    EXPECT_EQ(FirstUrl(queue.TakeNextToSend()), "e1/0");
    EXPECT_EQ(FirstUrl(queue.TakeNextToSend()), "e2/0");
    EXPECT_EQ(queue.TakeNextToSend(), nullptr);
    EXPECT_TRUE(queue.OnAnswer());
    EXPECT_TRUE(queue.OnAnswer());
    EXPECT_FALSE(queue.OnAnswer());
    EXPECT_TRUE(queue.IsEmpty());
}

TEST(AgentReportQueueTest, DelaysDoubleUpToTheCapAndStartOverWithAnAnswer)
{
    nwAgentReportQueue queue(nwAgentReportQueue::Delays{100, 500});
    const auto records = Records(1);
    queue.Add(records.data(), 1);
    std::vector<std::uint32_t> delays;
    for (int i = 0; i < 5; ++i)
        delays.push_back(queue.OnConnectionLost());
    EXPECT_EQ(delays, (std::vector<std::uint32_t>{100, 200, 400, 500, 500}));
    queue.TakeNextToSend();
    queue.OnAnswer();
    EXPECT_EQ(queue.OnConnectionLost(), 100u);
}

TEST(AgentReportQueueTest, LargeReportsSplitTheWindowHoldsAndTheOldestWaitingEntryGoesBeyondTheBound)
{
    nwAgentReportQueue queue;
    const auto large = Records(AGENT_MAX_RECORDS + 1);
    queue.Add(large.data(), AGENT_MAX_RECORDS + 1);
    ASSERT_EQ(queue.GetPendingCount(), 2u);
    EXPECT_EQ(queue.TakeNextToSend()->size(), AGENT_MAX_RECORDS);
    EXPECT_EQ(queue.TakeNextToSend()->size(), 1u);

    const auto one = Records(1);
    for (std::size_t i = 2; i < nwAgentReportQueue::kMaxEntries; ++i)
        EXPECT_TRUE(queue.Add(one.data(), 1).empty());
    for (std::size_t i = 2; i < nwAgentReportQueue::kMaxInFlight; ++i)
        EXPECT_NE(queue.TakeNextToSend(), nullptr);
    EXPECT_EQ(queue.TakeNextToSend(), nullptr) << "more than the window in flight";
    // Full: the next entry pushes out the oldest waiting one, never one in flight.
    EXPECT_EQ(queue.Add(one.data(), 1), std::vector<std::size_t>{1});
    EXPECT_EQ(queue.GetPendingCount(), nwAgentReportQueue::kMaxEntries);
    EXPECT_EQ(queue.GetInFlightCount(), nwAgentReportQueue::kMaxInFlight);
}

} // namespace
