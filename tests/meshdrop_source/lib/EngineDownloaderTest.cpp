// The engine downloader inside the running library: jobs go through the entry
// points to a fake engine, for what the real one never does on its own, and
// the launcher's reports are given by the test. The whole path with the real
// launcher and engine is EnginePathTest.

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "DeferredDestruction.h"
#include "EngineDownloader.h"
#include "EngineLauncher.h"
#include "EntryPointFlow.h"
#include "FakeEngine.h"
#include "JobManager.h"
#include "Library.h"
#include "LibraryLog.h"
#include "MeshdropLib.h"
#include "NginxServer.h"
#include "SilentUpdateList.h"
#include "TempDir.h"
#include "TestClientWindow.h"
#include "TestDriveC.h"
#include "cp/cpCMutex.h"

namespace {

std::string DriveCFile(const std::string& relative)
{
    return TestDriveC::Root() + "/" + relative;
}

// nginx serving files the test writes: the direct downloader's server.
class StaticFiles {
public:
    StaticFiles() : m_nginx(m_root.path()) {}
    bool Start() { return m_nginx.start(); }
    std::string Add(const std::string& name, const std::string& body)
    {
        testsupport::writeFile(m_root.file(name), body);
        return m_nginx.url("/" + name);
    }

private:
    testsupport::TempDir m_root{"meshdrop-engine-files"};
    testsupport::NginxServer m_nginx;
};

class EngineDownloaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_log = LibraryLog::Prepare();
        ASSERT_EQ(MeshdropLib_Initialize(m_window.Handle(), nullptr, nullptr), MESHDROPLIB_OK);
        m_manager = Library_GetJobManager();
        ASSERT_NE(m_manager, nullptr);
    }

    void TearDown() override { MeshdropLib_Finalize(); }

    // Installs the engine downloader; its launches are counted, and their
    // reports come from the test. `port` is where the library finds the engine.
    void InstallEngineDownloader(uint16_t port)
    {
        setenv("MESHDROP_ENGINE_PORT", std::to_string(port).c_str(), 1);
        {
            // Under the library lock, as the job manager makes it at
            // initialisation: the worker is already running.
            cpCMutexLock lock(m_manager->GetMutex());
            auto engine = std::make_unique<CEngineDownloader>(m_manager, m_manager->GetLock(), [this](auto*) {
                std::lock_guard<std::mutex> guard(m_mutex);
                ++m_launches;
                m_launched.notify_all();
                return std::unique_ptr<CEngineLauncher>();
            });
            m_engine = engine.get();
            m_manager->SetEngineDownloader(std::move(engine));
        }
        ASSERT_EQ(MeshdropLib_SetEngineServiceId("svc_engine"), MESHDROPLIB_OK);
    }

    int Launches()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_launches;
    }

    bool WaitForLaunches(int count)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_launched.wait_for(lock, std::chrono::seconds(30), [&] { return m_launches >= count; });
    }

    // The launcher's report, as the network library would deliver it.
    template <class Fn>
    void Launcher(Fn&& fn)
    {
        CReportGuard guard(m_manager->GetMutex());
        fn(*m_engine);
    }

    MeshdropJobHandle CreateJob(const std::vector<std::pair<std::string, std::string>>& files, int64_t size = -1,
                                const std::string& folder = "C:\\dl\\")
    {
        MeshdropJobHandle job = 0;
        EXPECT_EQ(MeshdropLib_CreateJob(&job, nullptr, "svc_job"), MESHDROPLIB_OK);
        EXPECT_EQ(MeshdropLib_SetJobEngineFlag(job), MESHDROPLIB_OK);
        for (const auto& [url, name] : files)
            EXPECT_EQ(MeshdropLib_AddFile(job, url.c_str(), folder.c_str(), name.c_str(), static_cast<DWORD>(size),
                                          static_cast<DWORD>(static_cast<uint64_t>(size) >> 32), 1),
                      MESHDROPLIB_OK);
        return job;
    }

    size_t LogCount(const std::string& message)
    {
        const auto messages = LibraryLog::Messages(m_log);
        return static_cast<size_t>(std::count(messages.begin(), messages.end(), message));
    }

    SilentUpdateList m_updateList; // the library's own engine downloader stays quiet until replaced
    TestClientWindow m_window;
    std::string m_log;
    CJobManager* m_manager = nullptr;
    CEngineDownloader* m_engine = nullptr; // owned by the manager until the fallback
    std::mutex m_mutex;
    std::condition_variable m_launched;
    int m_launches = 0;
};

