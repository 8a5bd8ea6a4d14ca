// The engine program against real servers, driven through the client layer
// from another process as the library drives it: whole jobs byte-exact,
// mirrors, failures, stalls, and the reports that go with them, to the client
// and to the agent server.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <thread>

#include "AgentServerProcess.h"
#include "EngineTestSupport.h"
#include "NginxServer.h"
#include "TlsCases.h"
#include "nw/nwAgentWire.h"

using enginetest::EngineProcess;
using enginetest::RangeServer;
using enginetest::SubmitJob;
using enginetest::TestFile;
using enginetest::WaitFor;
using testsupport::patternBytes;
using testsupport::readFile;
using testsupport::TempDir;

namespace {

class EngineDownloadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(worker.IsStarted());
        ASSERT_TRUE(engine.Start()) << engine.Log();
        ASSERT_TRUE(connection.Open(engine.Port()));
        ASSERT_TRUE(WaitFor(connection, "connected"));
    }

    // The files of the download folder C:\dl\, by name.
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(drive.path() + "/dl", ignored)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string Downloaded(const std::string& name) const { return readFile(drive.path() + "/dl/" + name); }

    std::vector<std::string> Kinds()
    {
        std::vector<std::string> kinds;
        connection.Read([&](const CDNRecordingListener& l) {
            for (const CDNEvent& e : l.events) {
                if (e.kind != "progress") {
                    kinds.push_back(e.kind);
                }
            }
        });
        return kinds;
    }

    CDNEvent Last(const std::string& kind)
    {
        CDNEvent event;
        connection.Read([&](const CDNRecordingListener& l) { event = l.Last(kind); });
        return event;
    }

    TempDir drive{"meshdrop-engine-drive"};
    TempDir served{"meshdrop-engine-served"};
    NpnWorker worker;
    EngineProcess engine{drive.path()};
    CDNTestConnection connection{worker};
};

} // namespace

TEST_F(EngineDownloadTest, MultiFileJobArrivesByteExactAndIsReportedInOrder)
{
    const std::string big = patternBytes(24 * 1024 * 1024 + 123, 1);
    const std::string small = patternBytes(65536, 2);
    const std::string tiny = "x";
    ASSERT_TRUE(testsupport::writeFile(served.file("big.bin"), big));
    ASSERT_TRUE(testsupport::writeFile(served.file("small.bin"), small));
    ASSERT_TRUE(testsupport::writeFile(served.file("tiny.bin"), tiny));
    ASSERT_TRUE(testsupport::writeFile(served.file("empty.bin"), ""));
    testsupport::NginxServer nginx(served.path());
    ASSERT_TRUE(nginx.start()) << nginx.error();

    // The last file goes to a Z: folder: the whole POSIX tree, as the platform maps it.
    std::string zFolder = "Z:" + served.path() + "/z/";
    std::replace(zFolder.begin(), zFolder.end(), '/', '\\');
    SubmitJob(connection, 7,
              {{"C:\\dl\\", "big.bin", nginx.url("/big.bin")},
               {"C:\\dl", "", nginx.url("/small.bin")},
               {"C:\\dl\\", "tiny.bin", nginx.url("/tiny.bin"), 1},
               {"C:\\dl\\", "empty.bin", nginx.url("/empty.bin")},
               {zFolder, "copy.bin", nginx.url("/tiny.bin")}},
              true);
    ASSERT_TRUE(WaitFor(connection, "ended")) << engine.Log();
    EXPECT_EQ(+Last("ended").ended.result, CDN_RESULT_OK) << engine.Log();
    EXPECT_EQ(+Last("ended").ended.filesCompleted, 5u);
    EXPECT_TRUE(Downloaded("big.bin") == big);
    EXPECT_TRUE(Downloaded("small.bin") == small);
    EXPECT_EQ(Downloaded("tiny.bin"), tiny);
    EXPECT_EQ(readFile(served.path() + "/z/copy.bin"), tiny);
    EXPECT_EQ(Names(), (std::vector<std::string>{"big.bin", "empty.bin", "small.bin", "tiny.bin"}));
    const std::vector<std::string> kinds = Kinds();
    ASSERT_GE(kinds.size(), 7u);
    EXPECT_EQ(kinds[0], "connected");
    EXPECT_EQ(kinds[1], "accepted");
    EXPECT_EQ(kinds.back(), "ended");
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "done"), 5);
    connection.Read([&](const CDNRecordingListener& l) {
        // Right before the end, the job's final figures: every byte, the last file whole.
        ASSERT_GE(l.events.size(), 2u);
        const CDNEvent& final = l.events[l.events.size() - 2];
        ASSERT_EQ(final.kind, "progress");
        EXPECT_EQ(+final.progress.doneSize, big.size() + small.size() + tiny.size() + tiny.size());
        EXPECT_EQ(+final.progress.totalSize, +final.progress.doneSize);
        EXPECT_EQ(+final.progress.filesCompleted, 5u);
        EXPECT_EQ(+final.progress.currentFile, 4u);
        ASSERT_EQ(final.items.size(), 1u);
        EXPECT_EQ(+final.items[0].first.state, CDN_FILE_DONE);
        EXPECT_EQ(final.items[0].second, "copy.bin");
        const CDNEvent accepted = l.Last("accepted");
        EXPECT_EQ(+accepted.accepted.fileCount, 5u);
        EXPECT_EQ(+accepted.accepted.totalSize, 1u); // only the tiny file's size was given
        for (const CDNEvent& e : l.events) {
            EXPECT_EQ(e.jobNumber, e.kind == "connected" ? 0u : 7u);
            if (e.kind == "done" && e.fileIndex == 1) {
                // The name the engine took from the address, in the job's folder.
                EXPECT_EQ(e.localPath, "C:\\dl\\small.bin");
                EXPECT_EQ(e.url, nginx.url("/small.bin"));
            }
        }
    });
}

