// Connection contexts on real loopback sockets, driven through the hidden
// window by the worker's message loop. The clock is frozen, so the bandwidth
// manager's one-second tick runs only when a test calls it.

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>

#include "FakeClock.h"
#include "LoopbackPeer.h"
#include "NpnWorker.h"
#include "RecordingLayer.h"
#include "cp/CNpn.h"
#include "cp/cpCHostCache.h"
#include "cp/cpCQoS.h"
#include "cp/cpCQoSContext.h"
#include "cp/cpCQoSLowContextAction.h"
#include "cp/cpCQoSQuota.h"
#include "cp/cpCSocketWindow.h"
#include "cp/cpCTimerQueue.h"
#include "ov/ovClassIds.h"
#include "ov/ovSmartPtr.h"

namespace {

std::string Pattern(std::size_t size)
{
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        s[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    }
    return s;
}

RecordingLayer* AsRecording(ovIUnknown* layerInterface)
{
    return static_cast<RecordingLayer*>(static_cast<ovIRecordingLayer*>(layerInterface));
}

class ContextTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RecordingLayer::RegisterClass();
        ASSERT_TRUE(worker.IsStarted());
        ASSERT_NE(peer.Port(), 0);
    }

    void TearDown() override
    {
        // Contexts are released on the worker, under the lock.
        worker.Run([&] {
            if (ctx) {
                Context()->Close();
            }
            ctx.Reset();
        });
    }

    cpCQoSContext* Context() const { return static_cast<cpCQoSContext*>(ctx.Get<ovIQoSContext>()); }
    cpCQoS* QoS() const { return worker.GetNpn()->GetQoS(); }
    cpEndpoint PeerEndpoint() const { return {LoopbackPeer::LoopbackAddress(), peer.Port()}; }

    // A context opened with one recording layer (not connected).
    void OpenWithLayer(int kind, std::uint32_t mask)
    {
        worker.Run([&] {
            ASSERT_TRUE(ctx.CreateInstance(OVCLS_QOS_CONTEXT));
            ASSERT_EQ(Context()->Open(kind, mask, nullptr), OVR_PLATFORM_OK);
            ASSERT_EQ(Context()->AddLayer(RecordingLayer::kClassId, false), OVR_PLATFORM_OK);
            layer = AsRecording(Context()->GetTopLayer());
        });
    }

    void ConnectToPeer()
    {
        worker.Run([&] { EXPECT_EQ(Context()->Connect(PeerEndpoint()), OVR_PLATFORM_OK); });
        ASSERT_TRUE(peer.Accept());
        ASSERT_TRUE(worker.WaitUntil([&] { return layer->connected == 1; }));
    }

    // Handles every message posted so far (posted messages are handled in order).
    void Drain()
    {
        worker.Run([] {});
    }

    int State()
    {
        return worker.Call([&] {
            int state = -1;
            Context()->GetState(&state);
            return state;
        });
    }

    FakeClock clock{5'000'000};
    NpnWorker worker;
    LoopbackPeer peer;
    ovSmartPtr ctx;
    RecordingLayer* layer = nullptr;
};

} // namespace

TEST_F(ContextTest, SecondOpenFailsAndChangesNothing)
{
    OpenWithLayer(1, 0x05);
    worker.Run([&] {
        cpSocketRecord* record = Context()->GetRecord();
        const int live = QoS()->GetLiveContextCount();
        EXPECT_EQ(Context()->Open(6, 0, nullptr), OVR_PLATFORM_FAIL);
        int state = 0;
        Context()->GetState(&state);
        EXPECT_EQ(state, QOS_STATE_OPEN);
        EXPECT_EQ(Context()->GetRecord(), record);
        EXPECT_EQ(Context()->GetAction()->GetKind(), 1);
        EXPECT_EQ(QoS()->GetLiveContextCount(), live);
    });
}

