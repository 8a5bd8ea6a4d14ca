// The direct downloader end to end, as the client sees it: the shared
// library's entry points, events posted to a window of the test's thread and
// pumped like the main dialog's, files served by a real nginx and by scripted
// servers for the faults.

#include "TestDriveC.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <future>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <win32_ext.h>

#include "DirectTestSupport.h"
#include "LibraryLog.h"
#include "MeshdropLib.h"
#include "NginxServer.h"
#include "SamplePackage.h"
#include "ScriptedHttpServer.h"
#include "TempDir.h"
#include "TestClientWindow.h"

namespace {

using testsupport::HttpConnection;
using testsupport::ScriptedHttpServer;
using Notice = std::pair<uint32_t, std::string>;

constexpr const char* kFolder = "C:\\games\\veilrune\\";

class DirectDownloadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_log = LibraryLog::Prepare();
        W32SetInternetConnectedForTesting(1);
        ASSERT_EQ(MeshdropLib_Initialize(window.Handle(), nullptr, nullptr), MESHDROPLIB_OK);
        ASSERT_EQ(MeshdropLib_CreateJob(&job, "TW", "joyvend_veilrune_tw"), MESHDROPLIB_OK);
    }

    void TearDown() override
    {
        MeshdropLib_Finalize();
        W32SetDiskFullForTesting(FALSE);
        W32SetInternetConnectedForTesting(-1);
    }

    int AddFile(const std::string& url, int64_t size = -1)
    {
        const auto bits = static_cast<uint64_t>(size);
        return MeshdropLib_AddFile(job, url.c_str(), kFolder, nullptr, static_cast<DWORD>(bits),
                                   static_cast<DWORD>(bits >> 32), 1);
    }

    // Every notice queued now, oldest first, popped as the dialog pops them.
    std::vector<Notice> PopNotices()
    {
        std::vector<Notice> notices;
        for (;;) {
            int size = 0;
            EXPECT_EQ(MeshdropLib_GetNoticeTextSize(job, &size), MESHDROPLIB_OK);
            std::string text(static_cast<size_t>(size), '\0');
            NoticeInfo notice{MESHDROPLIB_NOTICE_NONE, size > 0 ? text.data() : nullptr};
            EXPECT_EQ(MeshdropLib_PopNotice(job, &notice), MESHDROPLIB_OK);
            if (notice.code == MESHDROPLIB_NOTICE_NONE)
                return notices;
            notices.emplace_back(notice.code, size > 0 ? std::string(text.c_str()) : "");
        }
    }

    // The codes of this job's events, in arrival order.
    std::vector<UINT> JobEvents() const
    {
        std::vector<UINT> codes;
        for (const auto& [code, param] : window.Events()) {
            if (param == static_cast<LPARAM>(job))
                codes.push_back(code);
        }
        return codes;
    }

    static std::string LocalPath(const std::string& name) { return directtest::DrivePath("games/veilrune/" + name); }

    bool LogHas(const std::string& line) const
    {
        const auto lines = LibraryLog::Messages(m_log);
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    TestClientWindow window;
    MeshdropJobHandle job = 0;
    std::string m_log;
};

// Whether this process holds the file open.
bool ProcessHoldsOpen(const std::string& posixPath)
{
    const std::string wanted = std::filesystem::weakly_canonical(posixPath).string();
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (std::filesystem::read_symlink(fd.path(), ec).string() == wanted)
            return true;
    }
    return false;
}