TEST_F(EngineDownloadTest, DeadFirstMirrorFailsOverAndAMissingFileFailsTheJob)
{
    const std::string body = patternBytes(6 * 1024 * 1024, 3);
    ASSERT_TRUE(testsupport::writeFile(served.file("m.bin"), body));
    testsupport::NginxServer nginx(served.path());
    ASSERT_TRUE(nginx.start()) << nginx.error();
    const std::string dead = "http://127.0.0.1:" + std::to_string(enginetest::FreePort()) + "/m.bin";

    SubmitJob(connection, 1, {{"C:\\dl\\", "m.bin", dead + " | " + nginx.url("/m.bin")}}, true);
    ASSERT_TRUE(WaitFor(connection, "ended")) << engine.Log();
    EXPECT_EQ(+Last("ended").ended.result, CDN_RESULT_OK) << engine.Log();
    EXPECT_TRUE(Downloaded("m.bin") == body);

    // Every mirror answers 404: the job fails with a readable text, then ends.
    SubmitJob(connection, 2, {{"C:\\dl\\", "gone.bin", nginx.url("/gone.bin") + "|" + nginx.url("/gone2.bin")}}, true);
    ASSERT_TRUE(WaitFor(connection, "ended", 2)) << engine.Log();
    const CDNEvent failed = Last("failed");
    EXPECT_EQ(failed.jobNumber, 2u);
    EXPECT_NE(failed.text.find("HTTP 404"), std::string::npos) << failed.text;
    EXPECT_EQ(+failed.tail.code, CDN_CODE_HTTP_STATUS);
    EXPECT_EQ(+failed.tail.value, 404u);
    EXPECT_EQ(+Last("ended").ended.result, CDN_RESULT_FAILED);
    const std::vector<std::string> kinds = Kinds();
    EXPECT_EQ(std::vector<std::string>(kinds.end() - 3, kinds.end()),
              (std::vector<std::string>{"accepted", "failed", "ended"}));
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "lost"), 0);
    // Nothing of the missing file is left behind.
    EXPECT_TRUE(enginetest::PollUntil([&] { return Names() == std::vector<std::string>{"m.bin"}; }))
        << testing::PrintToString(Names());
}