TEST_F(ContextTest, EnqueueBeforeConnectOnlyQueuesThenSendsAfterConnecting)
{
    OpenWithLayer(1, 0x05);
    worker.Run([&] {
        EXPECT_EQ(Context()->Enqueue("hello ", 6), OVR_PLATFORM_OK);
        EXPECT_EQ(Context()->Enqueue("world", 5), OVR_PLATFORM_OK);
        int state = 0;
        Context()->GetState(&state);
        EXPECT_EQ(state, QOS_STATE_OPEN);
        const std::uint8_t* data = nullptr;
        std::uint32_t length = 0;
        Context()->GetSendBuffer(&data, &length);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), length), "hello ");
        std::uint32_t queued = 0;
        Context()->GetQueuedBytes(&queued);
        EXPECT_EQ(queued, 5u);
    });
    ConnectToPeer();
    std::string got;
    ASSERT_TRUE(peer.ReadExactly(11, &got));
    EXPECT_EQ(got, "hello world");
}

TEST_F(ContextTest, BytesReachTheLayerAndThePeersCloseClosesTheContext)
{
    OpenWithLayer(1, 0x05 | QOS_COUNT_RECEIVED);
    ConnectToPeer();
    const std::string payload = Pattern(3 * 1024 * 1024 + 17); // beyond the 1 MiB read stop
    std::thread sender([&] { peer.SendAll(payload); });
    EXPECT_TRUE(worker.WaitUntil([&] { return layer->received.size() == payload.size(); }));
    sender.join();
    worker.Run([&] {
        EXPECT_TRUE(layer->received == payload);
        std::uint32_t rate = 0;
        EXPECT_EQ(Context()->GetReceiveRate(&rate), OVR_PLATFORM_OK);
        EXPECT_EQ(Context()->GetSendRate(&rate), OVR_PLATFORM_FAIL); // not counted
    });
    peer.CloseConnection();
    ASSERT_TRUE(worker.WaitUntil([&] { return layer->closed == 1; }));
    EXPECT_EQ(State(), QOS_STATE_CLOSED);
    worker.Run([&] { EXPECT_EQ(QoS()->GetLiveContextCount(), 0); });
}

TEST_F(ContextTest, LargeSendLeavesInOrderAndReportsTheEmptyQueue)
{
    OpenWithLayer(1, 0x05 | QOS_SEND_QUEUE_EMPTY | QOS_COUNT_SENT);
    ConnectToPeer();
    const std::string payload = Pattern(2 * 1024 * 1024 + 5);
    worker.Run([&] {
        layer->queueEmpty = 0;
        Context()->Enqueue(payload.data(), 1024 * 1024);
        Context()->Enqueue(payload.data() + 1024 * 1024, static_cast<std::uint32_t>(payload.size() - 1024 * 1024));
    });
    std::string got;
    ASSERT_TRUE(peer.ReadExactly(payload.size(), &got));
    EXPECT_TRUE(got == payload);
    EXPECT_TRUE(worker.WaitUntil([&] { return layer->queueEmpty > 0; }));
}

TEST_F(ContextTest, IdleEventAtTheSixtyFirstTickUnlessBytesArrived)
{
    OpenWithLayer(1, 0x05);
    ConnectToPeer();
    worker.Run([&] {
        for (int i = 0; i < 60; ++i) {
            QoS()->Tick();
        }
    });
    Drain();
    worker.Run([&] { EXPECT_EQ(layer->idleTimeouts, 0); });
    worker.Run([&] { QoS()->Tick(); }); // the 61st
    ASSERT_TRUE(worker.WaitUntil([&] { return layer->idleTimeouts == 1; }));
    EXPECT_NE(State(), QOS_STATE_CLOSED); // an idle connection stays open

    // Again, but a read notice is handled before the idle event.
    worker.Run([&] {
        for (int i = 0; i < 61; ++i) {
            QoS()->Tick();
        }
        Context()->OnSocketEvent(CP_SOCKET_EVENT_READABLE);
    });
    Drain();
    worker.Run([&] { EXPECT_EQ(layer->idleTimeouts, 1); });
}