TEST_F(EngineDownloaderTest, LargeJobGoesFileByFileAndProgressStaysWithinTheJob)
{
    FakeEngine fake;
    InstallEngineDownloader(fake.Port());
    std::vector<std::pair<std::string, std::string>> files;
    const std::string longPath(400, 'p');
    for (int i = 0; i < 300; ++i)
        files.emplace_back("http://127.0.0.1:9/" + longPath + "/f" + std::to_string(i) + ".bin", "");
    const MeshdropJobHandle job = CreateJob(files, 1000);
    ASSERT_EQ(MeshdropLib_SetJobRateLimit(job, 1500000), MESHDROPLIB_OK);
    Launcher([](CEngineDownloader& e) { e.OnLauncherReady(); });
    // Started while the connection is being made: sent once it is up.
    ASSERT_EQ(MeshdropLib_StartJob(job, 0), MESHDROPLIB_OK);

    std::vector<FakeEngine::Frame> frames;
    std::thread peer([&] {
        ASSERT_TRUE(fake.Accept());
        ASSERT_TRUE(fake.ReadUntil(CDN_REQ_JOB_END, frames));
        const uint32_t number = frames.back().As<nwCDNJobHeader>().jobNumber;
        fake.Send(CDN_NOTE_JOB_ACCEPTED, nwCDNJobAccepted{number, 7, 300, 300000});
        nwCDNProgressBlock block{};
        block.jobNumber = number;
        block.engineJobId = 7;
        block.fileCount = 300;
        block.currentFile = 1000; // beyond the job
        block.totalSize = 300000;
        block.doneSize = 150000;
        block.speed = 5000;
        block.elapsedSeconds = 3;
        nwCDNProgressEntry item{};
        item.item.size = 1000;
        item.item.done = 250;
        item.item.speed = 100;
        std::vector<uint8_t> bytes;
        nwCDNAppendProgress(bytes, block, {item});
        fake.SendBytes(bytes);
        // A report naming another engine job id is not this job's.
        fake.Send(CDN_NOTE_JOB_ENDED, nwCDNJobEnded{number, 8, 0, CDN_RESULT_GAVE_UP, 300});
        fake.Send(CDN_NOTE_JOB_ENDED, nwCDNJobEnded{number, 7, 300, CDN_RESULT_OK, 300});
    });
    const bool finished = PumpUntilOutcome(m_window, MESHDROPLIB_EVENT_JOB_FINISHED, MESHDROPLIB_EVENT_JOB_NOTICE);
    peer.join();
    ASSERT_TRUE(finished);

    std::vector<uint16_t> types;
    for (const auto& frame : frames)
        types.push_back(frame.type);
    std::vector<uint16_t> expected{CDN_REQ_SERVICE_ID, CDN_REQ_JOB_MODE, CDN_REQ_ENGINE_FLAG, CDN_REQ_JOB_HEADER};
    expected.insert(expected.end(), 300, CDN_REQ_JOB_ITEM);
    expected.push_back(CDN_REQ_JOB_END);
    ASSERT_EQ(types, expected);
    EXPECT_STREQ(frames[0].payload.c_str(), "svc_engine");
    EXPECT_EQ(frames[1].As<nwCDNJobMode>().mode, CDN_MODE_LIMITED);
    const uint64_t rate = frames[1].As<nwCDNJobMode>().rateLimit; // a packed field: copied, not bound
    EXPECT_EQ(rate, 1500000u) << "the job's rate travels in the mode's reserved bytes";
    EXPECT_EQ(frames[3].As<nwCDNJobHeader>().itemCount, 300u);
    for (uint32_t i = 0; i < 300; ++i) {
        const FakeEngine::Frame& item = frames[4 + i];
        nwCDNItemPrefix prefix{};
        nwCDNDecodedItem decoded;
        ASSERT_TRUE(nwCDNReadJobItem(reinterpret_cast<const uint8_t*>(item.payload.data()),
                                     static_cast<uint32_t>(item.payload.size()), &prefix, &decoded));
        EXPECT_EQ(prefix.itemIndex, i);
        EXPECT_EQ(decoded.url, files[i].first);
        const int64_t size = decoded.fields.size; // a packed field: copied, not bound
        EXPECT_EQ(size, 1000);
    }
    // The last progress before the end names the job's last file.
    JobProgressInfo progress{};
    ASSERT_EQ(MeshdropLib_GetJobProgress(job, &progress), MESHDROPLIB_OK);
    EXPECT_EQ(progress.fileIndex, 299u);
    EXPECT_STREQ(progress.fileName, "f299.bin");
    EXPECT_EQ(progress.fileCounter, 1000u);
    EXPECT_EQ(progress.percent, 50u);
    EXPECT_EQ(progress.speed, 5000u);
    EXPECT_EQ(progress.remaining, 30u);
    EXPECT_EQ(progress.filePercent, 25u);
    EXPECT_EQ(progress.fileRemaining, 7u);
    JobSizeInfo sizes{};
    ASSERT_EQ(MeshdropLib_GetJobSizeInfo(job, &sizes), MESHDROPLIB_OK);
    EXPECT_EQ(sizes.fileCount, 300u);
    EXPECT_EQ(sizes.totalSize, 300000u);
}

