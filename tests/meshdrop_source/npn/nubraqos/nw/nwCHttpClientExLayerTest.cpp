// The HTTP client layer on real loopback connections against the scriptable
// server: the request bytes as they leave, and the listener's notifications
// in order for normal answers and for every fault a server can commit.

#include <arpa/inet.h>

#include <cstring>
#include <regex>
#include <string>

#include "HttpLayerFixture.h"
#include "LoopbackPeer.h"
#include "ScriptedHttpServer.h"
#include "TempDir.h"
#include "cp/cpCQoS.h"

using testsupport::HttpConnection;
using testsupport::ScriptedHttpServer;
using Events = std::vector<std::string>;

namespace {

// Resolves the name "h" to 127.0.0.1 (and nothing else), so that requests can
// carry "Host: h" while going to a local server.
OVRESULT ResolveH(const char* name, std::vector<cpAddress>* addresses)
{
    if (std::strcmp(name, "h") != 0) {
        return OVR_PLATFORM_FAIL;
    }
    addresses->push_back(htonl(INADDR_LOOPBACK));
    return OVR_PLATFORM_OK;
}

std::string HeadWith(const std::string& firstLines)
{
    return firstLines + "\r\n";
}

class ScriptedLayerTest : public HttpLayerTest {
protected:
    void UseNameH()
    {
        worker.Run([] { cpCHostCache::GetInstance().SetResolver(&ResolveH); });
    }
};

} // namespace