TEST_F(ContextTest, OwnReceiveQuotaStartsAtOnceAndLimitsEverySecond)
{
    OpenWithLayer(6, 0x05);
    worker.Run([&] {
        const std::uint32_t quota = 393216;
        EXPECT_EQ(Context()->SetQuota(QOS_DIRECTION_RECEIVE, &quota), OVR_PLATFORM_OK);
    });
    ConnectToPeer();
    auto* action = static_cast<cpCQoSLowContextAction*>(Context()->GetAction());
    const std::string payload = Pattern(1024 * 1024);
    std::thread sender([&] { peer.SendAll(payload); });

    // The first second's budget moves at once, without a tick.
    for (std::size_t second = 1; second <= 2; ++second) {
        ASSERT_TRUE(
            worker.WaitUntil([&] { return layer->received.size() >= second * 393216 && action->IsReceiveBlocked(); }));
        Drain();
        worker.Run([&] { EXPECT_EQ(layer->received.size(), second * 393216); });
        // A millisecond short of the window, the wake of the connection
        // (the window's timer, fired here at once) finds nothing back yet;
        // the manager's tick neither.
        const auto wake = [&] { QoS()->OnBudgetWake(Context()->GetRecord()->slot); };
        worker.Run([&] {
            clock.Advance(1000);
            QoS()->Tick();
            wake();
        });
        Drain();
        worker.Run([&] { EXPECT_EQ(layer->received.size(), second * 393216); });
        worker.Run([&] {
            clock.Advance(1);
            wake();
        });
    }
    ASSERT_TRUE(worker.WaitUntil([&] { return layer->received.size() == payload.size(); }));
    sender.join();
    worker.Run([&] { EXPECT_TRUE(layer->received == payload); });
}

TEST_F(ContextTest, ConnectionsOnOneSharedQuotaMoveItsBytesTogether)
{
    auto quota = std::make_shared<cpCQoSQuota>(300000);
    LoopbackPeer secondPeer;
    ovSmartPtr second;
    RecordingLayer* secondLayer = nullptr;
    OpenWithLayer(6, 0x05);
    worker.Run([&] {
        EXPECT_EQ(Context()->ShareQuota(QOS_DIRECTION_RECEIVE, quota), OVR_PLATFORM_OK);
        ASSERT_TRUE(second.CreateInstance(OVCLS_QOS_CONTEXT));
        auto* other = static_cast<cpCQoSContext*>(second.Get<ovIQoSContext>());
        ASSERT_EQ(other->Open(1, 0x05, nullptr), OVR_PLATFORM_OK);
        EXPECT_EQ(other->ShareQuota(QOS_DIRECTION_RECEIVE, quota), OVR_PLATFORM_FAIL); // no own quotas
        other->SetAction(6);
        EXPECT_EQ(other->ShareQuota(QOS_DIRECTION_RECEIVE, quota), OVR_PLATFORM_OK);
        other->AddLayer(RecordingLayer::kClassId, false);
        secondLayer = AsRecording(other->GetTopLayer());
        other->Connect({LoopbackPeer::LoopbackAddress(), secondPeer.Port()});
    });
    ConnectToPeer();
    ASSERT_TRUE(secondPeer.Accept());
    const std::string payload = Pattern(256 * 1024);
    std::thread sender([&] { peer.SendAll(payload); });
    std::thread secondSender([&] { secondPeer.SendAll(payload); });
    ASSERT_TRUE(worker.WaitUntil([&] { return layer->received.size() + secondLayer->received.size() >= 300000; }));
    Drain();
    worker.Run([&] { EXPECT_EQ(layer->received.size() + secondLayer->received.size(), 300000u); });
    worker.Run([&] {
        clock.Advance(1011);
        QoS()->Tick();
    });
    ASSERT_TRUE(worker.WaitUntil([&] { return layer->received.size() + secondLayer->received.size() == 512 * 1024; }));
    sender.join();
    secondSender.join();
    worker.Run([&] {
        static_cast<cpCQoSContext*>(second.Get<ovIQoSContext>())->Close();
        second.Reset();
    });
}

