// The agent layer on real loopback connections: the report frames as they
// leave, the answers reaching the listener, and the frames that end the
// connection.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "AgentFrames.h"
#include "LoopbackPeer.h"
#include "NpnWorker.h"
#include "cp/ovIQoSContext.h"
#include "nw/ovIAgentLayer.h"
#include "ov/ovClassIds.h"
#include "ov/ovSmartPtr.h"

namespace {

using agenttest::ReadFrame;

// Records the layer's notifications; touched on the worker only.
class RecordingAgentListener : public nwIAgentListener {
public:
    static constexpr std::uint32_t kCookie = 0xA6E;

    void OnAgentConnected(std::uint32_t cookie) override { Note("connected", cookie); }
    void OnAgentReply(std::uint32_t cookie, std::uint8_t answer) override
    {
        Note("answer " + std::to_string(answer), cookie);
    }
    void OnAgentClosed(std::uint32_t cookie) override { Note("closed", cookie); }
    void OnAgentConnectFailed(std::uint32_t cookie) override { Note("connect-failed", cookie); }
    void OnAgentIdleTimeout(std::uint32_t cookie) override { Note("idle", cookie); }

    std::vector<std::string> events;
    bool wrongCookie = false;

private:
    void Note(const std::string& event, std::uint32_t cookie)
    {
        wrongCookie = wrongCookie || cookie != kCookie;
        events.push_back(event);
    }
};

class AgentLayerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(worker.IsStarted()); }

    void TearDown() override
    {
        worker.Run([&] {
            if (layer)
                layer->SetListener(nullptr, 0);
            if (ctx)
                ctx.Get<ovIQoSContext>()->Close();
            ctx.Reset();
            layer = nullptr;
        });
    }

    // Opens a context as the reporter does, with the agent layer and the
    // recording listener, and connects it to `port`.
    void Connect(std::uint16_t port, std::uint32_t idleSeconds = 5)
    {
        worker.Run([&] {
            ASSERT_TRUE(ctx.CreateInstance(OVCLS_QOS_CONTEXT));
            auto* context = ctx.Get<ovIQoSContext>();
            ASSERT_EQ(context->Open(QOS_ACTION_HIGH, QOS_CONNECT_FAILED | QOS_IDLE_TIMEOUT, nullptr), OVR_PLATFORM_OK);
            ASSERT_EQ(context->AddLayer(OVCLS_AGENT_LAYER, false), OVR_PLATFORM_OK);
            const std::uint32_t connectSeconds = 5;
            context->SetOption(QOS_OPTION_CONNECT_TIMEOUT, &connectSeconds);
            context->SetOption(QOS_OPTION_IDLE_TIMEOUT, &idleSeconds);
            layer = ovAsAgentLayer(context->GetTopLayer());
            ASSERT_EQ(layer->SetListener(&listener, RecordingAgentListener::kCookie), OVR_NET_OK);
            context->Connect({LoopbackPeer::LoopbackAddress(), port});
        });
    }

    OVRESULT Send(const std::vector<nwAgentReportRecord>& records)
    {
        return worker.Call([&] {
            const nwAgentReportBatch batch{static_cast<std::uint32_t>(records.size()), records.data()};
            return layer->SendReport(&batch);
        });
    }

    bool WaitFor(const std::string& event)
    {
        return worker.WaitUntil(
            [&] { return std::find(listener.events.begin(), listener.events.end(), event) != listener.events.end(); });
    }

    std::vector<std::string> Events()
    {
        return worker.Call([&] { return listener.events; });
    }

    NpnWorker worker;
    RecordingAgentListener listener;
    ovSmartPtr ctx;
    ovIAgentLayer* layer = nullptr;
};

