// The file-list fetch through the entry points, as the main dialog drives it:
// events 522, 523 and 529 reach the test's window, pumped like the dialog's,
// and the bytes come back through MeshdropLib_GetFileListSize/Data. Plain
// answers come from a real nginx, faults from the scripted server.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "EntryPointFlow.h"
#include "MeshdropLib.h"
#include "NginxServer.h"
#include "ScriptedHttpServer.h"
#include "TempDir.h"
#include "TestClientWindow.h"
#include "TestDriveC.h"

using testsupport::HttpConnection;
using testsupport::ScriptedHttpServer;

namespace {

constexpr UINT kDone = MESHDROPLIB_EVENT_FILE_LIST_DONE;
constexpr UINT kFailed = MESHDROPLIB_EVENT_FILE_LIST_FAILED;
constexpr UINT kTick = MESHDROPLIB_EVENT_FILE_LIST_TICK;

class FileListFetchTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(MeshdropLib_Initialize(m_window.Handle(), nullptr, nullptr), MESHDROPLIB_OK); }
    void TearDown() override { MeshdropLib_Finalize(); }

    // Fetches and pumps until the fetch's `outcome` event; false when it did
    // not come (or the other outcome came instead).
    bool Fetch(const std::string& url, UINT outcome)
    {
        return MeshdropLib_FetchFileList(url.c_str()) == MESHDROPLIB_OK &&
               PumpUntilOutcome(m_window, outcome, outcome == kDone ? kFailed : kDone);
    }

    // The fetched bytes, copied out as the dialog does.
    std::string FetchedBytes()
    {
        uint64_t size = 0;
        if (MeshdropLib_GetFileListSize(&size) != MESHDROPLIB_OK)
            return "<no data>";
        std::string bytes(size, '\0');
        FileListBuffer record{bytes.data(), size};
        return MeshdropLib_GetFileListData(&record) == MESHDROPLIB_OK ? bytes : "<copy refused>";
    }

    TestClientWindow m_window;
};

TEST_F(FileListFetchTest, DeliversTheExactBytesAlsoAfterA302AndNothingAfterA404)
{
    testsupport::TempDir root("meshdrop-filelist");
    const std::string list = "http://h/a.bin|http://m/a.bin\r\nhttp://h/b.bin\n" + testsupport::patternBytes(5000, 3);
    const std::string second = "http://h/c.bin\r\n";
    ASSERT_TRUE(testsupport::writeFile(root.file("qls/filelist.txt"), list));
    ASSERT_TRUE(testsupport::writeFile(root.file("qls/second.txt"), second));
    testsupport::NginxServer nginx(root.path(), {"location = /moved.txt { return 302 /qls/second.txt; }"});
    ASSERT_TRUE(nginx.start()) << nginx.error();

    uint64_t size = 99;
    EXPECT_EQ(MeshdropLib_GetFileListSize(&size), MESHDROPLIB_ERROR_FAILED); // nothing fetched yet
    EXPECT_EQ(size, 99u);
    EXPECT_EQ(MeshdropLib_FetchFileList(""), MESHDROPLIB_ERROR_URL);

    ASSERT_TRUE(Fetch(nginx.url("/qls/filelist.txt"), kDone));
    EXPECT_EQ(FetchedBytes(), list);
    // Only a buffer of exactly the fetched size is filled.
    std::string bytes(list.size() + 1, 'x');
    FileListBuffer larger{bytes.data(), bytes.size()};
    FileListBuffer none{nullptr, list.size()};
    EXPECT_EQ(MeshdropLib_GetFileListData(&larger), MESHDROPLIB_ERROR_FAILED);
    EXPECT_EQ(MeshdropLib_GetFileListData(&none), MESHDROPLIB_ERROR_FAILED);
    EXPECT_EQ(bytes, std::string(list.size() + 1, 'x'));

    ASSERT_TRUE(Fetch(nginx.url("/moved.txt"), kDone));
    EXPECT_EQ(FetchedBytes(), second);

    ASSERT_TRUE(Fetch(nginx.url("/qls/missing.txt"), kFailed));
    EXPECT_EQ(FetchedBytes(), "<no data>");
}

TEST_F(FileListFetchTest, TicksAboutOnceASecondWhileASlowServerSends)
{
    ScriptedHttpServer server([](HttpConnection& c, int) {
        c.readRequest();
        c.send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n");
        for (const char* piece : {"w", "x", "y", "z"}) {
            // The server is slow on purpose: one byte every 800 ms.
            std::this_thread::sleep_for(std::chrono::milliseconds(800));
            c.send(piece);
        }
        c.waitForPeerClose(std::chrono::seconds(5));
    });
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(Fetch(server.url("/slow.txt"), kDone));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(FetchedBytes(), "wxyz");

    // 3.2 s of sending: at least three ticks, at most one per whole second passed.
    const size_t ticks = m_window.Count(kTick);
    EXPECT_GE(ticks, 3u);
    EXPECT_LE(ticks, static_cast<size_t>(std::chrono::duration_cast<std::chrono::seconds>(elapsed).count()) + 1);
    // No tick once the fetch has ended.
    const size_t after = ticks;
    m_window.PumpUntil(kTick, after + 1, 1500);
    EXPECT_EQ(m_window.Count(kTick), after);
}