TEST_F(ContextTest, SixtyFifthConnectionFailsCleanly)
{
    std::vector<ovSmartPtr> open(64);
    worker.Run([&] {
        for (auto& c : open) {
            ASSERT_TRUE(c.CreateInstance(OVCLS_QOS_CONTEXT));
            ASSERT_EQ(c.Get<ovIQoSContext>()->Open(1, 0, nullptr), OVR_PLATFORM_OK);
        }
        ASSERT_TRUE(ctx.CreateInstance(OVCLS_QOS_CONTEXT));
        EXPECT_EQ(Context()->Open(1, 0, nullptr), OVR_PLATFORM_FAIL);
        int state = -1;
        Context()->GetState(&state);
        EXPECT_EQ(state, QOS_STATE_NEW);
        EXPECT_EQ(Context()->GetRecord(), nullptr);
        EXPECT_EQ(QoS()->GetLiveContextCount(), 64);

        // A freed slot serves the next Open.
        open[10].Get<ovIQoSContext>()->Close();
        EXPECT_EQ(Context()->Open(1, 0, nullptr), OVR_PLATFORM_OK);
        for (auto& c : open) {
            c.Get<ovIQoSContext>()->Close();
        }
        open.clear();
    });
}

TEST_F(ContextTest, OpenWithoutASocketKeepsNoRecord)
{
    worker.Run([&] {
        ASSERT_TRUE(ctx.CreateInstance(OVCLS_QOS_CONTEXT));
        // Everything the limited stretch below calls is reached once first:
        // the sanitizer's type checks need descriptors of their own the first
        // time they meet a type.
        cpCQoSContext* context = Context();
        int state = -1;
        context->GetState(&state);
        rlimit saved{};
        getrlimit(RLIMIT_NOFILE, &saved);
        const int lowest = dup(0);
        close(lowest);
        rlimit tight = saved;
        tight.rlim_cur = static_cast<rlim_t>(lowest);
        setrlimit(RLIMIT_NOFILE, &tight); // no descriptor left for a socket
        const OVRESULT result = context->Open(1, 0, nullptr);
        setrlimit(RLIMIT_NOFILE, &saved);
        EXPECT_TRUE(OV_FAILED(result));
        context->GetState(&state);
        EXPECT_EQ(state, QOS_STATE_NEW);
        EXPECT_EQ(context->GetRecord(), nullptr);
        EXPECT_EQ(QoS()->GetLiveContextCount(), 0);
        // With descriptors back, the same context opens.
        EXPECT_EQ(context->Open(1, 0, nullptr), OVR_PLATFORM_OK);
    });
}

TEST_F(ContextTest, RefusedConnectFailsAndCloses)
{
    const std::uint16_t port = peer.Port();
    peer.CloseAll();
    OpenWithLayer(1, 0x05);
    worker.Run([&] { Context()->Connect({LoopbackPeer::LoopbackAddress(), port}); });
    ASSERT_TRUE(worker.WaitUntil([&] { return layer->closed == 1; }));
    worker.Run([&] {
        EXPECT_EQ(layer->connected, 0);
        EXPECT_EQ(layer->connectFailed, 1);
    });
    EXPECT_EQ(State(), QOS_STATE_CLOSED);
}

namespace {

// A TCP port of 127.0.0.1 bound but not listening: connects to it are
// refused, and nothing else can listen there while the socket is held.
class RefusingPort {
public:
    explicit RefusingPort(std::uint16_t port = 0)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = LoopbackPeer::LoopbackAddress();
        address.sin_port = htons(port);
        socklen_t length = sizeof(address);
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            m_port = ntohs(address.sin_port);
        }
    }
    ~RefusingPort() { ::closesocket(m_fd); }
    std::uint16_t Port() const { return m_port; }

private:
    int m_fd = -1;
    std::uint16_t m_port = 0;
};

cpAddress Ipv6Loopback()
{
    return cpAddress::FromIPv6(in6addr_loopback);
}

} // namespace