TEST_F(DirectDownloadTest, AJobOfThreeFilesArrivesByteExactWithItsEventsInOrder)
{
    testsupport::TempDir root("meshdrop-direct-root");
    testsupport::NginxServer nginx(root.path());
    ASSERT_TRUE(nginx.start()) << nginx.error();
    publisher::PackageOptions options;
    options.root = root.path();
    options.port = nginx.port();
    // The first file's first mirror is dead, as a mirror server can be.
    const std::string dead = directtest::RefusedUrl("");
    options.mirrorPort = static_cast<uint16_t>(std::stoi(dead.substr(dead.rfind(':') + 1)));
    options.sizes = {640 * 1024, 320 * 1024, 64 * 1024};
    publisher::Package package;
    std::string error;
    ASSERT_TRUE(publisher::generatePackage(options, package, error)) << error;

    // The first three lines of the file list, as the dialog adds them.
    std::istringstream list(package.fileListText);
    std::vector<std::string> urls;
    for (std::string line; urls.size() < 3 && std::getline(list, line);)
        urls.push_back(line.substr(0, line.find('\r')));
    ASSERT_NE(urls[0].find('|'), std::string::npos);
    for (const std::string& url : urls)
        ASSERT_EQ(AddFile(url), MESHDROPLIB_OK);

    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(MeshdropLib_StartJob(job, 0), MESHDROPLIB_OK); // without consent: 384 KiB/s
    ASSERT_TRUE(window.PumpUntil(MESHDROPLIB_EVENT_JOB_FINISHED, 1, 60000));
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);

    // 513 first and once, the three files in order, 516 last; 514 about once
    // a second while the bytes flow (and once more just before 516).
    const std::vector<UINT> events = JobEvents();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front(), static_cast<UINT>(MESHDROPLIB_EVENT_JOB_SIZE));
    EXPECT_EQ(events.back(), static_cast<UINT>(MESHDROPLIB_EVENT_JOB_FINISHED));
    EXPECT_EQ(window.Count(MESHDROPLIB_EVENT_JOB_SIZE), 1u);
    EXPECT_EQ(window.Count(MESHDROPLIB_EVENT_FILE_DONE), 3u);
    EXPECT_EQ(window.Count(MESHDROPLIB_EVENT_JOB_NOTICE), 0u);
    const size_t ticks = window.Count(MESHDROPLIB_EVENT_JOB_PROGRESS);
    EXPECT_GE(ticks, 2u);
    EXPECT_LE(ticks, static_cast<size_t>(seconds.count()) + 2);

    JobSizeInfo size{};
    EXPECT_EQ(MeshdropLib_GetJobSizeInfo(job, &size), MESHDROPLIB_OK);
    EXPECT_EQ(size.fileCount, 3u);
    EXPECT_EQ(size.totalSize, (640u + 320u + 64u) * 1024u);

    for (uint32_t i = 0; i < 3; ++i) {
        FileDoneInfo done{};
        EXPECT_EQ(MeshdropLib_PopFileDone(job, &done), MESHDROPLIB_OK);
        EXPECT_EQ(done.sequence, i + 1);
        const std::string name = std::filesystem::path(package.files[i].localPath).filename().string();
        EXPECT_EQ(std::string(done.text), urls[i] + "," + kFolder + name);
        EXPECT_EQ(directtest::FileHash(LocalPath(name)), directtest::FileHash(package.files[i].localPath)) << name;
    }

    JobProgressInfo progress{};
    EXPECT_EQ(MeshdropLib_GetJobProgress(job, &progress), MESHDROPLIB_OK);
    EXPECT_EQ(progress.doneSize, size.totalSize);
    EXPECT_EQ(progress.percent, 100u);
    EXPECT_EQ(progress.fileCounter, 3u);
    JobFinishInfo finish{};
    EXPECT_EQ(MeshdropLib_GetJobFinishInfo(job, &finish), MESHDROPLIB_OK);
    EXPECT_EQ(finish.fileCount, 3u);
    EXPECT_EQ(finish.filesCompleted, 3u);
    EXPECT_EQ(finish.result, 0u);
    EXPECT_TRUE(LogHas("[MeshdropLib] CPlatFormDownloader Begin"));
    EXPECT_TRUE(LogHas("[MeshdropLib] CPlatFormDownloader FileSizeCheck Completed"));
}

TEST_F(DirectDownloadTest, AFileThatFailsOnEveryMirrorGivesNotice517AndTheJobStays)
{
    ScriptedHttpServer server([](HttpConnection& c, int) {
        c.readRequest();
        c.close();
    });
    const std::string url = server.url("/a.pak") + "|" + server.url("/b.pak");
    ASSERT_EQ(AddFile(url, 1000), MESHDROPLIB_OK);
    ASSERT_EQ(MeshdropLib_StartJob(job, 1), MESHDROPLIB_OK);
    ASSERT_TRUE(window.PumpUntil(MESHDROPLIB_EVENT_JOB_NOTICE));

    EXPECT_EQ(PopNotices(), (std::vector<Notice>{{MESHDROPLIB_NOTICE_JOB_FAILED, server.url("/b.pak")}}));
    EXPECT_EQ(server.connectionCount(), 6);
    EXPECT_TRUE(LogHas("[MeshdropLib] TryMax Over : " + server.url("/b.pak")));
    // The job stays with the downloader until the client stops it.
    EXPECT_EQ(MeshdropLib_StartJob(job, 1), MESHDROPLIB_ERROR_JOB_RUNNING);
    EXPECT_EQ(MeshdropLib_StopJob(job), MESHDROPLIB_OK);
}