TEST_F(EngineDownloadTest, StalledSegmentIsSplitAgainAndTheFileCompletes)
{
    constexpr long long kStallAt = 4 * 1024 * 1024;
    const std::string body = patternBytes(24 * 1024 * 1024, 4);
    std::atomic<bool> stalled{false};
    RangeServer server(
        body, 0, [&](testsupport::HttpConnection& c, const testsupport::HttpRequest&, long long first, long long last) {
            if (first != kStallAt || stalled.exchange(true)) {
                return false;
            }
            // A little of the range, then nothing until the engine gives up on it.
            c.send("HTTP/1.1 206 Partial Content\r\nContent-Length: " + std::to_string(last - first + 1) +
                   "\r\nContent-Range: bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
                   std::to_string(body.size()) + "\r\n\r\n" + body.substr(kStallAt, 65536));
            c.waitForPeerClose(std::chrono::seconds(60));
            return true;
        });
    SubmitJob(connection, 1, {{"C:\\dl\\", "s.bin", server.Url(), static_cast<std::int64_t>(body.size())}}, true);
    ASSERT_TRUE(WaitFor(connection, "ended")) << engine.Log();
    EXPECT_EQ(+Last("ended").ended.result, CDN_RESULT_OK) << engine.Log();
    EXPECT_TRUE(Downloaded("s.bin") == body);
    EXPECT_TRUE(stalled.load());
    // Another connection took over part of the stalled range before it was given up.
    bool split = false;
    for (const testsupport::HttpRequest& request : server.Requests()) {
        const long long first = testsupport::parseRangeStart(request.header("Range"));
        split = split || (first > kStallAt + 65536 && first < 2 * kStallAt);
    }
    EXPECT_TRUE(split) << engine.Log();
    EXPECT_NE(engine.Log().find("stalled"), std::string::npos);
}

TEST_F(EngineDownloadTest, LostNetworkIsReportedAndTheJobGoesOnWhenItIsBack)
{
    const std::string body = patternBytes(6 * 1024 * 1024, 5);
    RangeServer server(body, 256 * 1024);
    SubmitJob(connection, 1, {{"C:\\dl\\", "n.bin", server.Url(), static_cast<std::int64_t>(body.size())}}, true);
    ASSERT_TRUE(enginetest::PollUntil([&] { return server.BytesSent() > 0; }));
    server.SetDown(true);
    ASSERT_TRUE(WaitFor(connection, "lost")) << engine.Log();
    server.SetDown(false);
    ASSERT_TRUE(WaitFor(connection, "back")) << engine.Log();
    ASSERT_TRUE(WaitFor(connection, "ended")) << engine.Log();
    EXPECT_EQ(+Last("ended").ended.result, CDN_RESULT_OK);
    EXPECT_TRUE(Downloaded("n.bin") == body);
    connection.Read([](const CDNRecordingListener& l) {
        EXPECT_EQ(l.Count("lost"), 1);
        EXPECT_EQ(l.Count("back"), 1);
        EXPECT_EQ(+l.Last("lost").tail.code, CDN_CODE_NETWORK);
        // The first report comes once the job has run a second: real figures.
        const auto first =
            std::find_if(l.events.begin(), l.events.end(), [](const CDNEvent& e) { return e.kind == "progress"; });
        ASSERT_NE(first, l.events.end());
        EXPECT_GE(+first->progress.elapsedSeconds, 1u);
        EXPECT_GT(+first->progress.speed, 0u);
        EXPECT_GT(+first->progress.doneSize, 0u);
    });
}