TEST_F(EngineDownloaderTest, FilesAreReportedByTheJobsOwnPathAndReportsOfOtherFilesAreIgnored)
{
    FakeEngine fake;
    InstallEngineDownloader(fake.Port());
    const MeshdropJobHandle job =
        CreateJob({{"http://127.0.0.1:9/setup.exe", ""}, {"http://127.0.0.1:9/data,1.bin", ""}}, 1000);
    Launcher([](CEngineDownloader& e) { e.OnLauncherReady(); });
    ASSERT_EQ(MeshdropLib_StartJob(job, 1), MESHDROPLIB_OK);

    std::thread peer([&] {
        std::vector<FakeEngine::Frame> frames;
        ASSERT_TRUE(fake.Accept());
        ASSERT_TRUE(fake.ReadUntil(CDN_REQ_JOB_LIST, frames));
        const uint32_t number = frames.back().As<nwCDNJobHeader>().jobNumber;
        fake.Send(CDN_NOTE_JOB_ACCEPTED, nwCDNJobAccepted{number, 4, 2, 2000});
        std::vector<uint8_t> bytes;
        // The first file's number with another program's path, a path
        // outside the job without a number, then the second file (in other
        // letters) with a path offered as its alternative text.
        nwCDNAppendFileDone(bytes, {number, 4, 0, "Z:\\tmp\\evil\\setup.exe", "http://127.0.0.1:9/setup.exe", {}});
        nwCDNFileDoneFixed outside{number, 4, {}, {}};
        nwCDNPutField(outside.localPath, sizeof outside.localPath, "C:\\dl\\evil.exe");
        nwCDNAppendFrame(bytes, CDN_NOTE_FILE_DONE, &outside, sizeof outside);
        nwCDNAppendFileDone(
            bytes, {number, 4, 1, "C:\\DL\\DATA,1.BIN", "http://127.0.0.1:9/data,1.bin", "Z:\\tmp\\evil\\setup.exe"});
        fake.SendBytes(bytes);
        fake.Send(CDN_NOTE_JOB_ENDED, nwCDNJobEnded{number, 4, 2, CDN_RESULT_OK, 2});
    });
    const bool finished = PumpUntilOutcome(m_window, MESHDROPLIB_EVENT_JOB_FINISHED, MESHDROPLIB_EVENT_JOB_NOTICE);
    peer.join();
    ASSERT_TRUE(finished);
    EXPECT_EQ(m_window.Count(MESHDROPLIB_EVENT_FILE_DONE), 1u);
    FileDoneInfo info{};
    ASSERT_EQ(MeshdropLib_PopFileDone(job, &info), MESHDROPLIB_OK);
    EXPECT_STREQ(info.text, "http://127.0.0.1:9/data,1.bin,C:\\dl\\data,1.bin");
    FileDoneInfo none{};
    ASSERT_EQ(MeshdropLib_PopFileDone(job, &none), MESHDROPLIB_OK);
    EXPECT_EQ(none.sequence, 0u) << "nothing else is complete";
    EXPECT_EQ(LogCount("[MeshdropLib] File Done Ignored (job 0, not its file: Z:\\tmp\\evil\\setup.exe)"), 1u);
    EXPECT_EQ(LogCount("[MeshdropLib] File Done Ignored (job 0, not its file: C:\\dl\\evil.exe)"), 1u);
    EXPECT_EQ(LogCount("[MeshdropLib] File Done Text (Z:\\tmp\\evil\\setup.exe)"), 1u);
}

