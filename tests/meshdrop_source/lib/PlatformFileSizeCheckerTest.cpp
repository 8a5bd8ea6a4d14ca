// The direct downloader's size check on the library's worker thread, against
// scripted loopback servers: known sizes, five probes at a time, attempts
// per mirror with redirects counted, and the answers that fail a probe.

#include "TestDriveC.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "DirectTestSupport.h"
#include "ICheckerEventListener.h"
#include "NpnWorker.h"
#include "PlatformFileSizeChecker.h"
#include "ScriptedHttpServer.h"

namespace {

using testsupport::HttpConnection;
using testsupport::ScriptedHttpServer;

class CheckRecorder : public ICheckerEventListener {
public:
    void OnPlatformSizeCheckCompleted(PlatformJobRecord*, const SizeCheckResult& r) override
    {
        result = r;
        completed = true;
    }
    void OnPlatformSizeCheckFailed(PlatformJobRecord*, int c, const char* t) override
    {
        if (code != 0)
            return; // the first failure is the one the downloader acts on
        code = c;
        text = t;
    }
    bool Ended() const { return completed || code != 0; }

    SizeCheckResult result;
    bool completed = false;
    int code = 0;
    std::string text;
};

// Answers a probe with a head that announces `length` bytes.
void AnswerLength(HttpConnection& c, uint64_t length)
{
    c.readRequest();
    c.send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n");
    c.waitForPeerClose(std::chrono::seconds(10));
}

class PlatformFileSizeCheckerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(worker.IsStarted()); }
    void TearDown() override
    {
        worker.Run([&] { checker.reset(); });
    }

    void AddFile(const std::string& url, int64_t size = -1, int64_t done = 0)
    {
        auto entry = std::make_unique<JobFileEntry>();
        entry->index = static_cast<uint32_t>(files.size());
        entry->url = url;
        entry->folder = "C:\\";
        entry->fileName = "f" + std::to_string(files.size());
        entry->size = size;
        entry->done = done;
        files.push_back(std::move(entry));
    }

    void Run()
    {
        worker.Run([&] {
            checker = std::make_unique<CPlatformFileSizeChecker>(&recorder, nullptr);
            checker->Run(files);
        });
    }

    bool WaitForEnd()
    {
        return worker.WaitUntil([&] { return recorder.Ended(); }, std::chrono::seconds(30));
    }

    // Expects the check to fail with the code and the file's URL.
    void ExpectFailure(int code, const std::string& url)
    {
        ASSERT_TRUE(WaitForEnd());
        const CheckRecorder copy = worker.Call([&] { return recorder; });
        EXPECT_FALSE(copy.completed);
        EXPECT_EQ(copy.code, code);
        EXPECT_EQ(copy.text, url);
    }

    NpnWorker worker;
    CheckRecorder recorder;
    std::vector<std::unique_ptr<JobFileEntry>> files;
    std::unique_ptr<CPlatformFileSizeChecker> checker;
};

TEST_F(PlatformFileSizeCheckerTest, KnownSizesCompleteAtOnceWithoutProbes)
{
    AddFile("http://127.0.0.1:1/a", 100, 40);
    AddFile("http://127.0.0.1:1/b", 23, 0);
    Run();
    const CheckRecorder copy = worker.Call([&] { return recorder; });
    ASSERT_TRUE(copy.completed);
    EXPECT_EQ(copy.result.totalSize, 123u);
    EXPECT_EQ(copy.result.presentSize, 40u);
    EXPECT_EQ(copy.result.fileCount, 2u);
}

