// The layer's response parser fed directly, piece by piece, as the context
// would offer its receive buffer: where the head ends, what the listener is
// offered, when the body is complete, and what is refused.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "nw/nwCHttpClientExLayer.h"
#include "ov/ovClassIds.h"
#include "ov/ovSmartPtr.h"

namespace {

class Listener : public nwIHttpClientExEventListener {
public:
    void OnConnected(std::uint32_t) override { events.push_back("connected"); }
    void OnHeaderReceived(std::uint32_t) override
    {
        events.push_back("header");
        if (detachOnHeader) {
            layer->SetListener(nullptr, 0);
        }
    }
    int OnData(std::uint32_t, const std::uint8_t* data, std::uint32_t length) override
    {
        events.push_back("data:" + std::string(reinterpret_cast<const char*>(data), length));
        const std::uint32_t taken = std::min(length, take);
        body.append(reinterpret_cast<const char*>(data), taken);
        return answer ? *answer : static_cast<int>(taken);
    }
    void OnComplete(std::uint32_t) override { events.push_back("complete"); }
    void OnSendQueueEmpty(std::uint32_t) override { events.push_back("queue-empty"); }
    void OnClosed(std::uint32_t) override { events.push_back("closed"); }
    void OnConnectTimeout(std::uint32_t) override { events.push_back("connect-timeout"); }
    void OnRecvTimeout(std::uint32_t) override { events.push_back("recv-timeout"); }
    void OnHostUnreach(std::uint32_t) override { events.push_back("unreach"); }

    std::vector<std::string> events;
    std::string body;
    std::uint32_t take = UINT32_MAX;
    const int* answer = nullptr;
    bool detachOnHeader = false;
    ovIHttpClientExLayer* layer = nullptr;
};

class LayerStreamTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(holder.CreateInstance(OVCLS_HTTP_CLIENT_LAYER));
        iface = ovAsHttpClientExLayer(holder.Get());
        layer = static_cast<nwCHttpClientExLayer*>(iface);
        iface->SetListener(&listener, 1);
        listener.layer = iface;
    }

    // Offers the pending bytes plus `more`, keeps what was not consumed, and
    // answers the consumed count (as the context does with its buffer).
    int Offer(const std::string& more)
    {
        pending += more;
        const int consumed = layer->OnReceive(reinterpret_cast<const std::uint8_t*>(pending.data()),
                                              static_cast<std::uint32_t>(pending.size()));
        if (consumed > 0) {
            pending.erase(0, static_cast<std::size_t>(consumed));
        }
        return consumed;
    }

    ovSmartPtr holder;
    ovIHttpClientExLayer* iface = nullptr;
    nwCHttpClientExLayer* layer = nullptr;
    Listener listener;
    std::string pending;
};

using Events = std::vector<std::string>;

} // namespace

TEST_F(LayerStreamTest, FactoryLayerSharesOneCountBetweenItsTwoViews)
{
    EXPECT_EQ(layer->GetRefCount(), 1u);
    void* stack = nullptr;
    ASSERT_TRUE(holder.QueryInterface(OVIID_NET_STACK, &stack));
    static_cast<nwIQoSNetStack*>(stack)->AddRef();
    EXPECT_EQ(layer->GetRefCount(), 2u);
    iface->Release();
    EXPECT_EQ(layer->GetRefCount(), 1u);
    EXPECT_EQ(holder->QueryInterface(OVIID_NET_STACK + 1, &stack), OVR_NET_FAIL);
    // Without a context nothing can be sent or connected.
    EXPECT_EQ(iface->SetURL("http://127.0.0.1/"), OVR_NET_FAIL);
    EXPECT_EQ(iface->SendGET(), OVR_NET_FAIL);
    EXPECT_EQ(iface->SendBody(nullptr, 3), OVR_NET_FAIL);
    ovCString head;
    EXPECT_EQ(iface->GetRawHead(&head), OVR_NET_FAIL);
    int code = -1;
    iface->GetStatusCode(&code);
    EXPECT_EQ(code, 0);
}