TEST_F(EngineDownloaderTest, JobsTheEngineCannotFinishContinueOnTheDirectDownloader)
{
    const std::string body = testsupport::patternBytes(200000, 3);
    StaticFiles files;
    ASSERT_TRUE(files.Start());
    FakeEngine fake;
    InstallEngineDownloader(fake.Port());
    const MeshdropJobHandle job = CreateJob({{files.Add("c.bin", body), ""}});
    ASSERT_EQ(MeshdropLib_StartJob(job, 1), MESHDROPLIB_OK);
    // A folder longer than the engine's field never reaches the engine.
    const std::string part(100, 'x');
    const MeshdropJobHandle deep =
        CreateJob({{files.Add("deep.bin", body), ""}}, -1, "C:\\" + part + "\\" + part + "\\" + part + "\\");
    ASSERT_EQ(MeshdropLib_StartJob(deep, 1), MESHDROPLIB_OK);
    Launcher([](CEngineDownloader& e) { e.OnLauncherReady(); });

    std::thread peer([&] {
        std::vector<FakeEngine::Frame> frames;
        ASSERT_TRUE(fake.Accept());
        ASSERT_TRUE(fake.ReadUntil(CDN_REQ_JOB_LIST, frames));
        EXPECT_EQ(frames.back().messageClass, CDN_CLASS_JOB_LIST);
        const uint32_t number = frames.back().As<nwCDNJobHeader>().jobNumber;
        fake.Send(CDN_NOTE_JOB_ACCEPTED, nwCDNJobAccepted{number, 1, 1, 0});
        fake.Send(CDN_NOTE_JOB_ENDED, nwCDNJobEnded{number, 1, 0, CDN_RESULT_GAVE_UP, 1});
    });
    const bool finished = m_window.PumpUntil(MESHDROPLIB_EVENT_JOB_FINISHED, 2);
    m_window.Drain();
    peer.join();
    ASSERT_TRUE(finished);
    const std::vector<uint32_t> notices = PopNoticeCodes(job);
    EXPECT_EQ(notices, std::vector<uint32_t>{MESHDROPLIB_NOTICE_ENGINE_JOB_ERROR});
    EXPECT_EQ(testsupport::readFile(DriveCFile("dl/c.bin")), body);
    EXPECT_EQ(testsupport::readFile(DriveCFile(part + "/" + part + "/" + part + "/deep.bin")), body);
    EXPECT_EQ(LogCount("[MeshdropLib] CPlatFormDownloader Begin"), 2u);
    EXPECT_EQ(LogCount("[MeshdropLib] CEngineDownloader MaxTry Over"), 0u);
}