TEST_F(DirectDownloadTest, ARedirectIsFollowedAndALoopOfRedirectsEndsInTryMax)
{
    testsupport::TempDir root("meshdrop-direct-root");
    const std::string body = testsupport::patternBytes(50000, 11);
    ASSERT_TRUE(testsupport::writeFile(root.file("new.pak"), body));
    testsupport::NginxServer nginx(root.path(), {"location = /old.pak { return 302 /new.pak; }"});
    ASSERT_TRUE(nginx.start()) << nginx.error();
    // A server that sends the client back to the same address for ever.
    ScriptedHttpServer scripted([&](HttpConnection& c, int) {
        if (const auto request = c.readRequest())
            c.respond(302, "Found", "", {{"Location", request->target}, {"Content-Length", "0"}});
    });
    ASSERT_EQ(AddFile(nginx.url("/old.pak")), MESHDROPLIB_OK);
    ASSERT_EQ(AddFile(scripted.url("/loop.pak"), 10), MESHDROPLIB_OK);
    ASSERT_EQ(MeshdropLib_StartJob(job, 1), MESHDROPLIB_OK);
    ASSERT_TRUE(window.PumpUntil(MESHDROPLIB_EVENT_JOB_NOTICE, 1, 60000));

    EXPECT_EQ(window.Count(MESHDROPLIB_EVENT_FILE_DONE), 1u);
    EXPECT_EQ(directtest::FileHash(LocalPath("old.pak")), directtest::Hash(body));
    EXPECT_EQ(PopNotices(), (std::vector<Notice>{{MESHDROPLIB_NOTICE_JOB_FAILED, scripted.url("/loop.pak")}}));
    EXPECT_TRUE(LogHas("[MeshdropLib] TryMax Over : " + scripted.url("/loop.pak")));
    // The first request and 20 redirects followed; the 21st ends the address.
    EXPECT_EQ(scripted.connectionCount(), 21);
    EXPECT_EQ(MeshdropLib_StopJob(job), MESHDROPLIB_OK);
}

TEST_F(DirectDownloadTest, ARelativeLocationIsResolvedForTheProbeAndTheDownload)
{
    const std::string body = testsupport::patternBytes(7777, 15);
    ScriptedHttpServer server([&](HttpConnection& c, int) {
        const auto request = c.readRequest();
        if (request && request->target == "/a/b/rel.pak")
            c.respond(302, "Found", "", {{"Location", "../c/./real.pak?v=2"}, {"Content-Length", "0"}});
        else if (request && request->target == "/a/c/real.pak?v=2")
            c.respond(200, "OK", body);
        else
            c.respond(404, "Not Found", "");
    });
    ASSERT_EQ(AddFile(server.url("/a/b/rel.pak")), MESHDROPLIB_OK);
    ASSERT_EQ(MeshdropLib_StartJob(job, 1), MESHDROPLIB_OK);
    ASSERT_TRUE(window.PumpUntil(MESHDROPLIB_EVENT_JOB_FINISHED, 1, 30000));
    EXPECT_EQ(directtest::FileHash(LocalPath("rel.pak")), directtest::Hash(body));
}

TEST_F(DirectDownloadTest, AProbeAnswered404FailsTheJobWith517AndDropsIt)
{
    testsupport::TempDir root("meshdrop-direct-root");
    testsupport::NginxServer nginx(root.path());
    ASSERT_TRUE(nginx.start()) << nginx.error();
    ASSERT_EQ(AddFile(nginx.url("/missing.pak")), MESHDROPLIB_OK);
    ASSERT_EQ(MeshdropLib_StartJob(job, 1), MESHDROPLIB_OK);
    ASSERT_TRUE(window.PumpUntil(MESHDROPLIB_EVENT_JOB_NOTICE));

    EXPECT_EQ(PopNotices(), (std::vector<Notice>{{MESHDROPLIB_NOTICE_JOB_FAILED, nginx.url("/missing.pak")}}));
    EXPECT_EQ(window.Count(MESHDROPLIB_EVENT_JOB_SIZE), 0u);
    EXPECT_EQ(MeshdropLib_StopJob(job), MESHDROPLIB_ERROR_FAILED); // no downloader holds it
    EXPECT_EQ(MeshdropLib_DeleteJob(job), MESHDROPLIB_OK);
}