TEST_F(ScriptedLayerTest, GetLeavesByteForByteAndTheBodyArrivesInOrderThenCompletesOnce)
{
    const std::string body = testsupport::patternBytes(50'000, 3);
    ScriptedHttpServer server([&](HttpConnection& c, int) {
        if (!c.readRequest()) {
            return;
        }
        // Head in two writes, body in three.
        c.send("HTTP/1.1 206 Partial Content\r\nContent-Le");
        c.send("ngth: " + std::to_string(body.size()) + "\r\n\r\n" + body.substr(0, 10));
        c.send(body.substr(10, 20'000));
        c.send(body.substr(20'010));
        c.waitForPeerClose();
    });
    UseNameH();
    listener.maxTake = 777; // the rest of every offer comes again
    StartGet("http://h:" + std::to_string(server.port()) + "/a b/c.txt?x=1&y",
             {{"Range", "bytes=5-"}, {"Cookie", "a=b c"}, {"X-Name", "a b"}});
    ASSERT_TRUE(WaitFor("complete"));
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].rawHead, "GET /a%20b/c.txt?x=1 HTTP/1.1\r\n"
                                            "Accept: */*\r\n"
                                            "Referer: http://www.nubrapeer.com\r\n"
                                            "Accept-Language: ko\r\n"
                                            "User-Agent: NubraClient\r\n"
                                            "Range: bytes=5-\r\n"
                                            "Host: h\r\n"
                                            "Connection: Keep-Alive\r\n"
                                            "Cookie: a=b c\r\n"
                                            "X-Name: a%20b\r\n"
                                            "\r\n");
    EXPECT_EQ(Seen(), (Events{"connected", "header", "data", "complete"}));
    worker.Run([&] {
        EXPECT_TRUE(listener.body == body);
        EXPECT_FALSE(listener.wrongCookie);
        for (std::uint32_t offered : listener.offered) {
            EXPECT_GT(offered, 0u);
        }
    });
    EXPECT_EQ(StatusCode(), 206);
    EXPECT_EQ(ContentLength(), static_cast<std::int64_t>(body.size()));
}

TEST_F(ScriptedLayerTest, BracketedLiteralConnectsOverIPv6AndNamesItsHostInBrackets)
{
    ScriptedHttpServer server(
        [](HttpConnection& c, int) {
            if (c.readRequest()) {
                c.respond(200, "OK", "over v6");
            }
            c.waitForPeerClose();
        },
        AF_INET6);
    if (server.port() == 0) {
        GTEST_SKIP() << "no IPv6 loopback (::1) on this machine";
    }
    StartGet(server.url("/x"));
    ASSERT_TRUE(WaitFor("complete"));
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].target, "/x");
    EXPECT_EQ(server.requests()[0].header("Host"), "[::1]");
    worker.Run([&] { EXPECT_EQ(listener.body, "over v6"); });
}

TEST_F(ScriptedLayerTest, PlainHostSendsSlashAndEmptyPiecesOfThePathAreDropped)
{
    ScriptedHttpServer server([](HttpConnection& c, int) {
        if (c.readRequest()) {
            c.respond(200, "OK", "x");
        }
        c.waitForPeerClose();
    });
    StartGet("http://127.0.0.1:" + std::to_string(server.port()));
    ASSERT_TRUE(WaitFor("complete"));
    EXPECT_EQ(server.requests()[0].target, "/");
    EXPECT_EQ(server.requests()[0].header("Host"), "127.0.0.1");
    worker.Run([&] {
        layer->SetListener(nullptr, 0);
        ctx.Get<ovIQoSContext>()->Close();
        listener = RecordingHttpListener();
    });

    StartGet("http://127.0.0.1:" + std::to_string(server.port()) + "/dir//sub/?q=b%20c");
    ASSERT_TRUE(WaitFor("complete"));
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(server.requests()[1].target, "/dir/sub?q=b%2520c");
}

TEST_F(ScriptedLayerTest, PostSendsHeadPartBodyAndTrailerAndAsksForMoreBody)
{
    LoopbackPeer peer;
    UseNameH();
    worker.Run([&] {
        OpenOnWorker();
        listener.onSendQueueEmpty = [&] { layer->SendBody("56789", 5); };
        ASSERT_EQ(layer->SetURL(("http://h:" + std::to_string(peer.Port()) + "/up load").c_str()), OVR_NET_OK);
        ASSERT_EQ(layer->AddParameter("id", "7 8"), OVR_NET_OK);
        ASSERT_EQ(layer->SendPOST(10), OVR_NET_OK);
        ASSERT_EQ(layer->SendBody("01234", 5), OVR_NET_OK);
    });
    ASSERT_TRUE(peer.Accept());
    const std::string boundaryShape = "---------------------------0000000000000000";
    auto expected = [](const std::string& boundary) {
        const std::string partHead = "--" + boundary +
                                     "\r\n"
                                     "Content-Disposition: form-data; name=attach_file; filename=unknown\r\n"
                                     "Content-Type: application/octet-stream\r\n";
        const std::string trailer = "\r\n--" + boundary + "--\r\n";
        const std::size_t follows = partHead.size() + 2 + 10 + trailer.size();
        return "POST /up%20load?id=7%208 HTTP/1.1\r\n"
               "Accept: */*\r\n"
               "Referer: http://www.nubrapeer.com\r\n"
               "Accept-Language: ko\r\n"
               "Content-Type: multipart/form-data; boundary=" +
               boundary +
               "\r\n"
               "User-Agent: NubraClient\r\n"
               "Host: h\r\n"
               "Content-Length: " +
               std::to_string(follows - 2) +
               "\r\n"
               "Connection: Keep-Alive\r\n"
               "\r\n" +
               partHead + "\r\n" + "0123456789" + trailer;
    };
    std::string got;
    ASSERT_TRUE(peer.ReadExactly(expected(boundaryShape).size(), &got));
    std::smatch match;
    ASSERT_TRUE(std::regex_search(got, match, std::regex("boundary=(-{27}[0-9A-F]{16})\r\n")));
    EXPECT_EQ(got, expected(match[1].str()));

    ASSERT_TRUE(peer.SendAll("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"));
    ASSERT_TRUE(WaitFor("complete"));
    EXPECT_EQ(Seen(), (Events{"connected", "queue-empty", "header", "data", "complete"}));
}

TEST_F(ScriptedLayerTest, CloseBeforeTheHeadIsReportedAsClosedOnly)
{
    ScriptedHttpServer server([](HttpConnection& c, int) {
        c.readRequest();
        c.close();
    });
    StartGet(server.url("/f"));
    ASSERT_TRUE(WaitFor("closed"));
    EXPECT_EQ(Seen(), (Events{"connected", "closed"}));
    EXPECT_EQ(State(), QOS_STATE_CLOSED);
    EXPECT_EQ(StatusCode(), 0);
}

TEST_F(ScriptedLayerTest, CloseMidBodyDeliversWhatCameAndNeverCompletes)
{
    ScriptedHttpServer server([](HttpConnection& c, int) {
        c.readRequest();
        c.send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + std::string(40, 'z'));
        c.close();
    });
    StartGet(server.url("/f"));
    ASSERT_TRUE(WaitFor("closed"));
    EXPECT_EQ(Seen(), (Events{"connected", "header", "data", "closed"}));
    worker.Run([&] { EXPECT_EQ(listener.body, std::string(40, 'z')); });
}

TEST_F(ScriptedLayerTest, AnswerWithoutLengthStreamsUntilTheClose)
{
    ScriptedHttpServer server([](HttpConnection& c, int) {
        c.readRequest();
        c.send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nabc");
        c.send("def");
        c.close();
    });
    StartGet(server.url("/f"));
    ASSERT_TRUE(WaitFor("closed"));
    EXPECT_EQ(Seen(), (Events{"connected", "header", "data", "closed"}));
    worker.Run([&] { EXPECT_EQ(listener.body, "abcdef"); });
    EXPECT_EQ(ContentLength(), 0);
}

TEST_F(ScriptedLayerTest, RedirectsAndErrorsAreLeftToTheCaller)
{
    ScriptedHttpServer server([](HttpConnection& c, int index) {
        c.readRequest();
        if (index == 0) {
            c.respond(302, "Found", "", {{"Location", "http://h/a%20b"}});
        } else if (index == 1) {
            c.respond(303, "See Other", "");
        } else {
            c.respond(404, "Not Found", "nope");
        }
        c.waitForPeerClose();
    });
    const int expectedStatus[] = {302, 303, 404};
    const char* expectedLocation[] = {"http://h/a b", "<none>", "<none>"};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        StartGet(server.url("/f"));
        ASSERT_TRUE(WaitFor("header"));
        EXPECT_EQ(StatusCode(), expectedStatus[i]);
        EXPECT_EQ(ResponseHeader("Location:"), expectedLocation[i]);
        if (i == 2) {
            ASSERT_TRUE(WaitFor("complete"));
            worker.Run([&] { EXPECT_EQ(listener.body, "nope"); });
        }
        worker.Run([&] {
            layer->SetListener(nullptr, 0);
            ctx.Get<ovIQoSContext>()->Close();
            listener = RecordingHttpListener();
        });
    }
}

