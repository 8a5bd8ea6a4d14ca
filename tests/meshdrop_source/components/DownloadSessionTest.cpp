// CDownloadSession on the library's worker thread over loopback: a test file
// record hands it addresses and takes the bodies, a test listener records
// what the session reports.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "DownloadSession.h"
#include "NpnWorker.h"
#include "ScriptedHttpServer.h"
#include "SessionError.h"

using testsupport::HttpConnection;
using testsupport::ScriptedHttpServer;
using Events = std::vector<std::string>;

namespace {

// Hands out its addresses in order; every address ending in ".bin" is a file.
class TestProgressFile : public IProgressFile {
public:
    int GetUrl(std::string& url) override
    {
        if (pending.empty())
            return 0;
        url = pending.front();
        pending.pop_front();
        return 1;
    }
    int IsFinished() override { return pending.empty() ? 1 : 0; }
    uint32_t StoreData(const char* url, const void* body, int64_t length, uint32_t* kind) override
    {
        stored.emplace_back(std::string(url) + "=" + std::string(static_cast<const char*>(body), length));
        *kind = static_cast<uint32_t>(GetUrlKind(url));
        return 40 + static_cast<uint32_t>(stored.size());
    }
    int GetUrlKind(const char* url) override
    {
        const std::string text = url;
        return text.size() > 4 && text.substr(text.size() - 4) == ".bin" ? PROGRESS_URL_FILE : PROGRESS_URL_UPDATE_LIST;
    }

    std::deque<std::string> pending;
    std::vector<std::string> stored;
};

// Records the reports as text; touched on the worker, read under the lock.
class TestSessionListener : public IDownloadSessionEventListener {
public:
    void OnSessionConnected(void* cookie) override { Note("connected", cookie); }
    void OnSessionCompleted(void* cookie, const DownloadCompletionInfo* info) override
    {
        Note("completed " + info->url + " kind " + std::to_string(info->kind) + " code " + std::to_string(info->code) +
                 " length " + std::to_string(info->length),
             cookie);
    }
    void OnSessionError(void* cookie, int error) override { Note("error " + std::to_string(error), cookie); }
    void OnSessionLength(void* cookie, const char* /*url*/, int64_t length) override
    {
        Note("length " + std::to_string(length), cookie);
    }
    void OnSessionProgress(void* cookie, const char* /*url*/, int64_t received) override
    {
        Note("progress " + std::to_string(received), cookie);
    }

    size_t Count(const std::string& prefix)
    {
        std::lock_guard<std::mutex> lock(mutex);
        size_t n = 0;
        for (const std::string& event : events)
            n += event.rfind(prefix, 0) == 0 ? 1 : 0;
        return n;
    }
    bool WaitFor(const std::string& prefix, size_t count = 1)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(20), [&] {
            size_t n = 0;
            for (const std::string& event : events)
                n += event.rfind(prefix, 0) == 0 ? 1 : 0;
            return n >= count;
        });
    }
    Events Seen()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return events;
    }

    void* expectedCookie = nullptr;
    bool wrongCookie = false;

private:
    void Note(const std::string& event, void* cookie)
    {
        std::lock_guard<std::mutex> lock(mutex);
        wrongCookie = wrongCookie || cookie != expectedCookie;
        events.push_back(event);
        changed.notify_all();
    }

    std::mutex mutex;
    std::condition_variable changed;
    Events events;
};

class DownloadSessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(worker.IsStarted());
        worker.Run([&] {
            session = std::make_unique<CDownloadSession>();
            session->SetListener(&listener, &cookie);
            session->SetFile(&file);
        });
        listener.expectedCookie = &cookie;
    }

    void TearDown() override
    {
        worker.Run([&] {
            session->SetListener(nullptr, nullptr);
            session.reset();
        });
        EXPECT_FALSE(listener.wrongCookie);
    }

    void Start(std::vector<std::string> urls)
    {
        worker.Run([&] {
            file.pending.assign(urls.begin(), urls.end());
            session->Start();
        });
    }

    int Busy()
    {
        return worker.Call([&] { return session->IsBusy(); });
    }

    NpnWorker worker;
    TestProgressFile file;
    TestSessionListener listener;
    std::unique_ptr<CDownloadSession> session;
    int cookie = 0;
};

TEST_F(DownloadSessionTest, BodyInPiecesGivesOneProgressPerPieceAndOneCopyAtTheEnd)
{
    ScriptedHttpServer server([this](HttpConnection& c, int) {
        c.readRequest();
        c.send("HTTP/1.1 200 OK\r\nContent-Length: 12\r\n\r\n");
        int piece = 0;
        for (const char* bytes : {"abcd", "efgh", "ijkl"}) {
            // Each piece once the session has taken the one before.
            ASSERT_TRUE(listener.WaitFor(piece == 0 ? "length" : "progress", piece == 0 ? 1 : piece));
            c.send(bytes);
            ++piece;
        }
        c.waitForPeerClose(std::chrono::seconds(10));
    });
    const std::string url = server.url("/engine/part.bin");
    Start({url});
    ASSERT_TRUE(listener.WaitFor("completed"));
    EXPECT_EQ(listener.Seen(), (Events{"connected", "length 12", "progress 4", "progress 8", "progress 12",
                                       "completed " + url + " kind 3 code 41 length 12"}));
    EXPECT_EQ(file.stored, (std::vector<std::string>{url + "=abcdefghijkl"}));
    // A completed session stays busy; its body is kept.
    EXPECT_EQ(Busy(), 1);
    EXPECT_EQ(worker.Call([&] {
        return std::string(reinterpret_cast<const char*>(session->GetBody()), session->GetBodyLength());
    }),
              "abcdefghijkl");
}

