// The direct download session on the library's worker thread, against
// scripted loopback servers: files in order across mirrors, retries,
// redirects, 416, failed writes and a full disk, and the receive quota that
// the job's mode chooses.

#include "TestDriveC.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <win32_ext.h>

#include "DirectTestSupport.h"
#include "IPlatFormSessionEventListener.h"
#include "LibraryLog.h"
#include "NpnWorker.h"
#include "PlatformSession.h"
#include "ScriptedHttpServer.h"
#include "TempDir.h"
#include "cp/cpCQoS.h"
#include "cp/cpCQoSContext.h"
#include "cp/cpCQoSContextAction.h"

namespace {

using testsupport::HttpConnection;
using testsupport::ScriptedHttpServer;
using Lines = std::vector<std::string>;

// Records the session's reports; touched on the worker thread only.
class SessionRecorder : public IPlatFormSessionEventListener {
public:
    void OnPlatformSessionCompleted(PlatformJobRecord*) override { events.push_back("completed"); }
    void OnPlatformSessionFailed(PlatformJobRecord*, const char* text) override
    {
        events.push_back(std::string("failed:") + text);
    }
    void OnPlatformFileCompleted(PlatformJobRecord*, const PlatformSessionFile* file) override
    {
        events.push_back("file:" + file->fileName);
    }
    void OnPlatformSessionProgress(PlatformJobRecord*) override
    {
        if (onProgress)
            onProgress();
    }
    void OnPlatformFileOpened(PlatformJobRecord*, const char* localPath) override
    {
        opened.emplace_back(localPath);
        if (onOpened)
            onOpened();
    }
    void OnPlatformSessionNotice(PlatformJobRecord*, int code, const char* text) override
    {
        events.push_back("notice:" + std::to_string(code) + ":" + text);
    }

    bool Ended() const
    {
        return std::any_of(events.begin(), events.end(), [](const std::string& e) {
            return e == "completed" || e.rfind("failed:", 0) == 0 || e.rfind("notice:", 0) == 0;
        });
    }

    std::vector<std::string> events;
    std::vector<std::string> opened;
    std::function<void()> onProgress;
    std::function<void()> onOpened;
};

// Answers every request of the first `failures` connections by closing the
// connection, then serves the body.
ScriptedHttpServer::Handler CloseThenServe(int failures, const std::string& body)
{
    return [failures, body](HttpConnection& c, int index) {
        if (index < failures) {
            c.readRequest();
            c.close();
            return;
        }
        ScriptedHttpServer::serveBody(body)(c, index);
    };
}

// While it lives, no file of this process can grow past `bytes`: writes
// beyond fail (with EFBIG) although the disk has room.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_original);
        rlimit small = m_original;
        small.rlim_cur = bytes;
        m_set = setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    ~FileSizeLimit() { Lift(); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    bool IsSet() const { return m_set; }
    void Lift() { setrlimit(RLIMIT_FSIZE, &m_original); }

private:
    rlimit m_original{};
    bool m_set = false;
};

class PlatformSessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(worker.IsStarted());
        m_log = LibraryLog::Prepare();
    }

    void TearDown() override
    {
        worker.Run([&] { session.reset(); });
        W32SetDiskFullForTesting(FALSE);
    }

    void AddFile(const std::string& url, const std::string& name)
    {
        auto entry = std::make_unique<JobFileEntry>();
        entry->index = static_cast<uint32_t>(files.size());
        entry->url = url;
        entry->folder = "C:\\dl\\";
        entry->fileName = name;
        files.push_back(std::move(entry));
    }

    void Start(int mode = 1, uint64_t rateLimit = 0)
    {
        worker.Run([&] {
            session = std::make_unique<CPlatformSession>();
            session->SetListener(&recorder, nullptr);
            session->SetMode(mode);
            session->SetRateLimit(rateLimit);
            session->Start(files);
        });
    }

    bool WaitForEnd()
    {
        return worker.WaitUntil([&] { return recorder.Ended(); }, std::chrono::seconds(30));
    }

    std::vector<std::string> Events()
    {
        return worker.Call([&] { return recorder.events; });
    }

    // Whether the session holds a connection or an open file.
    bool Busy()
    {
        return worker.Call([&] { return session->HasConnection() || session->HasOpenFile(); });
    }

    Lines Log() const { return LibraryLog::Messages(m_log); }

    NpnWorker worker;
    SessionRecorder recorder;
    std::vector<std::unique_ptr<JobFileEntry>> files;
    std::unique_ptr<CPlatformSession> session;
    std::string m_log;
};