TEST_F(ScriptedLayerTest, StallPastTheIdleTimeOutIsAReceiveTimeOut)
{
    ScriptedHttpServer server([](HttpConnection& c, int) {
        c.readRequest();
        c.send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nab");
        c.waitForPeerClose();
    });
    StartGet(server.url("/f"), {}, /*idleTimeout=*/1);
    ASSERT_TRUE(WaitFor("recv-timeout"));
    EXPECT_EQ(Seen(), (Events{"connected", "header", "data", "recv-timeout"}));
    EXPECT_NE(State(), QOS_STATE_CLOSED); // the caller decides
}

TEST_F(ScriptedLayerTest, RefusedPortIsAConnectTimeOutThenAClose)
{
    std::uint16_t port = 0;
    {
        LoopbackPeer closed;
        port = closed.Port();
        closed.CloseAll();
    }
    StartGet("http://127.0.0.1:" + std::to_string(port) + "/f");
    ASSERT_TRUE(WaitFor("closed"));
    EXPECT_EQ(Seen(), (Events{"connect-timeout", "closed"}));
}

TEST_F(ScriptedLayerTest, UnreachableHostIsReportedThenTheConnectFailure)
{
    worker.Run([&] {
        OpenOnWorker();
        // The platform's report, as the socket window hands it on.
        auto* context = static_cast<cpCQoSContext*>(ctx.Get<ovIQoSContext>());
        worker.GetNpn()->GetQoS()->OnSocketEvent(context->GetRecord()->slot, context->GetRecord()->socket,
                                                 CP_SOCKET_EVENT_UNREACHABLE, 10065);
    });
    ASSERT_TRUE(WaitFor("closed"));
    EXPECT_EQ(Seen(), (Events{"unreach", "connect-timeout", "closed"}));
}

TEST_F(ScriptedLayerTest, HeadWithoutEndPastSixtyFourKibClosesTheConnection)
{
    ScriptedHttpServer server([](HttpConnection& c, int) {
        c.readRequest();
        std::string head = "HTTP/1.1 200 OK\r\n";
        while (head.size() < 70 * 1024) {
            head += "X-Filler: " + std::string(60, 'f') + "\r\n";
        }
        c.send(head);
        c.waitForPeerClose();
    });
    StartGet(server.url("/f"));
    ASSERT_TRUE(WaitFor("closed"));
    EXPECT_EQ(Seen(), (Events{"connected", "closed"}));
}

TEST_F(ScriptedLayerTest, NothingIsReportedAfterTheListenerDetached)
{
    ScriptedHttpServer server([](HttpConnection& c, int) {
        c.readRequest();
        c.send(HeadWith("HTTP/1.1 200 OK\r\nContent-Length: 5") + "\r\nabcde");
        c.close();
    });
    listener.onHeader = [&] { layer->SetListener(nullptr, 0); };
    StartGet(server.url("/f"));
    ASSERT_TRUE(worker.WaitUntil([&] {
        int state = 0;
        ctx.Get<ovIQoSContext>()->GetState(&state);
        return state == QOS_STATE_CLOSED;
    }));
    EXPECT_EQ(Seen(), (Events{"connected", "header"}));
}

TEST_F(ScriptedLayerTest, SetUrlFailsWithNothingConnected)
{
    ScriptedHttpServer server(ScriptedHttpServer::serveBody("x"));
    worker.Run([&] {
        OpenOnWorker();
        const std::string port = std::to_string(server.port());
        EXPECT_EQ(layer->SetURL("http://no-such-host.invalid/f"), OVR_NET_FAIL);
        EXPECT_EQ(layer->SetURL(("ftp://127.0.0.1:" + port + "/f").c_str()), OVR_NET_FAIL);
        EXPECT_EQ(layer->SetURL(""), OVR_NET_FAIL);
        EXPECT_EQ(layer->SetURL(nullptr), OVR_NET_FAIL);
        EXPECT_EQ(layer->AddHeader("X-Evil", "a\r\nInjected: 1"), OVR_NET_FAIL);
        EXPECT_EQ(layer->AddHeader("", "v"), OVR_NET_FAIL);
        int state = 0;
        ctx.Get<ovIQoSContext>()->GetState(&state);
        EXPECT_EQ(state, QOS_STATE_OPEN);
        // A context that already connects takes no second address.
        EXPECT_EQ(layer->SetURL(server.url("/f").c_str()), OVR_NET_OK);
        EXPECT_EQ(layer->SetURL(server.url("/g").c_str()), OVR_NET_FAIL);
    });
    EXPECT_TRUE(server.waitForConnections(1));
    EXPECT_EQ(server.connectionCount(), 1);
}