TEST_F(PlatformFileSizeCheckerTest, SevenUnknownSizesAreProbedAtMostFiveAtATime)
{
    std::mutex mutex;
    std::condition_variable changed;
    int active = 0;
    int most = 0;
    bool open = false;
    ScriptedHttpServer server([&](HttpConnection& c, int index) {
        c.readRequest();
        {
            std::unique_lock<std::mutex> lock(mutex);
            most = std::max(most, ++active);
            changed.notify_all();
            changed.wait_for(lock, std::chrono::seconds(20), [&] { return open; });
            --active;
        }
        c.send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(1000 + index) + "\r\n\r\n");
        c.waitForPeerClose(std::chrono::seconds(10));
    });
    for (int i = 0; i < 7; ++i)
        AddFile(server.url("/p" + std::to_string(i)));
    AddFile(server.url("/known"), 5);
    Run();
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(20), [&] { return active == 5; }));
    }
    EXPECT_EQ(worker.Call([&] { return checker->GetActiveProbeCount(); }), 5u);
    EXPECT_EQ(server.connectionCount(), 5);
    {
        std::lock_guard<std::mutex> lock(mutex);
        open = true;
        changed.notify_all();
    }
    ASSERT_TRUE(WaitForEnd());

    const CheckRecorder copy = worker.Call([&] { return recorder; });
    ASSERT_TRUE(copy.completed);
    EXPECT_EQ(copy.result.fileCount, 8u);
    // 7 × 1000 + (0 + 1 + ... + 6) + 5
    EXPECT_EQ(copy.result.totalSize, 7026u);
    EXPECT_EQ(most, 5);
    EXPECT_EQ(server.connectionCount(), 7);
}

TEST_F(PlatformFileSizeCheckerTest, ThreeClosedConnectionsMoveTheProbeToTheNextMirror)
{
    ScriptedHttpServer dead([](HttpConnection& c, int) {
        c.readRequest();
        c.close();
    });
    ScriptedHttpServer good([](HttpConnection& c, int) { AnswerLength(c, 4096); });
    AddFile(dead.url("/a") + "|" + good.url("/a"));
    Run();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_TRUE(worker.Call([&] { return recorder.completed; }));
    EXPECT_EQ(worker.Call([&] { return recorder.result.totalSize; }), 4096u);
    EXPECT_EQ(dead.connectionCount(), 3);
    EXPECT_EQ(good.connectionCount(), 1);
}

TEST_F(PlatformFileSizeCheckerTest, AFollowedRedirectCountsAsOneOfTheThreeAttempts)
{
    ScriptedHttpServer moved([](HttpConnection& c, int) {
        c.readRequest();
        c.close();
    });
    ScriptedHttpServer origin([&](HttpConnection& c, int) {
        c.readRequest();
        c.respond(302, "Found", "", {{"Location", moved.url("/elsewhere")}});
    });
    ScriptedHttpServer second([](HttpConnection& c, int) { AnswerLength(c, 77); });
    AddFile(origin.url("/a") + "|" + second.url("/a"));
    Run();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(worker.Call([&] { return recorder.result.totalSize; }), 77u);
    EXPECT_EQ(origin.connectionCount(), 1);
    EXPECT_EQ(moved.connectionCount(), 2);
    EXPECT_EQ(second.connectionCount(), 1);
}

TEST_F(PlatformFileSizeCheckerTest, AnAnswerOtherThan200FailsAtOnceWith517)
{
    ScriptedHttpServer server([](HttpConnection& c, int) {
        c.readRequest();
        c.respond(404, "Not Found", "none");
    });
    AddFile(server.url("/missing") + "|" + server.url("/other"));
    Run();
    ExpectFailure(517, server.url("/missing") + "|" + server.url("/other"));
    EXPECT_EQ(server.connectionCount(), 1);
}

TEST_F(PlatformFileSizeCheckerTest, AnAnswerWithoutLengthFailsWith517)
{
    ScriptedHttpServer server([](HttpConnection& c, int) {
        c.readRequest();
        c.send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nsome bytes");
        c.close();
    });
    AddFile(server.url("/nolength"));
    Run();
    ExpectFailure(517, server.url("/nolength"));
}

TEST_F(PlatformFileSizeCheckerTest, AFileLargerThanTheFreeSpaceFailsWith513)
{
    ScriptedHttpServer server([](HttpConnection& c, int) { AnswerLength(c, 1ull << 62); });
    AddFile(server.url("/huge"));
    AddFile(server.url("/huge2"));
    Run();
    // Both probes run at once: whichever answers first ends the check with its URL.
    ASSERT_TRUE(WaitForEnd());
    const CheckRecorder copy = worker.Call([&] { return recorder; });
    EXPECT_FALSE(copy.completed);
    EXPECT_EQ(copy.code, 513);
    EXPECT_TRUE(copy.text == server.url("/huge") || copy.text == server.url("/huge2")) << copy.text;
}

} // namespace