TEST_F(PlatformSessionTest, DownloadsTheFilesInOrderAcrossMirrorsReplacingOldFiles)
{
    const std::string a = testsupport::patternBytes(300 * 1024, 1);
    const std::string b = testsupport::patternBytes(70 * 1024, 2);
    const std::string c = testsupport::patternBytes(5, 3);
    ScriptedHttpServer server([&](HttpConnection& conn, int) {
        while (auto request = conn.readRequest()) {
            const std::string& body = request->target == "/a" ? a : request->target == "/b" ? b : c;
            if (!conn.respond(200, "OK", body))
                return;
        }
    });
    // An older, longer file of the same name is replaced, not appended to.
    ASSERT_TRUE(testsupport::writeFile(directtest::DrivePath("dl/a.bin"), std::string(400 * 1024, 'x')));

    AddFile(server.url("/a"), "a.bin");
    AddFile(directtest::RefusedUrl("/b") + "|" + server.url("/b"), "b.bin");
    AddFile("nonsense://x|" + server.url("/c"), "c.bin");
    Start();
    ASSERT_TRUE(WaitForEnd());

    EXPECT_EQ(Events(), (std::vector<std::string>{"file:a.bin", "file:b.bin", "file:c.bin", "completed"}));
    EXPECT_EQ(directtest::FileHash(directtest::DrivePath("dl/a.bin")), directtest::Hash(a));
    EXPECT_EQ(directtest::FileHash(directtest::DrivePath("dl/b.bin")), directtest::Hash(b));
    EXPECT_EQ(directtest::FileHash(directtest::DrivePath("dl/c.bin")), directtest::Hash(c));
    EXPECT_EQ(worker.Call([&] { return session->GetReceived(); }), a.size() + b.size() + c.size());
    EXPECT_FALSE(Busy());

    // Three refused attempts on the dead mirror: the local file is opened for
    // each. A part of an entry that is no address was left out when the
    // entry was read.
    const auto opened = worker.Call([&] { return recorder.opened; });
    const auto count = [&](const char* name) {
        return std::count_if(opened.begin(), opened.end(),
                             [&](const std::string& p) { return p == std::string("C:\\dl\\") + name; });
    };
    EXPECT_EQ(count("a.bin"), 1);
    EXPECT_EQ(count("b.bin"), 4);
    EXPECT_EQ(count("c.bin"), 1);
    for (const auto& request : server.requests())
        EXPECT_EQ(request.header("Range"), "bytes=0-") << request.target;
}

TEST_F(PlatformSessionTest, ThreeClosedConnectionsPerMirrorThenTryMaxOver)
{
    ScriptedHttpServer server(CloseThenServe(1000, ""));
    AddFile(server.url("/first") + "|" + server.url("/second"), "f.bin");
    Start();
    ASSERT_TRUE(WaitForEnd());

    EXPECT_EQ(Events(), (std::vector<std::string>{"failed:" + server.url("/second")}));
    std::vector<std::string> targets;
    for (const auto& request : server.requests())
        targets.push_back(request.target);
    EXPECT_EQ(targets, (std::vector<std::string>{"/first", "/first", "/first", "/second", "/second", "/second"}));
    EXPECT_EQ(Log(), (Lines{"[MeshdropLib] TryMax Over : " + server.url("/second")}));
    EXPECT_FALSE(Busy());
}

TEST_F(PlatformSessionTest, ARedirectRestartsTheFileWithFreshAttempts)
{
    const std::string body = testsupport::patternBytes(10000, 4);
    ScriptedHttpServer target(CloseThenServe(2, body));
    ScriptedHttpServer origin([&](HttpConnection& c, int index) {
        c.readRequest();
        if (index < 2)
            c.close();
        else
            c.respond(302, "Found", "moved", {{"Location", target.url("/new.bin")}});
    });
    AddFile(origin.url("/old.bin"), "r.bin");
    Start();
    ASSERT_TRUE(WaitForEnd());

    // Three attempts at the first address, three more at the new one.
    EXPECT_EQ(Events(), (std::vector<std::string>{"file:r.bin", "completed"}));
    EXPECT_EQ(origin.connectionCount(), 3);
    EXPECT_EQ(target.connectionCount(), 3);
    EXPECT_EQ(directtest::FileHash(directtest::DrivePath("dl/r.bin")), directtest::Hash(body));
}