TEST_F(EngineDownloaderTest, EngineNoticesReachTheWindowAsItsNotices)
{
    FakeEngine fake;
    InstallEngineDownloader(fake.Port());
    const MeshdropJobHandle job = CreateJob({{"http://127.0.0.1:9/n.bin", ""}});
    Launcher([](CEngineDownloader& e) { e.OnLauncherReady(); });
    ASSERT_EQ(MeshdropLib_StartJob(job, 1), MESHDROPLIB_OK);
    const std::string reason = "HTTP 404 for http://127.0.0.1:9/n.bin";
    std::thread peer([&] {
        std::vector<FakeEngine::Frame> frames;
        ASSERT_TRUE(fake.Accept());
        ASSERT_TRUE(fake.ReadUntil(CDN_REQ_JOB_LIST, frames));
        const uint32_t number = frames.back().As<nwCDNJobHeader>().jobNumber;
        fake.Send(CDN_NOTE_JOB_ACCEPTED, nwCDNJobAccepted{number, 4, 1, 0});
        // As the engine sends them: disk full, the network lost and back, and the job failing.
        std::vector<uint8_t> bytes;
        nwCDNAppendNotice(bytes, number, 4, CDN_NOTICE_DISK_FULL, "the disk is full",
                          {CDN_CODE_DISK_FULL, CDN_NO_FILE, 1000});
        const nwCDNTail network{CDN_CODE_NETWORK, CDN_NO_FILE, 5};
        nwCDNAppendFrame(bytes, CDN_NOTE_NETWORK_LOST, &network, sizeof network);
        nwCDNAppendFrame(bytes, CDN_NOTE_NETWORK_BACK, &network, sizeof network);
        nwCDNAppendJobFailed(bytes, number, 4, reason, {CDN_CODE_HTTP_STATUS, 0, 404});
        fake.SendBytes(bytes);
    });
    const bool noticed = m_window.PumpUntil(MESHDROPLIB_EVENT_JOB_NOTICE, 4);
    peer.join();
    ASSERT_TRUE(noticed);
    std::vector<std::pair<uint32_t, std::string>> notices;
    for (;;) {
        int size = 0;
        MeshdropLib_GetNoticeTextSize(job, &size);
        std::string text(static_cast<size_t>(std::max(size, 1)), '\0');
        NoticeInfo notice{MESHDROPLIB_NOTICE_NONE, text.data()};
        if (MeshdropLib_PopNotice(job, &notice) != MESHDROPLIB_OK || notice.code == MESHDROPLIB_NOTICE_NONE)
            break;
        notices.emplace_back(notice.code, text.c_str());
    }
    EXPECT_EQ(notices, (std::vector<std::pair<uint32_t, std::string>>{{MESHDROPLIB_NOTICE_DISK_FULL, ""},
                                                                      {MESHDROPLIB_NOTICE_NETWORK_LOST, ""},
                                                                      {MESHDROPLIB_NOTICE_NETWORK_BACK, ""},
                                                                      {MESHDROPLIB_NOTICE_JOB_FAILED, reason}}));
    EXPECT_EQ(m_window.Count(MESHDROPLIB_EVENT_JOB_FINISHED), 0u) << "a failed job is dropped, not finished";
}

TEST_F(EngineDownloaderTest, JobStoppedBeforeTheEngineAcceptedItIsStoppedThereOnceAccepted)
{
    FakeEngine fake;
    InstallEngineDownloader(fake.Port());
    const MeshdropJobHandle job = CreateJob({{"http://127.0.0.1:9/s.bin", ""}});
    Launcher([](CEngineDownloader& e) { e.OnLauncherReady(); });
    ASSERT_EQ(MeshdropLib_StartJob(job, 1), MESHDROPLIB_OK);

    std::mutex mutex;
    std::condition_variable changed;
    bool submitted = false;
    std::vector<FakeEngine::Frame> frames;
    std::thread peer([&] {
        EXPECT_TRUE(fake.Accept());
        EXPECT_TRUE(fake.ReadUntil(CDN_REQ_JOB_LIST, frames));
        {
            std::lock_guard<std::mutex> guard(mutex);
            submitted = true;
            changed.notify_all();
        }
        // The stop names no engine job yet; the acceptance crosses it.
        EXPECT_TRUE(fake.ReadUntil(CDN_REQ_STOP_JOB, frames));
        const uint32_t number = frames.back().As<nwCDNJobRef>().jobNumber;
        fake.Send(CDN_NOTE_JOB_ACCEPTED, nwCDNJobAccepted{number, 5, 1, 0});
        EXPECT_TRUE(fake.ReadUntil(CDN_REQ_STOP_JOB, frames));
    });
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(30), [&] { return submitted; }));
    }
    ASSERT_EQ(MeshdropLib_StopJob(job), MESHDROPLIB_OK);
    peer.join();
    ASSERT_GE(frames.size(), 2u);
    const auto stop = frames.back().As<nwCDNJobRef>();
    EXPECT_EQ(stop.engineJobId, 5u);
    EXPECT_EQ(m_window.Count(MESHDROPLIB_EVENT_JOB_SIZE), 0u) << "a stopped job reports no sizes";
}