TEST_F(DirectDownloadTest, LessFreeSpaceThanAFileNeedsGivesNotice513)
{
    ScriptedHttpServer server([](HttpConnection& c, int) {
        c.readRequest();
        c.send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(1ull << 60) + "\r\n\r\n");
        c.waitForPeerClose(std::chrono::seconds(10));
    });
    ASSERT_EQ(AddFile(server.url("/huge.pak")), MESHDROPLIB_OK);
    ASSERT_EQ(MeshdropLib_StartJob(job, 1), MESHDROPLIB_OK);
    ASSERT_TRUE(window.PumpUntil(MESHDROPLIB_EVENT_JOB_NOTICE));
    EXPECT_EQ(PopNotices(), (std::vector<Notice>{{MESHDROPLIB_NOTICE_DISK_FULL, server.url("/huge.pak")}}));
    EXPECT_EQ(MeshdropLib_StopJob(job), MESHDROPLIB_ERROR_FAILED); // no downloader holds it
}

TEST_F(DirectDownloadTest, AFullDiskGivesNotice513AndTheMissingBytes)
{
    const std::string body = testsupport::patternBytes(200000, 12);
    ScriptedHttpServer server(ScriptedHttpServer::serveBody(body));
    ASSERT_EQ(AddFile(server.url("/a.pak"), static_cast<int64_t>(body.size())), MESHDROPLIB_OK);
    ASSERT_EQ(AddFile(server.url("/b.pak"), 1000), MESHDROPLIB_OK);
    W32SetDiskFullForTesting(TRUE);
    ASSERT_EQ(MeshdropLib_StartJob(job, 1), MESHDROPLIB_OK);
    ASSERT_TRUE(window.PumpUntil(MESHDROPLIB_EVENT_JOB_NOTICE));

    EXPECT_EQ(PopNotices(), (std::vector<Notice>{{MESHDROPLIB_NOTICE_DISK_FULL, server.url("/a.pak")}}));
    uint64_t missing = 0;
    EXPECT_EQ(MeshdropLib_GetRequiredSpace(job, &missing), MESHDROPLIB_OK);
    EXPECT_EQ(missing, body.size() + 1000);
    // The dialog stops the job; no file was reported complete.
    EXPECT_EQ(MeshdropLib_StopJob(job), MESHDROPLIB_OK);
    window.Drain();
    EXPECT_EQ(window.Count(MESHDROPLIB_EVENT_FILE_DONE), 0u);
    EXPECT_EQ(window.Count(MESHDROPLIB_EVENT_JOB_FINISHED), 0u);
}

TEST_F(DirectDownloadTest, LosingAndRegainingTheNetworkNotifiesOnceEach)
{
    ScriptedHttpServer server(ScriptedHttpServer::serveBody(testsupport::patternBytes(4 * 1024 * 1024, 13)));
    ASSERT_EQ(AddFile(server.url("/slow.pak")), MESHDROPLIB_OK);
    ASSERT_EQ(MeshdropLib_StartJob(job, 0), MESHDROPLIB_OK);
    ASSERT_TRUE(window.PumpUntil(MESHDROPLIB_EVENT_JOB_PROGRESS));

    W32SetInternetConnectedForTesting(0);
    ASSERT_TRUE(window.PumpUntil(MESHDROPLIB_EVENT_JOB_NOTICE));
    // Two more ticks without a connection add nothing.
    ASSERT_TRUE(window.PumpUntil(MESHDROPLIB_EVENT_JOB_PROGRESS, window.Count(MESHDROPLIB_EVENT_JOB_PROGRESS) + 2));
    W32SetInternetConnectedForTesting(1);
    ASSERT_TRUE(window.PumpUntil(MESHDROPLIB_EVENT_JOB_NOTICE, 2));
    ASSERT_TRUE(window.PumpUntil(MESHDROPLIB_EVENT_JOB_PROGRESS, window.Count(MESHDROPLIB_EVENT_JOB_PROGRESS) + 2));

    EXPECT_EQ(PopNotices(),
              (std::vector<Notice>{{MESHDROPLIB_NOTICE_NETWORK_LOST, ""}, {MESHDROPLIB_NOTICE_NETWORK_BACK, ""}}));
    EXPECT_EQ(MeshdropLib_StopJob(job), MESHDROPLIB_OK);
}