TEST_F(PlatformSessionTest, ARedirectWithoutLocationFailsWithoutWritingItsBody)
{
    ScriptedHttpServer server([](HttpConnection& c, int) {
        c.readRequest();
        c.respond(302, "Found", "the body of the redirect");
        c.waitForPeerClose(std::chrono::seconds(10));
    });
    AddFile(server.url("/x.bin"), "x.bin");
    Start();
    ASSERT_TRUE(WaitForEnd());

    EXPECT_EQ(Events(), (std::vector<std::string>{"failed:" + server.url("/x.bin")}));
    EXPECT_EQ(Log(), (Lines{"[MeshdropLib] eNWHSC_HTTP_SEEOTHER  : " + server.url("/x.bin")}));
    EXPECT_EQ(testsupport::readFile(directtest::DrivePath("dl/x.bin")), "");
    EXPECT_FALSE(Busy());
}

TEST_F(PlatformSessionTest, AFileIsCreatedOnlyDirectlyInItsFolderAndNeverThroughALink)
{
    ScriptedHttpServer server(ScriptedHttpServer::serveBody("payload"));
    const std::string outside = directtest::DrivePath("outside.txt");
    ASSERT_TRUE(testsupport::writeFile(outside, "keep"));
    std::filesystem::create_directories(directtest::DrivePath("dl"));
    std::filesystem::create_symlink(outside, directtest::DrivePath("dl/link.bin"));
    // Names that passed no check: a step out of the folder, and a link
    // planted in the folder under the file's name.
    for (const auto& [name, error] : {std::pair<std::string, int>{"..\\escape.bin", ERROR_INVALID_NAME},
                                      {"link.bin", ERROR_CANT_RESOLVE_FILENAME}}) {
        worker.Run([&] {
            session.reset();
            recorder = SessionRecorder();
        });
        files.clear();
        AddFile(server.url("/x"), name);
        Start();
        ASSERT_TRUE(WaitForEnd());
        EXPECT_EQ(Events(), (std::vector<std::string>{"failed:" + server.url("/x")}));
        const Lines log = Log();
        EXPECT_NE(std::find(log.begin(), log.end(),
                            "[MeshdropLib] CreateFile Failed(" + std::to_string(error) + ") : C:\\dl\\" + name),
                  log.end());
    }
    EXPECT_EQ(testsupport::readFile(outside), "keep");
    EXPECT_FALSE(std::filesystem::exists(directtest::DrivePath("escape.bin")));
    EXPECT_EQ(server.connectionCount(), 0);
}

TEST_F(PlatformSessionTest, AFailedWriteWithRoomLeftStartsTheFileOver)
{
    const std::string body = testsupport::patternBytes(256 * 1024, 5);
    ScriptedHttpServer server(ScriptedHttpServer::serveBody(body));
    // Files of this process cannot grow past 64 KiB until the second attempt
    // begins; the disk itself has room all along.
    FileSizeLimit limit(64 * 1024);
    ASSERT_TRUE(limit.IsSet());
    recorder.onOpened = [&] {
        if (recorder.opened.size() == 2)
            limit.Lift();
    };
    AddFile(server.url("/big.bin"), "big.bin");
    Start();
    ASSERT_TRUE(WaitForEnd());

    EXPECT_EQ(Events(), (std::vector<std::string>{"file:big.bin", "completed"}));
    EXPECT_EQ(server.connectionCount(), 2);
    EXPECT_EQ(directtest::FileHash(directtest::DrivePath("dl/big.bin")), directtest::Hash(body));
    // The bytes of the broken attempt are not counted twice.
    EXPECT_EQ(worker.Call([&] { return session->GetReceived(); }), body.size());
}