TEST_F(FileListFetchTest, FailedFetchesRaise523)
{
    ScriptedHttpServer server([](HttpConnection& c, int) {
        const auto request = c.readRequest();
        if (!request)
            return;
        const std::string& path = request->target;
        if (path == "/close-before-head") {
            c.send("HTTP/1.1 200 OK\r\nContent-Le");
            c.close();
        } else if (path == "/close-mid-body") {
            c.send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly ten..");
            c.close();
        } else if (path == "/no-location") {
            c.send("HTTP/1.1 302 Found\r\nContent-Length: 0\r\n\r\n");
        } else if (path == "/relative-location") {
            c.send("HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\nContent-Length: 0\r\n\r\n");
        } else if (path == "/no-length") {
            c.send("HTTP/1.1 200 OK\r\n\r\nbody without length");
            c.close();
        } else if (path == "/empty") {
            c.send("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
        } else if (path == "/no-content") {
            c.send("HTTP/1.1 204 No Content\r\n\r\n");
        } else if (path == "/huge") {
            c.send("HTTP/1.1 200 OK\r\nContent-Length: 67108865\r\n\r\nabc");
        } else if (path == "/larger-than-memory") {
            c.send("HTTP/1.1 200 OK\r\nContent-Length: 9223372036854775807\r\n\r\nabc");
        }
        c.waitForPeerClose(std::chrono::seconds(10));
    });

    for (const char* path : {"/close-before-head", "/close-mid-body", "/no-location", "/relative-location",
                             "/no-length", "/empty", "/no-content", "/huge", "/larger-than-memory"}) {
        SCOPED_TRACE(path);
        EXPECT_TRUE(Fetch(server.url(path), kFailed));
        EXPECT_EQ(FetchedBytes(), "<no data>");
    }
    // A refused connection, and an address the client cannot use at all.
    EXPECT_TRUE(Fetch("http://127.0.0.1:" + std::to_string(ClosedLoopbackPort()) + "/filelist.txt", kFailed));
    EXPECT_TRUE(Fetch("ftp://127.0.0.1/filelist.txt", kFailed));
}

TEST_F(FileListFetchTest, EndlessRedirectsEndWith523)
{
    std::string self;
    ScriptedHttpServer server([&self](HttpConnection& c, int) {
        if (c.readRequest())
            c.send("HTTP/1.1 302 Found\r\nLocation: " + self + "\r\nContent-Length: 0\r\n\r\n");
        c.waitForPeerClose(std::chrono::seconds(10));
    });
    self = server.url("/again");
    ASSERT_TRUE(Fetch(self, kFailed));
    // The first request and twenty redirects were followed, no more.
    EXPECT_EQ(server.requests().size(), 21u);
}

TEST_F(FileListFetchTest, BytesPastTheAnnouncedLengthAreDropped)
{
    ScriptedHttpServer server([](HttpConnection& c, int) {
        c.readRequest();
        c.send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123456789 and what follows is not the body");
        c.waitForPeerClose(std::chrono::seconds(10));
    });
    ASSERT_TRUE(Fetch(server.url("/f"), kDone));
    EXPECT_EQ(FetchedBytes(), "0123456789");
}

TEST_F(FileListFetchTest, ANewFetchEndsTheOneStillRunning)
{
    ScriptedHttpServer stalled([](HttpConnection& c, int) {
        c.readRequest();
        c.send("HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\nstill");
        c.waitForPeerClose(std::chrono::seconds(10));
    });
    ScriptedHttpServer quick(ScriptedHttpServer::serveBody("quick list"));
    ASSERT_EQ(MeshdropLib_FetchFileList(stalled.url("/slow").c_str()), MESHDROPLIB_OK);
    ASSERT_TRUE(stalled.waitForConnections(1));
    ASSERT_TRUE(Fetch(quick.url("/list"), kDone));
    EXPECT_EQ(FetchedBytes(), "quick list");
    // The abandoned request reports nothing, not even when its server lets go.
    m_window.PumpUntil(kFailed, 1, 1000);
    EXPECT_EQ(m_window.Count(kFailed), 0u);
}

TEST_F(FileListFetchTest, AChunkedListArrivesWithoutItsFramingAndAnEmptyOneFails)
{
    // A list served through nginx's substitution filter comes chunked: the
    // redirect to it names only a path, and the framing stays out of the list.
    testsupport::TempDir root("meshdrop-filelist");
    const std::string list = "http://h/a.bin\r\n" + testsupport::patternBytes(70000, 4);
    ASSERT_TRUE(testsupport::writeFile(root.file("qls/filelist.txt"), list));
    ASSERT_TRUE(testsupport::writeFile(root.file("qls/empty.txt"), ""));
    testsupport::NginxServer nginx(
        root.path(),
        {"location /chunked/ { alias " + root.path() + "/qls/; sub_filter_types *; sub_filter 'no-such-text' ''; }",
         "location = /old/list.txt { absolute_redirect off; return 302 /chunked/filelist.txt; }"});
    ASSERT_TRUE(nginx.start()) << nginx.error();
    ASSERT_TRUE(Fetch(nginx.url("/old/list.txt"), kDone));
    EXPECT_EQ(FetchedBytes(), list);
    ASSERT_TRUE(Fetch(nginx.url("/chunked/empty.txt"), kFailed));
}

} // namespace