TEST_F(DirectDownloadTest, StoppingMidFileClosesItsConnectionAndFileAndDeletingFreesTheJob)
{
    std::promise<bool> peerClosed;
    ScriptedHttpServer server([&](HttpConnection& c, int) {
        c.readRequest();
        // Blocks while the client reads slowly; fails once it has gone.
        const bool sent = c.respond(200, "OK", testsupport::patternBytes(8 * 1024 * 1024, 14));
        peerClosed.set_value(!sent || c.waitForPeerClose(std::chrono::seconds(30)));
    });
    ASSERT_EQ(AddFile(server.url("/big.pak"), 8 * 1024 * 1024), MESHDROPLIB_OK);
    ASSERT_EQ(MeshdropLib_StartJob(job, 0), MESHDROPLIB_OK);
    ASSERT_TRUE(window.PumpUntil(MESHDROPLIB_EVENT_JOB_PROGRESS));
    EXPECT_TRUE(ProcessHoldsOpen(LocalPath("big.pak")));

    EXPECT_EQ(MeshdropLib_StopJob(job), MESHDROPLIB_OK);
    EXPECT_FALSE(ProcessHoldsOpen(LocalPath("big.pak")));
    auto closed = peerClosed.get_future();
    ASSERT_EQ(closed.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_TRUE(closed.get());

    EXPECT_EQ(MeshdropLib_DeleteJob(job), MESHDROPLIB_OK);
    EXPECT_EQ(MeshdropLib_DeleteJob(job), MESHDROPLIB_ERROR_FAILED);
    JobProgressInfo progress{};
    EXPECT_EQ(MeshdropLib_GetJobProgress(job, &progress), MESHDROPLIB_ERROR_FAILED);
}

TEST_F(DirectDownloadTest, HostileNamesAreRefusedAtAddFileAndNothingLandsOutsideTheFolder)
{
    testsupport::TempDir tree("meshdrop-hostile");
    const std::string folder = W32PathFromPosixA(tree.path() + "/inner/dl") + "\\";
    const std::string body = testsupport::patternBytes(3000, 16);
    ScriptedHttpServer server(ScriptedHttpServer::serveBody(body));
    auto add = [&](const std::string& url, const char* name) {
        return MeshdropLib_AddFile(job, url.c_str(), folder.c_str(), name, 0xFFFFFFFFu, 0xFFFFFFFFu, 1);
    };
    const std::string hostile[] = {"..\\",  "x\\..\\..\\", "..\\..\\evil.exe",    "/etc/x", "Z:\\x", "C:x",
                                   "a%00b", "%2e%2e",      std::string(300, 'n'), ""};
    for (const std::string& name : hostile) {
        // As the last segment of a list line, and as the client's own name.
        if (name != "/etc/x") {
            EXPECT_EQ(add(server.url("/") + name, nullptr), MESHDROPLIB_ERROR_URL) << name;
        }
        if (!name.empty()) {
            EXPECT_EQ(add(server.url("/ok.bin"), name.c_str()), MESHDROPLIB_ERROR_URL) << name;
        }
    }
    for (const char* line : {"/etc/x", "Z:\\x", "C:x"})
        EXPECT_EQ(add(line, nullptr), MESHDROPLIB_ERROR_URL) << line;
    EXPECT_TRUE(LogHas("[MeshdropLib] AddFile Refused : " + server.url("/..\\")));

    // The refused lines left nothing behind; a good one still downloads. A
    // mirror's path names nothing: the name comes from the first address.
    ASSERT_EQ(add(server.url("/ok.bin") + "|" + server.url("/..\\..\\evil.exe"), nullptr), MESHDROPLIB_OK);
    ASSERT_EQ(MeshdropLib_StartJob(job, 1), MESHDROPLIB_OK);
    ASSERT_TRUE(window.PumpUntil(MESHDROPLIB_EVENT_JOB_FINISHED, 1, 30000));
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(tree.path())) {
        if (!entry.is_directory())
            files.push_back(entry.path().string());
    }
    EXPECT_EQ(files, std::vector<std::string>{tree.path() + "/inner/dl/ok.bin"});
    EXPECT_EQ(testsupport::readFile(tree.path() + "/inner/dl/ok.bin"), body);
}