TEST_F(PlatformSessionTest, WritesThatKeepFailingEndInTryMaxOverNotInAShortFile)
{
    ScriptedHttpServer server(ScriptedHttpServer::serveBody(testsupport::patternBytes(256 * 1024, 6)));
    FileSizeLimit limit(64 * 1024);
    ASSERT_TRUE(limit.IsSet());
    AddFile(server.url("/big.bin"), "big.bin");
    Start();
    ASSERT_TRUE(WaitForEnd());

    EXPECT_EQ(Events(), (std::vector<std::string>{"failed:" + server.url("/big.bin")}));
    EXPECT_EQ(server.connectionCount(), 3);
}

TEST_F(PlatformSessionTest, AFullDiskStopsTheFileWithNotice513)
{
    ScriptedHttpServer server(ScriptedHttpServer::serveBody(testsupport::patternBytes(100 * 1024, 7)));
    W32SetDiskFullForTesting(TRUE);
    AddFile(server.url("/full.bin"), "full.bin");
    AddFile(server.url("/next.bin"), "next.bin");
    Start();
    ASSERT_TRUE(WaitForEnd());

    // No file is reported complete, and nothing more is fetched.
    EXPECT_EQ(Events(), (std::vector<std::string>{"notice:513:" + server.url("/full.bin")}));
    EXPECT_FALSE(Busy());
    EXPECT_EQ(server.connectionCount(), 1);
    EXPECT_EQ(worker.Call([&] { return session->GetCurrentFile()->fileName; }), "full.bin");
}

// The job's files share one receive quota that starts at once: without
// consent no one-second stretch of the job holds more than 393216 bytes, and
// three files of 256 KiB need more than one; with consent the three arrive
// within about a second, not one tick per file; with consent and a rate
// limit below the mode's, the limit is the quota.
TEST_F(PlatformSessionTest, TheJobsFilesShareOneQuotaThatStartsAtOnce)
{
    const std::string body = testsupport::patternBytes(256 * 1024, 8);
    ScriptedHttpServer server(ScriptedHttpServer::serveBody(body));
    for (const auto& [mode, rateLimit] : {std::pair{0, 0u}, std::pair{1, 0u}, std::pair{1, 500000u}}) {
        SCOPED_TRACE(mode);
        SCOPED_TRACE(rateLimit);
        const uint32_t quota = rateLimit != 0 ? rateLimit : CPlatformSession::kBandwidthWithoutConsent;
        files.clear();
        recorder = SessionRecorder();
        for (int i = 0; i < 3; ++i)
            AddFile(server.url("/q.bin"),
                    "q" + std::to_string(mode) + std::to_string(rateLimit) + std::to_string(i) + ".bin");
        struct Point {
            std::chrono::steady_clock::time_point at;
            uint64_t received;
            uint32_t tick;
        };
        std::vector<Point> points;
        int kind = 0;
        recorder.onProgress = [&] {
            points.push_back(
                {std::chrono::steady_clock::now(), session->GetReceived(), cpCQoS::GetInstance()->GetTickCount()});
            for (int slot = 0; slot < CP_SOCKET_SLOTS; ++slot) {
                if (cpCQoSContext* context = cpCQoS::GetInstance()->GetContextAt(slot))
                    kind = context->GetAction()->GetKind();
            }
        };
        Start(mode, rateLimit);
        ASSERT_TRUE(WaitForEnd());
        EXPECT_EQ(Events().back(), "completed");
        EXPECT_EQ(worker.Call([&] { return kind; }), QOS_ACTION_OWN_RECEIVE_ONLY);
        points = worker.Call([&] { return points; });
        ASSERT_FALSE(points.empty());
        uint64_t largest = 0; // bytes that arrived after one report and within a second of it
        for (std::size_t i = 0; i < points.size(); ++i) {
            for (std::size_t j = i; j < points.size() && points[j].at - points[i].at < std::chrono::seconds(1); ++j)
                largest = std::max(largest, points[j].received - points[i].received);
        }
        const uint32_t ticks = points.back().tick - points.front().tick;
        if (mode == 0 || rateLimit != 0) {
            // A report comes a moment after its bytes were taken from the
            // quota (they are handed on first): 1 % for that moment.
            EXPECT_LE(largest, quota * 101 / 100);
            EXPECT_GE(ticks, 1u);
        } else {
            EXPECT_LE(ticks, 1u);
        }
        worker.Run([&] { session.reset(); });
    }
}

} // namespace
