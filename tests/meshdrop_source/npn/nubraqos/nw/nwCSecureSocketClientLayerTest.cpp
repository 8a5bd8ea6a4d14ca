// The TLS client layer under the HTTP client layer on real loopback
// connections to nginx over TLS, with certificates made at test time: what
// arrives, what is refused and why, and the wrapper's lifetime when a listener
// closes the connection from inside the plaintext delivery.

#include <memory>
#include <string>

#include "ByteByByteRelay.h"
#include "HttpLayerFixture.h"
#include "Lib_SSL/COpenSSL.h"
#include "Lib_SSL/SSLCertificates.h"
#include "LoopbackPeer.h"
#include "NginxServer.h"
#include "TempDir.h"
#include "TlsCases.h"
#include "nw/nwCSecureSocketClientLayer.h"

using testsupport::ByteByByteRelay;
using testsupport::NginxServer;
using testsupport::TlsCase;
using testsupport::TlsCases;
using Events = std::vector<std::string>;

namespace {

class TlsLayerTest : public HttpLayerTest {
protected:
    static void SetUpTestSuite() { s_cases = std::make_unique<TlsCases>(); }
    static void TearDownTestSuite() { s_cases.reset(); }

    void SetUp() override
    {
        HttpLayerTest::SetUp();
        ASSERT_TRUE(s_cases->ok()) << s_cases->error();
        m_liveBefore = COpenSSL::GetLiveCount();
    }

    // nginx over TLS serving `m_root`, set up as `which`.
    std::unique_ptr<NginxServer> Serve(TlsCase which)
    {
        auto nginx = std::make_unique<NginxServer>(m_root.path());
        nginx->useTls(s_cases->settings(which));
        EXPECT_TRUE(nginx->start()) << nginx->error();
        return nginx;
    }

    // Ends the current request and forgets what the listener saw.
    void Reset()
    {
        worker.Run([&] {
            layer->SetListener(nullptr, 0);
            ctx.Get<ovIQoSContext>()->Close();
            ctx.Reset();
            layer = nullptr;
            listener = RecordingHttpListener();
        });
    }

    nwCSecureSocketClientLayer* TlsLayer()
    {
        auto* context = static_cast<cpCQoSContext*>(ctx.Get<ovIQoSContext>());
        ovIUnknown* found = nullptr;
        if (OV_FAILED(context->FindLayer(OVCLS_TLS_LAYER, &found))) {
            return nullptr;
        }
        return static_cast<nwCSecureSocketClientLayer*>(static_cast<ovISecureSocketClientLayer*>(found));
    }

    static std::unique_ptr<TlsCases> s_cases;
    testsupport::TempDir m_root{"meshdrop-tls-root"};
    int m_liveBefore = 0;
};

std::unique_ptr<TlsCases> TlsLayerTest::s_cases;

} // namespace