TEST_F(DownloadSessionTest, ARecordWithAnotherAddressIsFetchedAgainAtOnceOnTheSameSession)
{
    ScriptedHttpServer server([](HttpConnection& c, int) {
        const auto request = c.readRequest();
        if (request)
            c.respond(200, "OK", request->target == "/list.xml" ? "<list/>" : "hash");
        c.waitForPeerClose(std::chrono::seconds(10));
    });
    Start({server.url("/list.xml"), server.url("/list.hash")});
    ASSERT_TRUE(listener.WaitFor("completed"));
    // No completion between the two, and no length or progress for kinds other than 3.
    EXPECT_EQ(listener.Seen(),
              (Events{"connected", "connected", "completed " + server.url("/list.hash") + " kind 2 code 42 length 4"}));
    EXPECT_EQ(file.stored,
              (std::vector<std::string>{server.url("/list.xml") + "=<list/>", server.url("/list.hash") + "=hash"}));
    EXPECT_EQ(server.requests().size(), 2u);
}

TEST_F(DownloadSessionTest, BadResponsesAreError4AndEndTheRequest)
{
    ScriptedHttpServer server([](HttpConnection& c, int) {
        const auto request = c.readRequest();
        if (!request)
            return;
        if (request->target == "/missing.bin")
            c.respond(404, "Not Found", "nothing here");
        else if (request->target == "/empty.bin")
            c.send("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
        else if (request->target == "/nolength.bin")
            c.send("HTTP/1.1 200 OK\r\n\r\nabc");
        else
            c.send("HTTP/1.1 200 OK\r\nContent-Length: 268435457\r\n\r\nabc");
        c.waitForPeerClose(std::chrono::seconds(10));
    });
    size_t errors = 0;
    for (const char* path : {"/missing.bin", "/empty.bin", "/nolength.bin", "/too-large.bin"}) {
        SCOPED_TRACE(path);
        Start({server.url(path)});
        ASSERT_TRUE(listener.WaitFor("error", ++errors));
        EXPECT_EQ(listener.Seen().back(), "error 4");
        EXPECT_EQ(Busy(), 0);
    }
    EXPECT_EQ(listener.Count("completed"), 0u);
    EXPECT_EQ(listener.Count("length"), 0u);
}

TEST_F(DownloadSessionTest, ConnectionFailuresAreErrors3And6And7)
{
    ScriptedHttpServer server([](HttpConnection& c, int index) {
        c.readRequest();
        if (index == 0) {
            c.close(); // before the head
            return;
        }
        c.send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc");
        c.close(); // after the length was announced
    });
    Start({server.url("/a.bin")});
    ASSERT_TRUE(listener.WaitFor("error"));
    EXPECT_EQ(listener.Seen().back(), "error 6");
    EXPECT_EQ(Busy(), 0);

    // Closed after the length, with the body short: error 6 as well.
    Start({server.url("/b.bin")});
    ASSERT_TRUE(listener.WaitFor("error", 2));
    EXPECT_EQ(listener.Seen().back(), "error 6");
    EXPECT_EQ(listener.Count("completed"), 0u);
    EXPECT_EQ(Busy(), 0);

    // An address that cannot be connected, and one the layer cannot use.
    Start({"http://127.0.0.1:1/c.bin"});
    ASSERT_TRUE(listener.WaitFor("error", 3));
    EXPECT_EQ(listener.Seen().back(), "error 3");
    Start({"ftp://127.0.0.1/d.bin"});
    EXPECT_EQ(listener.Seen().back(), "error 3");
    EXPECT_EQ(Busy(), 0);

    // The platform's "unreachable", as the layer hands it on.
    ScriptedHttpServer silent([](HttpConnection& c, int) { c.waitForPeerClose(std::chrono::seconds(10)); });
    Start({silent.url("/e.bin")});
    worker.Run([&] { session->OnHostUnreach(0); });
    EXPECT_EQ(listener.Seen().back(), "error 7");
    EXPECT_EQ(Busy(), 0);
}

TEST_F(DownloadSessionTest, SilenceAfterTheHeadIsError5)
{
    ScriptedHttpServer server([](HttpConnection& c, int) {
        c.readRequest();
        c.send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nab");
        c.waitForPeerClose(std::chrono::seconds(20));
    });
    Start({server.url("/slow.bin")});
    ASSERT_TRUE(listener.WaitFor("error"));
    EXPECT_EQ(listener.Seen().back(), "error 5");
    EXPECT_EQ(Busy(), 0);
}

} // namespace