TEST_F(DirectDownloadTest, AnswersThatCannotGiveTheWholeFileAreFailedAttempts)
{
    // Per address: 416 for an empty file, a body shorter than announced, and
    // a length other than the probed size. Each ends as three failed
    // attempts (notice 517), never as a completed file.
    ScriptedHttpServer server([](HttpConnection& c, int) {
        const auto request = c.readRequest();
        if (!request)
            return;
        const bool probe = !request->hasHeader("Range");
        if (request->target == "/gone.pak") {
            c.respond(416, "Range Not Satisfiable", "");
        } else if (request->target == "/short.pak") {
            c.send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(400, 's'));
            c.close();
        } else {
            c.respond(200, "OK", std::string(probe ? 100 : 50, 'm'));
        }
    });
    for (const auto& [path, size] :
         {std::pair<std::string, int64_t>{"/gone.pak", 10}, {"/short.pak", 1000}, {"/moved.pak", -1}}) {
        SCOPED_TRACE(path);
        MeshdropJobHandle other = 0;
        ASSERT_EQ(MeshdropLib_CreateJob(&other, "TW", "svc"), MESHDROPLIB_OK);
        const auto bits = static_cast<uint64_t>(size);
        ASSERT_EQ(MeshdropLib_AddFile(other, server.url(path).c_str(), kFolder, nullptr, static_cast<DWORD>(bits),
                                      static_cast<DWORD>(bits >> 32), 1),
                  MESHDROPLIB_OK);
        const int before = server.connectionCount();
        ASSERT_EQ(MeshdropLib_StartJob(other, 1), MESHDROPLIB_OK);
        std::swap(job, other);
        ASSERT_TRUE(window.PumpUntil(MESHDROPLIB_EVENT_JOB_NOTICE, window.Count(MESHDROPLIB_EVENT_JOB_NOTICE) + 1));
        EXPECT_EQ(PopNotices(), (std::vector<Notice>{{MESHDROPLIB_NOTICE_JOB_FAILED, server.url(path)}}));
        EXPECT_EQ(server.connectionCount() - before, size == -1 ? 4 : 3);
        EXPECT_EQ(MeshdropLib_StopJob(job), MESHDROPLIB_OK);
        std::swap(job, other);
    }
    EXPECT_EQ(window.Count(MESHDROPLIB_EVENT_FILE_DONE), 0u);
}

TEST_F(DirectDownloadTest, ChunkedBodiesAndHeadersWithoutSpacesArriveByteExact)
{
    const std::string body = testsupport::patternBytes(100000, 17);
    ScriptedHttpServer server([&](HttpConnection& c, int) {
        const auto request = c.readRequest();
        if (!request)
            return;
        if (request->target == "/five.pak") {
            c.send("HTTP/1.1 200 OK\r\nContent-Length:5\r\n\r\nfive!");
        } else if (!request->hasHeader("Range")) {
            c.respond(200, "OK", body); // the probe learns the size
        } else {
            // The download: chunks of uneven sizes, with an extension and a trailer.
            std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
            for (size_t at = 0, n = 1; at < body.size(); at += n, n = n * 3 + 1) {
                const size_t piece = std::min(n, body.size() - at);
                char size[32];
                std::snprintf(size, sizeof size, "%zx;ext=1\r\n", piece);
                chunked += size + body.substr(at, piece) + "\r\n";
            }
            c.send(chunked + "0\r\nX-Checksum: 1\r\n\r\n");
        }
        c.waitForPeerClose(std::chrono::seconds(10));
    });
    ASSERT_EQ(AddFile(server.url("/chunked.pak")), MESHDROPLIB_OK);
    ASSERT_EQ(AddFile(server.url("/five.pak")), MESHDROPLIB_OK);
    ASSERT_EQ(MeshdropLib_StartJob(job, 1), MESHDROPLIB_OK);
    ASSERT_TRUE(window.PumpUntil(MESHDROPLIB_EVENT_JOB_FINISHED, 1, 30000));
    EXPECT_EQ(window.Count(MESHDROPLIB_EVENT_FILE_DONE), 2u);
    EXPECT_EQ(testsupport::readFile(LocalPath("chunked.pak")), body);
    EXPECT_EQ(testsupport::readFile(LocalPath("five.pak")), "five!");
}