TEST_F(LayerStreamTest, HeadSplitAcrossReadsIsParsedOnceTheBlankLineArrivesThenBodyFollows)
{
    EXPECT_EQ(Offer("HT"), 0);
    EXPECT_EQ(Offer("TP/1.1 200 OK\r\nContent-Length: 10\r\n\r"), 0);
    EXPECT_TRUE(listener.events.empty());
    // The rest of the head and the first 4 body bytes in one read.
    EXPECT_EQ(Offer("\nabcd"), 39 + 4);
    EXPECT_EQ(listener.events, (Events{"header", "data:abcd"}));
    EXPECT_EQ(Offer("efghij"), 6);
    EXPECT_EQ(listener.events, (Events{"header", "data:abcd", "data:efghij", "complete"}));
    EXPECT_EQ(listener.body, "abcdefghij");
    ovCString value;
    ASSERT_EQ(iface->GetResponseHeader("content-length:", &value), OVR_NET_OK);
    EXPECT_STREQ(value.GetString(), "10");
    ASSERT_EQ(iface->GetRawHead(&value), OVR_NET_OK);
    EXPECT_STREQ(value.GetString(), "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n");

    // Bytes past the announced length are no part of the body.
    EXPECT_EQ(Offer("XYZ"), 3);
    EXPECT_EQ(listener.events.size(), 4u);
    EXPECT_EQ(listener.body, "abcdefghij");
}

TEST_F(LayerStreamTest, BytesNotTakenAreOfferedAgainWithTheNextOnes)
{
    listener.take = 3;
    Offer("HTTP/1.1 206 Partial Content\r\nContent-Length: 8\r\n\r\n");
    Offer("abcde");
    // The dispatcher offers the rest again at once: 3 taken, then 2.
    EXPECT_EQ(listener.events, (Events{"header", "data:abcde", "data:de"}));
    listener.take = 1;
    Offer("fgh");
    EXPECT_EQ(listener.events,
              (Events{"header", "data:abcde", "data:de", "data:fgh", "data:gh", "data:h", "complete"}));
    EXPECT_EQ(listener.body, "abcdefgh");
    EXPECT_EQ(layer->GetBodyReceived(), 8);
}

TEST_F(LayerStreamTest, ListenerThatTakesNothingKeepsTheBytesBuffered)
{
    listener.take = 0;
    Offer("HTTP/1.1 200 OK\r\n\r\nabc");
    EXPECT_EQ(pending, "abc");
    listener.take = UINT32_MAX;
    EXPECT_EQ(Offer("d"), 4);
    EXPECT_EQ(listener.body, "abcd");
    // No Content-Length: never complete.
    EXPECT_EQ(std::count(listener.events.begin(), listener.events.end(), "complete"), 0);
}

TEST_F(LayerStreamTest, AnswerOutsideTheOfferedRangeFailsTheStream)
{
    Offer("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n");
    const int tooMany = 5;
    listener.answer = &tooMany;
    EXPECT_LT(Offer("abc"), 0);
    const int negative = -1;
    listener.answer = &negative;
    EXPECT_LT(Offer(""), 0);
    EXPECT_EQ(layer->GetBodyReceived(), 0);
}

TEST_F(LayerStreamTest, ChunkedBodyReachesTheListenerDecodedInAnyCutAndCompletesAtTheLastChunk)
{
    const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 3\r\n\r\n";
    const std::string body =
        "5;name=x\r\nhello\r\n1A \r\n" + std::string(26, 'z') + "\r\n0\r\nX-Trailer: ignored\r\n\r\nafter";
    const std::string payload = "hello" + std::string(26, 'z');
    // Every cut of the stream into two reads, with a listener taking all or
    // three bytes at a time, gives the same payload and one completion.
    for (std::uint32_t take : {UINT32_MAX, 3u}) {
        for (std::size_t cut = 0; cut <= body.size(); ++cut) {
            SetUp();
            listener = Listener();
            listener.take = take;
            iface->SetListener(&listener, 1);
            pending.clear();
            Offer(head + body.substr(0, cut));
            Offer(body.substr(cut));
            EXPECT_EQ(listener.body, payload) << cut;
            EXPECT_EQ(std::count(listener.events.begin(), listener.events.end(), "complete"), 1) << cut;
            EXPECT_EQ(pending, "") << cut;
            EXPECT_TRUE(layer->IsChunkedBody());
            std::int64_t length = -1;
            iface->GetContentLength(&length);
            EXPECT_EQ(length, 0);
        }
    }
}