TEST_F(AgentLayerTest, ReportsLeaveAsPaddedFramesAndAnswersReachTheListener)
{
    LoopbackPeer peer;
    Connect(peer.Port());
    // Queued before the connection is up: it leaves once connected.
    const std::vector<nwAgentReportRecord> two = {agenttest::Record("http://h/a.pak", 1000, "veilrune_tw"),
                                                  agenttest::Record(std::string(300, 'u'), 1ull << 40)};
    ASSERT_EQ(Send(two), OVR_NET_OK);
    ASSERT_TRUE(peer.Accept());
    ASSERT_TRUE(WaitFor("connected"));
    ASSERT_EQ(Send({}), OVR_NET_OK);
    // Batches that cannot be sent leave nothing.
    worker.Run([&] {
        const nwAgentReportBatch missing{2, nullptr};
        EXPECT_EQ(layer->SendReport(&missing), OVR_NET_FAIL);
        EXPECT_EQ(layer->SendReport(nullptr), OVR_NET_FAIL);
        const nwAgentReportBatch huge{(kMaxFramePayload / AGENT_RECORD_SIZE) + 1, two.data()};
        EXPECT_EQ(layer->SendReport(&huge), OVR_NET_FAIL);
    });

    std::string bytes;
    ASSERT_TRUE(peer.ReadExactly(616 + 24, &bytes));
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const nwFrameHeader header = nwFrameHeader::Decode(data);
    EXPECT_EQ(header.messageClass, 0x0300);
    EXPECT_EQ(header.messageType, 154);
    EXPECT_EQ(header.reserved1, 0u);
    EXPECT_EQ(header.reserved2, 0);
    EXPECT_EQ(header.payloadLength, 602u);
    EXPECT_EQ(bytes.substr(14, 4), std::string("\x02\0\0\0", 4));
    EXPECT_EQ(bytes.compare(18, 596, std::string(reinterpret_cast<const char*>(two.data()), 596)), 0);
    EXPECT_EQ(bytes.substr(614, 2), std::string(2, '\0'));
    // The URL is cut to its field, zero-terminated; the count is little-endian.
    EXPECT_EQ(bytes.substr(18 + 298 + 33, 256), std::string(255, 'u') + '\0');
    EXPECT_EQ(bytes.substr(18 + 298 + 289, 9), std::string("\0\0\0\0\0\x01\0\0\x01", 9));
    // No records: the count alone, length 10 in a 24-byte frame.
    const nwFrameHeader empty = nwFrameHeader::Decode(data + 616);
    EXPECT_EQ(empty.payloadLength, 10u);
    EXPECT_EQ(bytes.substr(616 + 14), std::string(10, '\0'));

    // Two answers in one write, and a longer answer: the first byte counts.
    ASSERT_TRUE(peer.SendAll(agenttest::AnswerFrame(1) + agenttest::AnswerFrame(0) +
                             agenttest::Frame(AGENT_CLASS, AGENT_MSG_ANSWER, "\x07rest")));
    ASSERT_TRUE(WaitFor("answer 7"));
    EXPECT_EQ(Events(), (std::vector<std::string>{"connected", "answer 1", "answer 0", "answer 7"}));
    EXPECT_FALSE(worker.Call([&] { return listener.wrongCookie; }));
}

TEST_F(AgentLayerTest, AFrameItHasNoHandlerForOrAnAnswerWithoutAByteClosesTheConnection)
{
    const std::vector<std::string> offending = {
        agenttest::Frame(0x0100, AGENT_MSG_ANSWER, "\x01"),                                       // another class
        agenttest::Frame(AGENT_CLASS, AGENT_MSG_REPORT, "\x01"),                                  // another type
        agenttest::Frame(AGENT_CLASS, AGENT_MSG_ANSWER, "").substr(0, 10) + std::string(4, '\0'), // no byte
    };
    for (const std::string& frame : offending) {
        SCOPED_TRACE(::testing::PrintToString(frame));
        listener.events.clear();
        LoopbackPeer peer;
        Connect(peer.Port());
        ASSERT_TRUE(peer.Accept());
        ASSERT_TRUE(WaitFor("connected"));
        ASSERT_TRUE(peer.SendAll(frame + agenttest::AnswerFrame(1)));
        ASSERT_TRUE(WaitFor("closed"));
        EXPECT_TRUE(peer.WaitForClose());
        EXPECT_EQ(Events(), (std::vector<std::string>{"connected", "closed"}));
        TearDown();
    }
}

TEST_F(AgentLayerTest, ARefusedConnectAndASilentServerReachTheListener)
{
    LoopbackPeer refusing;
    const std::uint16_t port = refusing.Port();
    refusing.CloseAll();
    Connect(port);
    EXPECT_TRUE(WaitFor("connect-failed"));
    TearDown();

    listener.events.clear();
    LoopbackPeer silent;
    Connect(silent.Port(), 1);
    ASSERT_TRUE(silent.Accept());
    EXPECT_TRUE(WaitFor("idle"));
    EXPECT_EQ(Events().front(), "connected");
}

} // namespace
