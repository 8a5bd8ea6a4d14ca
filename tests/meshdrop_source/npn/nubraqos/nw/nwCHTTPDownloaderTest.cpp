// The HTTP downloader on the library worker against scripted servers (and
// nginx over TLS): whole resources, redirects, the bounds it keeps, three
// tries on an unreachable host, cancelling, and one report per download.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "NginxServer.h"
#include "NpnWorker.h"
#include "ScriptedHttpServer.h"
#include "TempDir.h"
#include "TlsCases.h"
#include "cp/CNpn.h"
#include "cp/cpCQoS.h"
#include "cp/cpCQoSContext.h"
#include "nw/nwCHTTPDownloader.h"
#include "ov/ovClassIds.h"
#include "ov/ovSmartPtr.h"

using testsupport::HttpConnection;
using testsupport::ScriptedHttpServer;

namespace {

// Every report in arrival order; touched on the worker only.
class RecordingClient : public nwIHTTPDownloaderEventListener {
public:
    struct Report {
        std::string kind;
        std::uint32_t userValue;
        std::string data;
    };
    void OnDownloaded(std::uint32_t key, std::uint32_t userValue, const void* data, std::uint32_t size) override
    {
        reports[key].push_back({"data", userValue, std::string(static_cast<const char*>(data), size)});
    }
    void OnDownloadFailed(std::uint32_t key, std::uint32_t userValue) override
    {
        reports[key].push_back({"failed", userValue, ""});
    }
    void OnDownloadUnreachable(std::uint32_t key, std::uint32_t userValue) override
    {
        reports[key].push_back({"unreachable", userValue, ""});
    }
    // "kind" of the key's only report, or a description of what came instead.
    std::string Only(std::uint32_t key) const
    {
        auto it = reports.find(key);
        if (it == reports.end() || it->second.size() != 1) {
            return it == reports.end() ? "<none>" : "<" + std::to_string(it->second.size()) + " reports>";
        }
        return it->second[0].kind;
    }
    std::map<std::uint32_t, std::vector<Report>> reports;
};

class DownloaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(worker.IsStarted());
        worker.Run([&] {
            ASSERT_TRUE(object.CreateInstance(OVCLS_HTTP_DOWNLOADER));
            downloader = static_cast<nwCHTTPDownloader*>(object.Get<ovIHTTPDownloader>());
            downloader->SetListener(&client);
        });
    }
    void TearDown() override
    {
        worker.Run([&] { object.Reset(); });
    }

    void Download(std::uint32_t key, const std::string& url, std::uint32_t userValue = 0)
    {
        worker.Run([&] { EXPECT_EQ(downloader->Download(key, url.c_str(), userValue), OVR_NET_OK); });
    }
    // Waits until every download has ended.
    bool WaitIdle()
    {
        return worker.WaitUntil([&] { return downloader->GetRunningCount() == 0; }, std::chrono::seconds(30));
    }
    std::string Only(std::uint32_t key)
    {
        return worker.Call([&] { return client.Only(key); });
    }
    std::string Data(std::uint32_t key)
    {
        return worker.Call([&] { return client.reports[key].empty() ? "" : client.reports[key][0].data; });
    }

    NpnWorker worker;
    RecordingClient client;
    ovSmartPtr object;
    nwCHTTPDownloader* downloader = nullptr;
};

// Answers by path: a fixed set of responses a test names.
ScriptedHttpServer::Handler Answer(std::map<std::string, std::string> responses)
{
    return [responses](HttpConnection& c, int) {
        auto request = c.readRequest();
        if (!request) {
            return;
        }
        auto it = responses.find(request->target);
        c.send(it != responses.end() ? it->second : "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
        c.waitForPeerClose(std::chrono::seconds(10));
    };
}

} // namespace