TEST_F(LayerStreamTest, MalformedChunksAndHeadsThatAreNoResponseFailTheStream)
{
    const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (const std::string& bad :
         {std::string("zz\r\n"), std::string("5\r\nhelloX\r\n"), std::string(";x\r\n"), std::string("5 x\r\n"),
          std::string("FFFFFFFFFFFFFFFFF\r\n"), std::string(5000, '1')}) {
        SetUp();
        listener = Listener();
        iface->SetListener(&listener, 1);
        pending.clear();
        EXPECT_LT(Offer(head + bad), 0) << bad.substr(0, 20);
        EXPECT_EQ(std::count(listener.events.begin(), listener.events.end(), "complete"), 0);
    }
    // A size line may wait for its end, but not beyond the bound.
    SetUp();
    listener = Listener();
    iface->SetListener(&listener, 1);
    pending.clear();
    EXPECT_GT(Offer(head + "1234"), 0);
    EXPECT_EQ(pending, "1234");

    for (const char* notResponse : {"ICY 200 OK\r\n\r\n", "HTTP/1.1 OK\r\n\r\n", "<html>\r\n\r\n"}) {
        SetUp();
        listener = Listener();
        iface->SetListener(&listener, 1);
        pending.clear();
        EXPECT_LT(Offer(notResponse), 0) << notResponse;
        EXPECT_TRUE(listener.events.empty());
    }
}

TEST_F(LayerStreamTest, HeadThatGrowsPastSixtyFourKibWithoutItsBlankLineIsRefused)
{
    std::string head = "HTTP/1.1 200 OK\r\n";
    while (head.size() < 64 * 1024 - 40) {
        head += "X-Filler: aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\r\n";
    }
    EXPECT_EQ(Offer(head), 0); // still below the bound: wait for more
    std::string filler(64 * 1024 - pending.size(), 'b');
    EXPECT_LT(Offer(filler), 0);
    EXPECT_TRUE(listener.events.empty());
}

TEST_F(LayerStreamTest, HeadEndingExactlyAtTheBoundIsAccepted)
{
    std::string head = "HTTP/1.1 200 OK\r\nX-Filler: ";
    head += std::string(64 * 1024 - head.size() - 4, 'a');
    head += "\r\n\r\n";
    ASSERT_EQ(head.size(), 64u * 1024);
    EXPECT_EQ(Offer(head + "body"), static_cast<int>(head.size() + 4));
    EXPECT_EQ(listener.events, (Events{"header", "data:body"}));
}

TEST_F(LayerStreamTest, NothingReachesAListenerThatDetachedItself)
{
    listener.detachOnHeader = true;
    EXPECT_EQ(Offer("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc"), 38);
    EXPECT_EQ(pending, "abc"); // left for nobody
    layer->OnClosed();
    EXPECT_EQ(listener.events, (Events{"header"}));
}

TEST_F(LayerStreamTest, LayerSlotsBecomeListenerNotificationsAndCloseDetaches)
{
    EXPECT_TRUE(layer->OnConnected());
    EXPECT_TRUE(layer->OnUnreachable());
    EXPECT_TRUE(layer->OnEvent(QOS_CONNECT_FAILED, 0));
    EXPECT_TRUE(layer->OnEvent(QOS_IDLE_TIMEOUT, 0));
    EXPECT_TRUE(layer->OnEvent(QOS_SEND_QUEUE_EMPTY, 0)); // no POST active
    layer->OnClosed();
    layer->OnConnected();
    EXPECT_EQ(listener.events,
              (Events{"connected", "unreach", "connect-timeout", "recv-timeout", "queue-empty", "closed"}));
    // The dispatcher is stopped: nothing more is consumed.
    EXPECT_EQ(Offer("HTTP/1.1 200 OK\r\n\r\n"), 0);
}
