// The direct downloader end to end, as the client sees it: the shared
// library's entry points, events posted to a window of the test's thread and
// pumped like the main dialog's, files served by a real nginx and by scripted
// servers for the faults.

#include "TestDriveC.h"

#include <gtest/gtest.h>

#include <unistd.h>

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

TEST_F(DirectDownloadTest, ARedirectIsFollowedAndA416FinishesItsFile)
{
    testsupport::TempDir root("meshdrop-direct-root");
    const std::string body = testsupport::patternBytes(50000, 11);
    ASSERT_TRUE(testsupport::writeFile(root.file("new.pak"), body));
    testsupport::NginxServer nginx(root.path(), {"location = /old.pak { return 302 /new.pak; }"});
    ASSERT_TRUE(nginx.start()) << nginx.error();
    ScriptedHttpServer done([](HttpConnection& c, int) {
        c.readRequest();
        c.respond(416, "Range Not Satisfiable", "");
    });
    ASSERT_EQ(AddFile(nginx.url("/old.pak")), MESHDROPLIB_OK);
    ASSERT_EQ(AddFile(done.url("/done.pak"), 10), MESHDROPLIB_OK);
    ASSERT_EQ(MeshdropLib_StartJob(job, 1), MESHDROPLIB_OK);
    ASSERT_TRUE(window.PumpUntil(MESHDROPLIB_EVENT_JOB_FINISHED, 1, 30000));

    EXPECT_EQ(window.Count(MESHDROPLIB_EVENT_FILE_DONE), 2u);
    EXPECT_EQ(directtest::FileHash(LocalPath("old.pak")), directtest::Hash(body));
    EXPECT_EQ(testsupport::readFile(LocalPath("done.pak")), "");
    JobSizeInfo size{};
    EXPECT_EQ(MeshdropLib_GetJobSizeInfo(job, &size), MESHDROPLIB_OK);
    EXPECT_EQ(size.totalSize, body.size() + 10);
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

} // namespace