TEST_F(DirectDownloadTest, ARealFullDiskIsNotice513WithoutRetries)
{
    testsupport::TempDir mountPoint("meshdrop-small-disk");
    if (mount("tmpfs", mountPoint.path().c_str(), "tmpfs", 0, "size=4m") != 0)
        GTEST_SKIP() << "mounting a 4 MiB tmpfs needs root (" << std::strerror(errno) << "): real full disk not tried";
    struct Unmount {
        std::string path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{mountPoint.path()};
    // Two files of 3 MiB: each fits the free space the probes see, both do not.
    const std::string body = testsupport::patternBytes(3 * 1024 * 1024, 18);
    ScriptedHttpServer server(ScriptedHttpServer::serveBody(body));
    const std::string folder = W32PathFromPosixA(mountPoint.path()) + "\\";
    for (const char* name : {"/one.pak", "/two.pak"})
        ASSERT_EQ(
            MeshdropLib_AddFile(job, server.url(name).c_str(), folder.c_str(), nullptr, 0xFFFFFFFFu, 0xFFFFFFFFu, 1),
            MESHDROPLIB_OK);
    ASSERT_EQ(MeshdropLib_StartJob(job, 1), MESHDROPLIB_OK);
    ASSERT_TRUE(window.PumpUntil(MESHDROPLIB_EVENT_JOB_NOTICE, 1, 60000));

    EXPECT_EQ(PopNotices(), (std::vector<Notice>{{MESHDROPLIB_NOTICE_DISK_FULL, server.url("/two.pak")}}));
    EXPECT_EQ(window.Count(MESHDROPLIB_EVENT_FILE_DONE), 1u);
    // Two probes, one download each: the full disk was not retried.
    EXPECT_EQ(server.connectionCount(), 4);
    EXPECT_FALSE(LogHas("[MeshdropLib] TryMax Over : " + server.url("/two.pak")));
    EXPECT_EQ(MeshdropLib_StopJob(job), MESHDROPLIB_OK);
}

TEST_F(DirectDownloadTest, AClientThatStopsAndDeletesTheJobOnItsFirstFileDoneReachesNothingFreed)
{
    // The dialog's callback runs on the worker thread, inside the report of
    // the file that completed.
    struct Client {
        MeshdropJobHandle job = 0;
        std::string url;
        std::vector<int> answers;
        std::promise<void> answered;
    } client;
    MeshdropLib_Finalize();
    auto callback = [](UINT code, LPARAM, void* user) {
        auto* self = static_cast<Client*>(user);
        if (code != MESHDROPLIB_EVENT_FILE_DONE || !self->answers.empty())
            return;
        self->answers.push_back(MeshdropLib_StopJob(self->job));
        self->answers.push_back(MeshdropLib_AddFile(self->job, self->url.c_str(), kFolder, "late.pak", 10, 0, 1));
        self->answers.push_back(MeshdropLib_DeleteJob(self->job));
        self->answered.set_value();
    };
    ASSERT_EQ(MeshdropLib_Initialize(window.Handle(), callback, &client), MESHDROPLIB_OK);
    ASSERT_EQ(MeshdropLib_CreateJob(&client.job, "TW", "svc"), MESHDROPLIB_OK);
    job = client.job;
    const std::string body = testsupport::patternBytes(20000, 19);
    ScriptedHttpServer server(ScriptedHttpServer::serveBody(body));
    client.url = server.url("/late.pak");
    ASSERT_EQ(AddFile(server.url("/first.pak"), static_cast<int64_t>(body.size())), MESHDROPLIB_OK);
    ASSERT_EQ(AddFile(server.url("/second.pak"), static_cast<int64_t>(body.size())), MESHDROPLIB_OK);
    ASSERT_EQ(MeshdropLib_StartJob(job, 1), MESHDROPLIB_OK);
    ASSERT_EQ(client.answered.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
    window.Drain();

    EXPECT_EQ(window.Count(MESHDROPLIB_EVENT_FILE_DONE), 1u);
    EXPECT_EQ(client.answers, (std::vector<int>{MESHDROPLIB_OK, MESHDROPLIB_OK, MESHDROPLIB_OK}));
    EXPECT_EQ(testsupport::readFile(LocalPath("first.pak")), body);
    EXPECT_FALSE(std::filesystem::exists(LocalPath("second.pak")));
    EXPECT_EQ(server.connectionCount(), 1);
    EXPECT_EQ(MeshdropLib_DeleteJob(job), MESHDROPLIB_ERROR_FAILED);
}

} // namespace