TEST(EngineHttpsTest, FetchesFromAServerWithATrustedCertificateOnly)
{
    // The test's own authority, trusted by this process and the engine it starts.
    testsupport::TlsCases cases;
    ASSERT_TRUE(cases.ok()) << cases.error();
    TempDir drive("meshdrop-engine-drive");
    TempDir served("meshdrop-engine-served");
    const std::string body = patternBytes(5 * 1024 * 1024, 13);
    ASSERT_TRUE(testsupport::writeFile(served.file("t.bin"), body));
    testsupport::NginxServer good(served.path());
    good.useTls(cases.settings(testsupport::TlsCase::Good));
    testsupport::NginxServer stranger(served.path());
    stranger.useTls(cases.settings(testsupport::TlsCase::UnknownAuthority));
    ASSERT_TRUE(good.start()) << good.error();
    ASSERT_TRUE(stranger.start()) << stranger.error();
    NpnWorker worker;
    EngineProcess engine(drive.path());
    ASSERT_TRUE(engine.Start()) << engine.Log();
    CDNTestConnection connection(worker);
    ASSERT_TRUE(connection.Open(engine.Port()));

    SubmitJob(connection, 1, {{"C:\\dl\\", "t.bin", good.url("/t.bin")}}, true);
    ASSERT_TRUE(WaitFor(connection, "ended")) << engine.Log();
    EXPECT_TRUE(readFile(drive.path() + "/dl/t.bin") == body);
    SubmitJob(connection, 2, {{"C:\\dl\\", "u.bin", stranger.url("/t.bin")}}, true);
    ASSERT_TRUE(WaitFor(connection, "ended", 2)) << engine.Log();
    connection.Read([](const CDNRecordingListener& l) {
        EXPECT_EQ(l.Count("done"), 1);
        EXPECT_EQ(l.Last("failed").jobNumber, 2u);
        EXPECT_EQ(+l.Last("failed").tail.code, CDN_CODE_CERTIFICATE) << l.Last("failed").text;
        EXPECT_EQ(+l.Last("ended").ended.result, CDN_RESULT_FAILED);
    });
    EXPECT_FALSE(std::filesystem::exists(drive.path() + "/dl/u.bin"));
}

TEST(EngineAgentReportTest, AnEndedJobIsReportedWithTheBytesEachFileFetchedOnceTheServerIsThere)
{
    TempDir drive("meshdrop-engine-drive");
    TempDir served("meshdrop-engine-served");
    ASSERT_TRUE(testsupport::writeFile(served.file("a.bin"), patternBytes(300000, 4)));
    ASSERT_TRUE(testsupport::writeFile(served.file("b.bin"), "bytes"));
    testsupport::NginxServer nginx(served.path());
    ASSERT_TRUE(nginx.start()) << nginx.error();
    // Nothing listens on the agent port while the job runs: its report waits.
    const uint16_t agentPort = enginetest::FreePort();
    NpnWorker worker;
    EngineProcess engine(drive.path(), {{AGENT_PORT_VARIABLE, std::to_string(agentPort)}});
    ASSERT_TRUE(engine.Start()) << engine.Log();
    CDNTestConnection connection(worker);
    ASSERT_TRUE(connection.Open(engine.Port()));
    ASSERT_TRUE(WaitFor(connection, "connected"));
    SubmitJob(connection, 3, {{"C:\\dl\\", "a.bin", nginx.url("/a.bin")}, {"C:\\dl\\", "b.bin", nginx.url("/b.bin")}},
              true);
    ASSERT_TRUE(WaitFor(connection, "ended")) << engine.Log();

    testsupport::AgentServerProcess server(served.file("agent.db"), agentPort);
    ASSERT_TRUE(server.start()) << server.error();
    ASSERT_TRUE(server.waitForLines(testsupport::AgentServerProcess::kStored, 1)) << engine.Log();
    const std::vector<testsupport::StoredRecord> stored = testsupport::readAgentDatabase(server.database());
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0].url, nginx.url("/a.bin"));
    EXPECT_EQ(stored[0].bytes, 300000);
    EXPECT_EQ(stored[1].url, nginx.url("/b.bin"));
    EXPECT_EQ(stored[1].bytes, 5);
    EXPECT_EQ(stored[0].serviceId, "test-service");
}