TEST_F(DownloaderTest, WholeResourcesArriveWithTheirValuesOnceEachA206LikeA200AndExtraBytesDropped)
{
    const std::string body = testsupport::patternBytes(200'000, 4);
    ScriptedHttpServer server(Answer({
        {"/a", "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body},
        {"/b", "HTTP/1.1 206 Partial Content\r\nContent-Length: 3\r\n\r\nxyz"},
        {"/extra", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n0123456789"},
    }));
    Download(1, server.url("/a"), 11);
    Download(2, server.url("/b"), 22);
    Download(3, server.url("/extra"), 33);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Only(1), "data");
    EXPECT_TRUE(Data(1) == body);
    EXPECT_EQ(Only(2), "data");
    EXPECT_EQ(Data(2), "xyz");
    EXPECT_EQ(Only(3), "data");
    EXPECT_EQ(Data(3), "01234");
    worker.Run([&] {
        EXPECT_EQ(client.reports[1][0].userValue, 11u);
        EXPECT_EQ(client.reports[3][0].userValue, 33u);
    });
}

TEST_F(DownloaderTest, UnusableAnswersFailAtTheHead)
{
    ScriptedHttpServer server(Answer({
        {"/nolength", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nbody without length"},
        {"/zero", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"},
        {"/huge", "HTTP/1.1 200 OK\r\nContent-Length: 268435457\r\n\r\n"},
    }));
    Download(1, server.url("/nolength"));
    Download(2, server.url("/zero"));
    Download(3, server.url("/huge"));
    Download(4, server.url("/missing"));
    Download(5, "ftp://127.0.0.1/x"); // reported before Download returns
    EXPECT_EQ(Only(5), "failed");
    ASSERT_TRUE(WaitIdle());
    for (std::uint32_t key = 1; key <= 4; ++key) {
        EXPECT_EQ(Only(key), "failed") << key;
    }
}

TEST_F(DownloaderTest, RedirectsAreFollowedAnEmptyTargetFailsAndALoopEndsAfterTwenty)
{
    std::string base; // the server's own address, known once it listens
    auto redirect = [&base](const char* status, const std::string& path) {
        return std::string("HTTP/1.1 ") + status + "\r\nLocation: " + (path.empty() ? "" : base + path) +
               "\r\nContent-Length: 0\r\n\r\n";
    };
    ScriptedHttpServer server([&](HttpConnection& c, int) {
        auto request = c.readRequest();
        if (!request) {
            return;
        }
        const std::string& target = request->target;
        if (target == "/moved") {
            c.send(redirect("302 Found", "/new"));
        } else if (target == "/other") {
            c.send(redirect("303 See Other", "/a%20b"));
        } else if (target == "/new") {
            c.respond(200, "OK", "new");
        } else if (target == "/a%20b") {
            c.respond(200, "OK", "ab");
        } else if (target == "/empty") {
            c.send(redirect("302 Found", ""));
        } else {
            c.send(redirect("302 Found", "/loop"));
        }
        c.waitForPeerClose(std::chrono::seconds(10));
    });
    base = server.url("");
    Download(1, server.url("/moved"), 7);
    Download(2, server.url("/other"));
    Download(3, server.url("/empty"));
    Download(4, server.url("/loop"));
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Only(1), "data");
    EXPECT_EQ(Data(1), "new");
    worker.Run([&] { EXPECT_EQ(client.reports[1][0].userValue, 7u); });
    EXPECT_EQ(Only(2), "data");
    EXPECT_EQ(Data(2), "ab");
    EXPECT_EQ(Only(3), "failed");
    EXPECT_EQ(Only(4), "failed");
    int loops = 0;
    for (const auto& request : server.requests()) {
        loops += request.target == "/loop" ? 1 : 0;
    }
    EXPECT_EQ(loops, 1 + nwCHTTPDownloader::kMaxRedirects);
}

TEST_F(DownloaderTest, AnUnreachableHostIsTriedThreeTimesInAllThenReportedOnce)
{
    ScriptedHttpServer server(Answer({}));
    int contexts = 0;
    worker.Run([&] {
        downloader->Download(9, server.url("/f").c_str(), 3);
        // The platform's report, as the socket window hands it on, for each
        // attempt's connection in turn.
        while (auto* context = static_cast<cpCQoSContext*>(downloader->FindContext(9))) {
            ++contexts;
            worker.GetNpn()->GetQoS()->OnSocketEvent(context->GetRecord()->slot, context->GetRecord()->socket,
                                                     CP_SOCKET_EVENT_UNREACHABLE, 10065);
        }
    });
    EXPECT_EQ(contexts, 3);
    EXPECT_EQ(Only(9), "unreachable");
    worker.Run([&] { EXPECT_EQ(client.reports[9][0].userValue, 3u); });
}

TEST_F(DownloaderTest, CancelledDownloadsEndWithoutAReport)
{
    ScriptedHttpServer server([](HttpConnection& c, int) {
        c.readRequest();
        c.send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npart");
        c.waitForPeerClose(std::chrono::seconds(20));
    });
    Download(1, server.url("/a"));
    Download(1, server.url("/b"));
    Download(2, server.url("/c"));
    Download(3, server.url("/d"));
    ASSERT_TRUE(server.waitForConnections(4));
    worker.Run([&] {
        downloader->Cancel(1);
        EXPECT_EQ(downloader->GetRunningCount(), 2);
        downloader->CancelAll();
        EXPECT_EQ(downloader->GetRunningCount(), 0);
        downloader->Download(4, server.url("/e").c_str(), 0);
    });
    ASSERT_TRUE(server.waitForConnections(5));
    // Releasing the downloader cancels what still runs.
    worker.Run([&] { object.Reset(); });
    worker.Run([&] { EXPECT_TRUE(client.reports.empty()); });
}

TEST_F(DownloaderTest, FetchesOverHttpsFromATrustedServerOnly)
{
    testsupport::TlsCases cases;
    ASSERT_TRUE(cases.ok()) << cases.error();
    testsupport::TempDir root("meshdrop-downloader-tls");
    const std::string body = testsupport::patternBytes(70'000, 8);
    ASSERT_TRUE(testsupport::writeFile(root.file("f.bin"), body));
    testsupport::NginxServer good(root.path());
    good.useTls(cases.settings(testsupport::TlsCase::Good));
    testsupport::NginxServer expired(root.path());
    expired.useTls(cases.settings(testsupport::TlsCase::Expired));
    ASSERT_TRUE(good.start()) << good.error();
    ASSERT_TRUE(expired.start()) << expired.error();
    Download(1, good.url("/f.bin"));
    Download(2, expired.url("/f.bin"));
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Only(1), "data");
    EXPECT_TRUE(Data(1) == body);
    EXPECT_EQ(Only(2), "failed");
}