TEST_F(ContextTest, RefusingAddressHandsOnToTheNextWhichCarriesTheConnection)
{
    // The name has two addresses on one port: 127.0.0.1 refuses, ::1 answers.
    LoopbackPeer peer6(AF_INET6);
    if (peer6.Port() == 0) {
        GTEST_SKIP() << "no IPv6 loopback (::1) on this machine";
    }
    RefusingPort refusing(peer6.Port());
    ASSERT_EQ(refusing.Port(), peer6.Port()) << "127.0.0.1 at the port of ::1 is taken";
    const std::uint16_t port = peer6.Port();
    OpenWithLayer(1, 0x05);
    worker.Run([&] {
        cpCHostCache::GetInstance().SetResolver([](const char*, std::vector<cpAddress>* addresses) {
            *addresses = {cpAddress(LoopbackPeer::LoopbackAddress()), Ipv6Loopback()};
            return OVR_PLATFORM_OK;
        });
        std::vector<cpAddress> order;
        ASSERT_TRUE(cpCHostCache::GetInstance().GetAddresses("two.test", port, &order));
        Context()->SetHostName("two.test");
        Context()->SetRemoteEndpoint({order.front(), port});
        EXPECT_EQ(Context()->ConnectEndpoints({{order[0], port}, {order[1], port}}), OVR_PLATFORM_OK);
        Context()->Enqueue("ping", 4);
    });
    ASSERT_TRUE(peer6.Accept());
    ASSERT_TRUE(worker.WaitUntil([&] { return layer->connected == 1; }));
    std::string got;
    ASSERT_TRUE(peer6.ReadExactly(4, &got));
    EXPECT_EQ(got, "ping");
    ASSERT_TRUE(peer6.SendAll("pong"));
    ASSERT_TRUE(worker.WaitUntil([&] { return layer->received == "pong"; }));
    worker.Run([&] {
        EXPECT_EQ(layer->connectFailed, 0);
        cpEndpoint remote;
        Context()->GetRemoteEndpoint(&remote);
        EXPECT_EQ(remote.address, Ipv6Loopback());
        EXPECT_EQ(Context()->GetRecord()->family, AF_INET6);
        // The refusing address goes last, marked with its failure.
        const auto items = cpCHostCache::GetInstance().GetItems("two.test", port);
        ASSERT_EQ(items.size(), 2u);
        EXPECT_EQ(items.back().address, cpAddress(LoopbackPeer::LoopbackAddress()));
        EXPECT_NE(items.back().lastFailure, 0u);
        cpCHostCache::GetInstance().SetResolver(nullptr);
        cpCHostCache::GetInstance().Clear();
    });
}

TEST_F(ContextTest, EveryAddressRefusingEndsAsOneFailedConnect)
{
    RefusingPort first;
    RefusingPort second;
    OpenWithLayer(1, 0x05);
    worker.Run([&] {
        Context()->ConnectEndpoints(
            {{LoopbackPeer::LoopbackAddress(), first.Port()}, {LoopbackPeer::LoopbackAddress(), second.Port()}});
    });
    ASSERT_TRUE(worker.WaitUntil([&] { return layer->closed == 1; }));
    worker.Run([&] {
        EXPECT_EQ(layer->connected, 0);
        EXPECT_EQ(layer->connectFailed, 1);
        EXPECT_EQ(layer->unreachable, 0);
        EXPECT_EQ(Context()->ConnectEndpoints({}), OVR_PLATFORM_FAIL);
    });
}