TEST_F(TlsLayerTest, AnHttpsGetIsSentAfterTheHandshakeAndItsBodyArrivesByteExact)
{
    const std::string body = testsupport::patternBytes(300'000, 5);
    ASSERT_TRUE(testsupport::writeFile(m_root.file("f.bin"), body));
    auto nginx = Serve(TlsCase::Good);
    // The GET is written before the connection even exists: it waits for the
    // handshake and leaves encrypted right after it.
    StartGet(nginx->url("/f.bin"));
    ASSERT_TRUE(WaitFor("complete"));
    EXPECT_EQ(Seen(), (Events{"connected", "header", "data", "complete"}));
    EXPECT_EQ(StatusCode(), 200);
    worker.Run([&] {
        EXPECT_TRUE(listener.body == body);
        auto* context = static_cast<cpCQoSContext*>(ctx.Get<ovIQoSContext>());
        ASSERT_EQ(context->GetLayerCount(), 2);
        nwCSecureSocketClientLayer* tls = TlsLayer();
        ASSERT_NE(tls, nullptr);
        EXPECT_EQ(static_cast<ovIUnknown*>(static_cast<ovISecureSocketClientLayer*>(tls)), context->GetLayerAt(1));
        EXPECT_TRUE(tls->IsHandshakeComplete());
        EXPECT_EQ(tls->GetFailure(), "");
        // The context is connected: a second address pushes no second layer.
        EXPECT_EQ(layer->SetURL(nginx->url("/f.bin").c_str()), OVR_NET_FAIL);
        EXPECT_EQ(context->GetLayerCount(), 2);
    });
    Reset();
    EXPECT_TRUE(worker.WaitUntil([&] { return COpenSSL::GetLiveCount() == m_liveBefore; }));
}

TEST_F(TlsLayerTest, RecordsArrivingOneByteAtATimeAreConsumedAsTheyCome)
{
    const std::string body = testsupport::patternBytes(40'000, 9);
    ASSERT_TRUE(testsupport::writeFile(m_root.file("g.bin"), body));
    auto nginx = Serve(TlsCase::Good);
    ByteByByteRelay relay(nginx->port());
    StartGet("https://127.0.0.1:" + std::to_string(relay.port()) + "/g.bin");
    ASSERT_TRUE(
        worker.WaitUntil([&] { return listener.Saw("complete") || listener.Saw("closed"); }, std::chrono::seconds(60)));
    EXPECT_EQ(Seen(), (Events{"connected", "header", "data", "complete"}));
    worker.Run([&] { EXPECT_TRUE(listener.body == body); });
}

TEST_F(TlsLayerTest, EveryRefusedServerClosesTheConnectionWithItsReason)
{
    ASSERT_TRUE(testsupport::writeFile(m_root.file("f.bin"), "secret"));
    const std::pair<TlsCase, const char*> expected[] = {
        {TlsCase::OtherHost, "IP address mismatch"},
        {TlsCase::UnknownAuthority, "unable to get local issuer certificate"},
        {TlsCase::Expired, "certificate has expired"},
        {TlsCase::OnlyTls10, "protocol version"},
    };
    for (const auto& [which, reason] : expected) {
        SCOPED_TRACE(TlsCases::name(which));
        auto nginx = Serve(which);
        if (which == TlsCase::OnlyTls10) {
            // The server does speak TLS 1.0: the refusal is the client's.
            EXPECT_EQ(testsupport::tls10HandshakeVersion(nginx->port()), "TLSv1");
        }
        StartGet(nginx->url("/f.bin"));
        ASSERT_TRUE(WaitFor("closed"));
        EXPECT_EQ(Seen(), (Events{"connected", "closed"}));
        worker.Run([&] {
            EXPECT_EQ(listener.body, "");
            nwCSecureSocketClientLayer* tls = TlsLayer();
            ASSERT_NE(tls, nullptr);
            EXPECT_FALSE(tls->IsHandshakeComplete());
            EXPECT_FALSE(tls->HasWrapper());
            EXPECT_NE(tls->GetFailure().find(reason), std::string::npos) << tls->GetFailure();
        });
        Reset();
    }
    EXPECT_EQ(COpenSSL::GetLiveCount(), m_liveBefore);
}

TEST_F(TlsLayerTest, AListenerClosingDuringDeliveryFreesTheWrapperOnlyAfterTheReadReturns)
{
    ASSERT_TRUE(testsupport::writeFile(m_root.file("f.bin"), std::string(5000, 'x')));
    auto nginx = Serve(TlsCase::Good);
    bool heldDuringClose = false;
    listener.onHeader = [&] {
        // Inside SSL_read's delivery: the close is only noted.
        ctx.Get<ovIQoSContext>()->Close();
        heldDuringClose = TlsLayer()->HasWrapper() && COpenSSL::GetLiveCount() == m_liveBefore + 1;
    };
    StartGet(nginx->url("/f.bin"));
    ASSERT_TRUE(WaitFor("closed"));
    worker.Run([&] {
        EXPECT_TRUE(heldDuringClose);
        EXPECT_FALSE(TlsLayer()->HasWrapper());
        EXPECT_EQ(COpenSSL::GetLiveCount(), m_liveBefore);
    });
    EXPECT_EQ(Seen(), (Events{"connected", "header", "closed"}));
}

TEST_F(TlsLayerTest, TheBuiltInTableAddsNothingAndAListedCertificateIsTrustedForItsHostOnly)
{
    static std::vector<std::string> lines;
    lines.clear();
    const SSLLogWriter log = [](const char* line) { lines.emplace_back(line); };
    const std::size_t before = SSLCertificates::GetCount();
    EXPECT_EQ(SSLCertificates::Install(SSLCertificates::BuiltInTable(), log), 0);
    EXPECT_EQ(lines, std::vector<std::string>{});

    // The stranger's authority, listed for 127.0.0.1 (and garbage that does
    // not parse), makes its certificate good for that host.
    const std::string pem = testsupport::readFile(s_cases->stranger().authority());
    const SSLCertificateEntry table[] = {
        {"127.0.0.1", pem.c_str()}, {"broken", "not a certificate"}, {nullptr, nullptr}};
    EXPECT_EQ(SSLCertificates::Install(table, log), 1);
    EXPECT_EQ(SSLCertificates::Install(table, log), 0);
    EXPECT_EQ(lines, std::vector<std::string>{"Add Certificate Ok - 127.0.0.1"});
    EXPECT_EQ(SSLCertificates::GetCount(), before + 1);

    ASSERT_TRUE(testsupport::writeFile(m_root.file("f.bin"), "abc"));
    auto nginx = Serve(TlsCase::UnknownAuthority);
    StartGet(nginx->url("/f.bin"));
    ASSERT_TRUE(WaitFor("complete"));
    worker.Run([&] { EXPECT_EQ(listener.body, "abc"); });
    Reset();
    // Under another name the same server is not trusted.
    StartGet("https://localhost:" + std::to_string(nginx->port()) + "/f.bin");
    ASSERT_TRUE(WaitFor("closed"));
    worker.Run([&] { EXPECT_EQ(listener.body, ""); });
    SSLCertificates::FreeAll();
}

TEST(TlsRuntimeEnd, AConnectionStillOpenWhenTheRuntimeCleansUpIsClosedSafelyAfterIt)
{
    TlsCases cases;
    ASSERT_TRUE(cases.ok()) << cases.error();
    testsupport::TempDir root("meshdrop-tls-end");
    ASSERT_TRUE(testsupport::writeFile(root.file("f.bin"), "kept open"));
    NginxServer nginx(root.path());
    nginx.useTls(cases.settings(TlsCase::Good));
    ASSERT_TRUE(nginx.start()) << nginx.error();
    const int before = COpenSSL::GetLiveCount();
    RecordingHttpListener listener;
    ovSmartPtr ctx;
    {
        NpnWorker worker;
        ASSERT_TRUE(worker.IsStarted());
        worker.Run([&] {
            ASSERT_TRUE(ctx.CreateInstance(OVCLS_QOS_CONTEXT));
            ovIQoSContext* context = ctx.Get<ovIQoSContext>();
            ASSERT_EQ(context->Open(1, QOS_CONNECT_FAILED | QOS_IDLE_TIMEOUT, nullptr), OVR_PLATFORM_OK);
            ASSERT_EQ(context->AddLayer(OVCLS_HTTP_CLIENT_LAYER, false), OVR_PLATFORM_OK);
            ovIHttpClientExLayer* layer = ovAsHttpClientExLayer(context->GetTopLayer());
            layer->SetListener(&listener, RecordingHttpListener::kCookie);
            ASSERT_EQ(layer->SetURL(nginx.url("/f.bin").c_str()), OVR_NET_OK);
            ASSERT_EQ(layer->SendGET(), OVR_NET_OK);
        });
        ASSERT_TRUE(worker.WaitUntil([&] { return listener.Saw("complete"); }));
        EXPECT_EQ(COpenSSL::GetLiveCount(), before + 1);
        // The worker ends with the keep-alive connection open: the runtime
        // cleans OpenSSL up first and closes the connection after it.
    }
    EXPECT_EQ(COpenSSL::GetLiveCount(), before);
    EXPECT_TRUE(listener.Saw("closed"));
    ctx.Reset();
}