TEST_F(EngineDownloadTest, WithoutConsentNoSecondCarriesMoreThanTheRate)
{
    using Clock = std::chrono::steady_clock;
    const std::string body = patternBytes(1536 * 1024, 14);
    RangeServer server(body);
    // The engine's own count of the bytes it took, once a second. (The
    // server's count moves in bursts: a reader that paused opens its
    // receive window a buffer at a time.)
    std::vector<std::pair<Clock::time_point, std::uint64_t>> reports; // on the worker
    worker.Run([&] {
        connection.listener.onEvent = [&reports](const CDNEvent& event) {
            if (event.kind == "progress") {
                reports.emplace_back(Clock::now(), event.progress.doneSize);
            }
        };
    });
    SubmitJob(connection, 1, {{"C:\\dl\\", "r.bin", server.Url(), static_cast<std::int64_t>(body.size())}}, false);
    ASSERT_TRUE(WaitFor(connection, "ended")) << engine.Log();
    EXPECT_EQ(+Last("ended").ended.result, CDN_RESULT_OK);
    EXPECT_TRUE(Downloaded("r.bin") == body);
    worker.Run([&] { connection.listener.onEvent = nullptr; });
    // Every stretch between two reports about a second apart.
    int windows = 0;
    for (std::size_t i = 0; i < reports.size(); ++i) {
        for (std::size_t j = i + 1; j < reports.size(); ++j) {
            const double seconds = std::chrono::duration<double>(reports[j].first - reports[i].first).count();
            if (seconds < 0.9 || seconds > 1.1) {
                continue;
            }
            ++windows;
            const auto bytes = static_cast<double>(reports[j].second - reports[i].second);
            EXPECT_LE(bytes / seconds, 393216 * 1.05) << "from report " << i << " to " << j;
        }
    }
    EXPECT_GE(windows, 2);
}

namespace {

class EngineRealServerTest : public EngineDownloadTest,
                             public ::testing::WithParamInterface<enginetest::WebServer::Kind> {};

} // namespace

TEST_P(EngineRealServerTest, DownloadsByteExactOrRefusesCleanly)
{
    const std::string big = patternBytes(10 * 1024 * 1024 + 123, 15);
    const std::string small = patternBytes(65536, 16);
    ASSERT_TRUE(testsupport::writeFile(served.file("big.bin"), big));
    ASSERT_TRUE(testsupport::writeFile(served.file("small.bin"), small));
    ASSERT_TRUE(testsupport::writeFile(served.file("empty.bin"), ""));
    enginetest::WebServer server(GetParam(), served.path());
    ASSERT_TRUE(server.Start()) << server.Error();

    // The big file's second mirror holds another file (a stale mirror): it is
    // left and the first one serves the whole file.
    SubmitJob(connection, 1,
              {{"C:\\dl\\", "", server.Url("/big.bin") + "|" + server.Url("/small.bin")},
               {"C:\\dl\\", "small.bin", server.Url("/small.bin"), static_cast<std::int64_t>(small.size())},
               {"C:\\dl\\", "", server.Url("/empty.bin")}},
              true);
    ASSERT_TRUE(WaitFor(connection, "ended")) << engine.Log();
    EXPECT_EQ(+Last("ended").ended.result, CDN_RESULT_OK) << engine.Log();
    EXPECT_TRUE(Downloaded("big.bin") == big);
    EXPECT_TRUE(Downloaded("small.bin") == small);
    EXPECT_EQ(Downloaded("empty.bin"), "");

    SubmitJob(connection, 2, {{"C:\\dl\\", "", server.Url("/missing.bin")}}, true);
    ASSERT_TRUE(WaitFor(connection, "ended", 2)) << engine.Log();
    EXPECT_EQ(+Last("failed").tail.code, CDN_CODE_HTTP_STATUS) << Last("failed").text;
    EXPECT_EQ(+Last("failed").tail.value, 404u);
    EXPECT_EQ(+Last("ended").ended.result, CDN_RESULT_FAILED);
    EXPECT_TRUE(enginetest::PollUntil([&] {
        return Names() == std::vector<std::string>{"big.bin", "empty.bin", "small.bin"};
    })) << testing::PrintToString(Names());
}

INSTANTIATE_TEST_SUITE_P(Servers, EngineRealServerTest,
                         ::testing::Values(enginetest::WebServer::Kind::Apache, enginetest::WebServer::Kind::Lighttpd,
                                           enginetest::WebServer::Kind::Python),
                         [](const auto& info) { return std::string(enginetest::WebServer::Name(info.param)); });