TEST_F(ContextTest, ConnectTimerEndsAnAttemptThatNeverCompletes)
{
    // A listener whose accept queue is full drops further connection requests,
    // so the connect below stays pending until the context's own timer ends it.
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = LoopbackPeer::LoopbackAddress();
    socklen_t length = sizeof(address);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    std::vector<int> fillers;
    for (int i = 0; i < 3; ++i) {
        int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        fillers.push_back(filler);
    }

    OpenWithLayer(1, 0x05);
    worker.Run([&] {
        const std::uint32_t seconds = 4;
        Context()->SetOption(QOS_OPTION_CONNECT_TIMEOUT, &seconds);
        Context()->Connect({address.sin_addr.s_addr, ntohs(address.sin_port)});
    });
    worker.Run([&] {
        clock.Advance(3'900);
        worker.GetNpn()->GetTimerQueue()->Tick();
    });
    Drain();
    worker.Run([&] { EXPECT_EQ(layer->connectFailed, 0); });
    worker.Run([&] {
        clock.Advance(100);
        worker.GetNpn()->GetTimerQueue()->Tick();
    });
    const bool ended = worker.WaitUntil([&] { return layer->closed == 1 || layer->connected == 1; });
    for (int filler : fillers) {
        ::closesocket(filler);
    }
    ::closesocket(listener);
    ASSERT_TRUE(ended);
    if (worker.Call([&] { return layer->connected; }) == 1) {
        GTEST_SKIP() << "the kernel accepted the connection despite the full queue";
    }
    worker.Run([&] {
        EXPECT_EQ(layer->connectFailed, 1);
        EXPECT_EQ(layer->closed, 1);
    });
}

TEST_F(ContextTest, SilentAddressGetsAHeadStartThenTheNextAddressWins)
{
    // A listener whose accept queue is full leaves the first attempt pending.
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = LoopbackPeer::LoopbackAddress();
    socklen_t length = sizeof(address);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    std::vector<int> fillers;
    for (int i = 0; i < 3; ++i) {
        int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        fillers.push_back(filler);
    }
    auto cleanUp = [&] {
        for (int filler : fillers) {
            ::closesocket(filler);
        }
        ::closesocket(listener);
    };

    OpenWithLayer(1, 0x05);
    worker.Run([&] {
        Context()->ConnectEndpoints({{address.sin_addr.s_addr, ntohs(address.sin_port)}, PeerEndpoint()});
    });
    Drain();
    if (worker.Call([&] { return layer->connected; }) == 1) {
        cleanUp();
        GTEST_SKIP() << "the kernel accepted the connection despite the full queue";
    }
    // Nothing asks the second address before the head start has passed.
    EXPECT_FALSE(peer.Accept(std::chrono::milliseconds(0)));
    worker.Run([&] {
        clock.Advance(cpCConnectAttempts::kHeadStartMs);
        worker.GetNpn()->GetTimerQueue()->Tick();
    });
    ASSERT_TRUE(peer.Accept());
    ASSERT_TRUE(worker.WaitUntil([&] { return layer->connected == 1; }));
    cleanUp();
    worker.Run([&] {
        EXPECT_EQ(layer->connectFailed, 0);
        cpEndpoint remote;
        Context()->GetRemoteEndpoint(&remote);
        EXPECT_EQ(remote.port, peer.Port());
    });
}

TEST_F(ContextTest, LayerPushedAtTheBottomSeesBytesFirstAndPassesThemUp)
{
    std::vector<const RecordingLayer*> order;
    RecordingLayer* bottom = nullptr;
    OpenWithLayer(1, 0x05);
    worker.Run([&] {
        ASSERT_EQ(Context()->AddLayer(RecordingLayer::kClassId, true), OVR_PLATFORM_OK);
        ASSERT_EQ(Context()->GetLayerCount(), 2);
        EXPECT_EQ(AsRecording(Context()->GetTopLayer()), layer);
        bottom = AsRecording(Context()->GetLayerAt(1));
        ovIUnknown* found = nullptr;
        EXPECT_EQ(Context()->FindLayer(RecordingLayer::kClassId, &found), OVR_PLATFORM_OK);
        EXPECT_EQ(AsRecording(found), layer);
        EXPECT_EQ(Context()->FindLayer(OVCLS_TLS_LAYER, &found), OVR_PLATFORM_FAIL);
        EXPECT_EQ(Context()->AddLayer(4103, true), OVR_PLATFORM_FAIL);
        // The context answers queries through its top layer.
        void* stack = nullptr;
        EXPECT_EQ(Context()->QueryInterface(OVIID_NET_STACK, &stack), OVR_NET_OK);
        EXPECT_EQ(stack, static_cast<nwIQoSNetStack*>(layer));
        EXPECT_EQ(Context()->QueryInterface(1, &stack), OVR_NET_FAIL);
        bottom->consume = RecordingLayer::Consume::PassUp;
        bottom->order = &order;
        layer->order = &order;
    });
    ASSERT_NE(bottom, nullptr);
    ConnectToPeer();
    ASSERT_TRUE(peer.SendAll("xy"));
    ASSERT_TRUE(worker.WaitUntil([&] { return layer->received == "xy"; }));
    worker.Run([&] {
        EXPECT_EQ(bottom->received, "xy");
        const std::vector<const RecordingLayer*> expected = {bottom, layer, bottom, layer};
        EXPECT_EQ(order, expected); // connected bottom-up, then bytes bottom-up
    });
}

TEST_F(ContextTest, LayerAndSecondViewShareOneCount)
{
    worker.Run([&] {
        ovSmartPtr object;
        ASSERT_TRUE(object.CreateInstance(RecordingLayer::kClassId));
        RecordingLayer* recording = AsRecording(object.Get());
        void* view = nullptr;
        ASSERT_TRUE(object.QueryInterface(OVIID_NET_STACK, &view));
        auto* stack = static_cast<nwIQoSNetStack*>(view);
        EXPECT_EQ(recording->GetRefCount(), 1u);
        stack->AddRef();
        EXPECT_EQ(recording->GetRefCount(), 2u);
        object.Get()->Release();
        EXPECT_EQ(recording->GetRefCount(), 1u);
        stack->AddRef(); // balanced by the smart pointer's own reference below
        object.Get()->Release();
        EXPECT_FALSE(object.QueryInterface(12345, &view));
        // Detached helpers answer failure and do nothing.
        EXPECT_EQ(stack->AddLayer(RecordingLayer::kClassId, false), OVR_PLATFORM_FAIL);
        EXPECT_EQ(stack->PassUp(reinterpret_cast<const std::uint8_t*>("x"), 1), 0);
    });
}

TEST_F(ContextTest, OversizedFrameClosesTheConnection)
{
    OpenWithLayer(1, 0x05);
    worker.Run([&] {
        layer->consume = RecordingLayer::Consume::Frames;
        layer->AddFramedHandler(
            0x0100, 1, [](const std::uint8_t*, std::uint32_t, void*) {}, nullptr);
    });
    ConnectToPeer();
    nwFrameHeader header;
    header.messageClass = 0x0100;
    header.messageType = 1;
    header.payloadLength = kMaxFramePayload + 8;
    std::uint8_t bytes[nwFrameHeader::kSize];
    header.Encode(bytes);
    ASSERT_TRUE(peer.SendAll(bytes, sizeof(bytes)));
    ASSERT_TRUE(worker.WaitUntil([&] { return layer->closed == 1; }));
    EXPECT_TRUE(peer.WaitForClose());
}

TEST_F(ContextTest, UnlimitedReadingStopsAtOneMebibyteWhenNothingIsConsumed)
{
    OpenWithLayer(1, 0x05);
    worker.Run([&] { layer->consume = RecordingLayer::Consume::Nothing; });
    ConnectToPeer();
    const std::string chunk(4 * 1024 * 1024, 'z');
    std::thread sender([&] { peer.SendAll(chunk); });
    ASSERT_TRUE(worker.WaitUntil([&] { return Context()->GetReceivedHeld() > cpCQoSHighContextAction::kReadStop; }));
    Drain();
    worker.Run([&] {
        EXPECT_LE(Context()->GetReceivedHeld(), cpCQoSContextAction::kReadStop + cpCQoSContextAction::kReceiveSize);
    });
    peer.ShutdownConnection(); // wakes the blocked sender; the peer closes later
    sender.join();
}

TEST_F(ContextTest, BudgetedReceiveBufferThatNoLayerDrainsIsBounded)
{
    OpenWithLayer(6, 0x05);
    worker.Run([&] {
        layer->consume = RecordingLayer::Consume::Nothing;
        const std::uint32_t quota = 104857600;
        Context()->SetQuota(QOS_DIRECTION_RECEIVE, &quota);
        QoS()->Tick();
    });
    ConnectToPeer();
    const std::string chunk(1024 * 1024, 'z');
    std::thread sender([&] {
        for (int i = 0; i < 24 && peer.SendAll(chunk); ++i) {}
    });
    const bool closed = worker.WaitUntil([&] { return layer->closed == 1; }, std::chrono::seconds(60));
    peer.ShutdownConnection(); // wakes the blocked sender; the peer closes later
    sender.join();
    ASSERT_TRUE(closed);
    worker.Run([&] { EXPECT_LE(Context()->GetReceivedHeld(), cpCReceiveBuffer::kMaxSize); });
}

TEST_F(ContextTest, WindowDropsNoticesThatDoNotConcernTheSlot)
{
    OpenWithLayer(1, 0x05);
    HWND window = nullptr;
    int slot = -1;
    SOCKET socket = INVALID_SOCKET;
    worker.Run([&] {
        window = QoS()->GetWindowHolder()->window;
        slot = Context()->GetRecord()->slot;
        socket = Context()->GetRecord()->socket;
    });
    ASSERT_GE(slot, 0);
    const UINT message = CP_WM_SOCKET_NOTIFY + static_cast<UINT>(slot);
    PostMessageA(window, message, static_cast<WPARAM>(INVALID_SOCKET), WSAMAKESELECTREPLY(FD_CLOSE, 0));
    PostMessageA(window, message, static_cast<WPARAM>(socket + 1000), WSAMAKESELECTREPLY(FD_CLOSE, 0));
    // A connect notice with "timed out" produces nothing: the connect timer decides.
    PostMessageA(window, message, static_cast<WPARAM>(socket), WSAMAKESELECTREPLY(FD_CONNECT, WSAETIMEDOUT));
    Drain();
    EXPECT_EQ(State(), QOS_STATE_OPEN);
    worker.Run([&] { EXPECT_EQ(layer->connectFailed + layer->closed + layer->connected, 0); });
    // The context's own socket is heard.
    PostMessageA(window, message, static_cast<WPARAM>(socket), WSAMAKESELECTREPLY(FD_CLOSE, 0));
    ASSERT_TRUE(worker.WaitUntil([&] { return layer->closed == 1; }));
}

TEST_F(ContextTest, EventsOfAnotherContextTicksBlockedBothWaysAndLayersAddedWhileClosingAreSafe)
{
    // A context event names its context by generation: one posted by a
    // context that is gone does nothing to the one now in its slot.
    OpenWithLayer(5, 0x05);
    worker.Run([&] {
        const int slot = Context()->GetRecord()->slot;
        const std::uint64_t generation = Context()->GetGeneration();
        Context()->Fail(); // queues event 0x20 and posts its notice
        QoS()->OnContextEvent(slot, generation + 1);
        int state = -1;
        Context()->GetState(&state);
        EXPECT_EQ(state, QOS_STATE_OPEN);
        EXPECT_EQ(layer->closed, 0);

        // Blocked both ways: the tick takes both flags, so the connection
        // resumes sending and receiving.
        std::uint32_t zero = 0;
        Context()->SetQuota(0, &zero);
        Context()->SetQuota(1, &zero);
        ASSERT_EQ(Context()->Enqueue("x", 1), OVR_PLATFORM_OK); // waits for the connection
        cpCQoSContextAction* action = Context()->GetAction();
        std::uint32_t sent = 0;
        action->Receive();
        action->Send(&sent);
        cpQoSStats stats;
        Context()->OnTick(&stats);
        EXPECT_FALSE(action->TakeReceiveBlocked());
        EXPECT_FALSE(action->TakeSendBlocked());

        // Layers added while the context closes do not upset the walk.
        RecordingLayer* first = layer;
        first->onClose = [&] {
            Context()->AddLayer(RecordingLayer::kClassId, false);
            Context()->AddLayer(RecordingLayer::kClassId, true);
        };
        QoS()->OnContextEvent(slot, generation); // the context's own event: 0x20 closes it
        EXPECT_EQ(first->closed, 1);
        Context()->GetState(&state);
        EXPECT_EQ(state, QOS_STATE_CLOSED);
    });
    Drain();
}

TEST(cpCReceiveBuffer, ConsumingNothingKeepsEverything)
{
    cpCReceiveBuffer buffer;
    ASSERT_EQ(buffer.Reserve(10), 10u);
    buffer.Consume(0);
    EXPECT_EQ(buffer.Capacity(), cpCReceiveBuffer::kInitialSize);
    std::memcpy(buffer.FreeSpace(), "abcde", 5);
    buffer.Commit(5);
    const std::uint8_t* data = buffer.Data();
    buffer.Consume(0);
    EXPECT_EQ(buffer.Data(), data);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.Data()), buffer.Held()), "abcde");
    buffer.Consume(2);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.Data()), buffer.Held()), "cde");
}