TEST_F(EngineDownloaderTest, SixClosedConnectionsFallBackToTheDirectDownloader)
{
    const std::string body = testsupport::patternBytes(150000, 4);
    StaticFiles files;
    ASSERT_TRUE(files.Start());
    InstallEngineDownloader(ClosedLoopbackPort());
    const MeshdropJobHandle job = CreateJob({{files.Add("d.bin", body), ""}});
    ASSERT_EQ(MeshdropLib_StartJob(job, 1), MESHDROPLIB_OK);
    // Each launch reports ready; the engine refuses the connection, and the
    // downloader launches again until the sixth close.
    for (int launch = 1; launch <= 6; ++launch) {
        ASSERT_TRUE(WaitForLaunches(launch));
        Launcher([](CEngineDownloader& e) { e.OnLauncherReady(); });
    }
    ASSERT_TRUE(m_window.PumpUntil(MESHDROPLIB_EVENT_JOB_FINISHED));
    EXPECT_EQ(Launches(), 6);
    EXPECT_EQ(LogCount("[MeshdropLib] localClosed()"), 6u);
    EXPECT_EQ(LogCount("[MeshdropLib] CEngineDownloader MaxTry Over"), 1u);
    // The library's own, replaced by the test's, and the test's after its fallback.
    EXPECT_EQ(LogCount("[MeshdropLib] CEngineDownloader Destroy"), 2u);
    EXPECT_EQ(testsupport::readFile(DriveCFile("dl/d.bin")), body);
    // Later jobs go straight to the direct downloader.
    const MeshdropJobHandle later = CreateJob({{files.Add("e.bin", body), ""}});
    ASSERT_EQ(MeshdropLib_StartJob(later, 1), MESHDROPLIB_OK);
    ASSERT_TRUE(m_window.PumpUntil(MESHDROPLIB_EVENT_JOB_FINISHED, 2));
    EXPECT_EQ(Launches(), 6);
}

TEST_F(EngineDownloaderTest, ConnectionOutlastingTheWindowResetsTheLaunchCounter)
{
    FakeEngine fake;
    InstallEngineDownloader(fake.Port());
    Launcher([](CEngineDownloader& e) { e.SetReconnectWindowForTest(1); });
    std::thread peer([&] {
        // A connection ended at once, then one that stays up past the window.
        ASSERT_TRUE(fake.Accept());
        fake.CloseConnection();
        ASSERT_TRUE(fake.Accept());
        const auto connected = std::chrono::steady_clock::now();
        std::this_thread::sleep_until(connected + std::chrono::milliseconds(2500)); // the engine stays up
        fake.CloseConnection();
    });
    Launcher([](CEngineDownloader& e) { e.OnLauncherReady(); });
    ASSERT_TRUE(WaitForLaunches(2));
    Launcher([](CEngineDownloader& e) { EXPECT_EQ(e.GetLaunchCount(), 2); });
    Launcher([](CEngineDownloader& e) { e.OnLauncherReady(); });
    ASSERT_TRUE(WaitForLaunches(3));
    peer.join();
    // Counted from 0 again, then the new launch.
    Launcher([](CEngineDownloader& e) { EXPECT_EQ(e.GetLaunchCount(), 1); });
}

} // namespace
