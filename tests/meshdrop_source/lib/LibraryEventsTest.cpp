// The client events of a running job, end to end: a test-only job downloader
// (built on the real CJobDownloader base) drives a job of the library that
// the test initialised; the events reach the test's window, pumped like the
// main dialog's, and their payloads come back through the entry points.
// The progress ticks come from the library's worker thread.

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>

#include "DownloadLibThread.h"
#include "EntryPointFlow.h"
#include "Job.h"
#include "JobDownloader.h"
#include "JobManager.h"
#include "Library.h"
#include "LibraryLog.h"
#include "MeshdropLib.h"
#include "SilentUpdateList.h"
#include "TestClientWindow.h"
#include "TestDriveC.h"
#include "cp/cpCMutex.h"

namespace {

// A job downloader that downloads nothing: the test calls its notification
// operations itself. It counts its own operations for the test to wait on.
class CTestDownloader : public CJobDownloader {
public:
    using CJobDownloader::CJobDownloader;

    int BeginJob(CJob* /*job*/) override { return MESHDROPLIB_OK; }
    void EndJob(CJob* /*job*/) override { ++m_nEnded; }
    void CheckJob(CJob* /*job*/) override
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        ++m_nChecks;
        m_checked.notify_all();
    }

    // Waits until the progress timer has checked jobs `count` times in all.
    bool WaitForChecks(int count)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_checked.wait_for(lock, std::chrono::seconds(20), [&] { return m_nChecks >= count; });
    }

    using CJobDownloader::IsProgressTimerRunning;
    using CJobDownloader::NotifyAndDropJob;
    using CJobDownloader::NotifyJob;
    using CJobDownloader::ReportJobEnd;
    using CJobDownloader::ReportJobFileDone;
    using CJobDownloader::ReportJobSizes;
    using CJobDownloader::SetJobProgress;

    int m_nEnded = 0;

private:
    std::mutex m_mutex;
    std::condition_variable m_checked;
    int m_nChecks = 0;
};

class LibraryEventsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_log = LibraryLog::Prepare();
        ASSERT_EQ(MeshdropLib_Initialize(m_window.Handle(), nullptr, nullptr), MESHDROPLIB_OK);
        m_manager = Library_GetJobManager();
        ASSERT_NE(m_manager, nullptr);
        // Before its quiet update has done anything: these tests drive the
        // direct downloader's base themselves.
        m_manager->SetEngineDownloader(nullptr);
        ASSERT_EQ(MeshdropLib_CreateJob(&m_handle, nullptr, "svc"), MESHDROPLIB_OK);
        ASSERT_EQ(AddFile("http://h/a.bin"), MESHDROPLIB_OK);
        ASSERT_EQ(AddFile("http://h/b.bin"), MESHDROPLIB_OK);
        cpCMutexLock guard(m_manager->GetMutex());
        m_downloader = std::make_unique<CTestDownloader>(m_manager, m_manager->GetLock());
        m_job = m_manager->FindJob(m_handle);
    }

    void TearDown() override
    {
        m_downloader.reset();
        MeshdropLib_Finalize();
    }

    int AddFile(const char* url)
    {
        return MeshdropLib_AddFile(m_handle, url, "C:\\dl\\", nullptr, 0xFFFFFFFF, 0xFFFFFFFF, 1);
    }

    // Runs a downloader operation as the network library would: under the lock.
    template <class Fn>
    void Locked(Fn&& fn)
    {
        cpCMutexLock guard(m_manager->GetMutex());
        fn(*m_downloader, m_job);
    }

    void SetDone(uint64_t done)
    {
        JobProgressInfo progress{};
        progress.totalSize = 300;
        progress.doneSize = done;
        progress.fileCount = 2;
        Locked([&](CTestDownloader& d, CJob* job) { d.SetJobProgress(job, progress); });
    }

    SilentUpdateList m_updateList;
    TestClientWindow m_window;
    std::string m_log;
    CJobManager* m_manager = nullptr;
    MeshdropJobHandle m_handle = 0;
    CJob* m_job = nullptr;
    std::unique_ptr<CTestDownloader> m_downloader;
};

TEST_F(LibraryEventsTest, DownloaderConstructionResetsTheLogAndWritesTheLaunchLine)
{
    EXPECT_EQ(LibraryLog::Messages(m_log), std::vector<std::string>{"[MeshdropLib] Launch(3.5.0.2)"});
}

TEST_F(LibraryEventsTest, StartStopAndResumeFollowWhereTheJobRuns)
{
    Locked([](CTestDownloader& d, CJob* job) {
        EXPECT_EQ(d.StopJob(job), MESHDROPLIB_ERROR_JOB_NOT_RUNNING);
        EXPECT_EQ(d.AnswerResume(job, 1, 1), MESHDROPLIB_ERROR_JOB_NOT_RUNNING);
        EXPECT_EQ(d.StartJob(job), MESHDROPLIB_OK);
        EXPECT_EQ(job->GetState(), JOB_STATE_RUNNING);
        EXPECT_TRUE(d.IsProgressTimerRunning());
        EXPECT_EQ(d.StartJob(job), MESHDROPLIB_ERROR_JOB_RUNNING);
        EXPECT_EQ(d.AnswerResume(job, 1, 1), MESHDROPLIB_OK);
    });
    // A running job takes no more files.
    EXPECT_EQ(AddFile("http://h/c.bin"), MESHDROPLIB_ERROR_FAILED);
    Locked([](CTestDownloader& d, CJob* job) {
        EXPECT_EQ(d.StopJob(job), MESHDROPLIB_OK);
        EXPECT_EQ(job->GetState(), JOB_STATE_IDLE);
        EXPECT_FALSE(d.IsProgressTimerRunning());
        EXPECT_EQ(d.m_nEnded, 1);
    });
    EXPECT_EQ(AddFile("http://h/c.bin"), MESHDROPLIB_OK);
}

TEST_F(LibraryEventsTest, FileDoneRecordsPopOldestFirst)
{
    Locked([](CTestDownloader& d, CJob* job) {
        d.ReportJobFileDone(job, "C:\\dl\\a.bin"); // not started here: nothing
        ASSERT_EQ(d.StartJob(job), MESHDROPLIB_OK);
        d.ReportJobFileDone(job, "C:\\dl\\a.bin");
        d.ReportJobFileDone(job, "C:\\dl\\b.bin");
    });
    ASSERT_TRUE(m_window.PumpUntil(MESHDROPLIB_EVENT_FILE_DONE, 2));
    EXPECT_EQ(m_window.Events()[0].second, static_cast<LPARAM>(m_handle));

    FileDoneInfo info{};
    ASSERT_EQ(MeshdropLib_PopFileDone(m_handle, &info), MESHDROPLIB_OK);
    EXPECT_EQ(info.sequence, 1u);
    EXPECT_STREQ(info.text, "http://h/a.bin,C:\\dl\\a.bin");
    ASSERT_EQ(MeshdropLib_PopFileDone(m_handle, &info), MESHDROPLIB_OK);
    EXPECT_EQ(info.sequence, 2u);
    EXPECT_STREQ(info.text, "http://h/b.bin,C:\\dl\\b.bin");
    FileDoneInfo untouched{};
    untouched.sequence = 77;
    ASSERT_EQ(MeshdropLib_PopFileDone(m_handle, &untouched), MESHDROPLIB_OK);
    EXPECT_EQ(untouched.sequence, 77u);
}

TEST_F(LibraryEventsTest, NoticeWithoutTextStillDeliversItsCode)
{
    Locked([](CTestDownloader& d, CJob* job) {
        ASSERT_EQ(d.StartJob(job), MESHDROPLIB_OK);
        d.NotifyJob(job, MESHDROPLIB_NOTICE_NETWORK_LOST);
        d.NotifyAndDropJob(job, MESHDROPLIB_NOTICE_JOB_FAILED, "http://h/b.bin");
        d.NotifyJob(job, MESHDROPLIB_NOTICE_NETWORK_BACK); // dropped: nothing
    });
    ASSERT_TRUE(m_window.PumpUntil(MESHDROPLIB_EVENT_JOB_NOTICE, 2));

    int size = -1;
    ASSERT_EQ(MeshdropLib_GetNoticeTextSize(m_handle, &size), MESHDROPLIB_OK);
    EXPECT_EQ(size, 0);
    NoticeInfo notice{MESHDROPLIB_NOTICE_NONE, nullptr};
    ASSERT_EQ(MeshdropLib_PopNotice(m_handle, &notice), MESHDROPLIB_OK);
    EXPECT_EQ(notice.code, static_cast<uint32_t>(MESHDROPLIB_NOTICE_NETWORK_LOST));

    ASSERT_EQ(MeshdropLib_GetNoticeTextSize(m_handle, &size), MESHDROPLIB_OK);
    ASSERT_EQ(size, 15);
    std::string text(static_cast<size_t>(size), '\0');
    notice = NoticeInfo{MESHDROPLIB_NOTICE_NONE, text.data()};
    ASSERT_EQ(MeshdropLib_PopNotice(m_handle, &notice), MESHDROPLIB_OK);
    EXPECT_EQ(notice.code, static_cast<uint32_t>(MESHDROPLIB_NOTICE_JOB_FAILED));
    EXPECT_STREQ(text.c_str(), "http://h/b.bin");

    ASSERT_EQ(MeshdropLib_PopNotice(m_handle, &notice), MESHDROPLIB_OK);
    EXPECT_EQ(notice.code, static_cast<uint32_t>(MESHDROPLIB_NOTICE_NONE));
    // The dropped job no longer runs on the downloader; its timer runs on.
    Locked([](CTestDownloader& d, CJob* job) {
        EXPECT_FALSE(d.HoldsJob(job));
        EXPECT_TRUE(d.IsProgressTimerRunning());
    });
}

TEST_F(LibraryEventsTest, ProgressTicksFromTheWorkerOnlyPastTheFirstByte)
{
    Locked([](CTestDownloader& d, CJob* job) {
        ASSERT_EQ(d.StartJob(job), MESHDROPLIB_OK);
        d.ReportJobSizes(job, 2, 300);
    });
    ASSERT_TRUE(m_window.PumpUntil(MESHDROPLIB_EVENT_JOB_SIZE));
    JobSizeInfo sizes{};
    ASSERT_EQ(MeshdropLib_GetJobSizeInfo(m_handle, &sizes), MESHDROPLIB_OK);
    EXPECT_EQ(sizes.fileCount, 2u);
    EXPECT_EQ(sizes.totalSize, 300u);

    // A tick while nothing is downloaded checks the job but raises nothing.
    ASSERT_TRUE(m_downloader->WaitForChecks(2));
    m_window.Drain();
    EXPECT_EQ(m_window.Count(MESHDROPLIB_EVENT_JOB_PROGRESS), 0u);

    JobProgressInfo progress{};
    progress.totalSize = 300;
    progress.doneSize = 100;
    progress.fileCount = 2;
    std::memset(progress.fileName, 'f', sizeof progress.fileName); // 66 characters
    Locked([&](CTestDownloader& d, CJob* job) { d.SetJobProgress(job, progress); });
    ASSERT_TRUE(m_window.PumpUntil(MESHDROPLIB_EVENT_JOB_PROGRESS));

    JobProgressInfo copy{};
    ASSERT_EQ(MeshdropLib_GetJobProgress(m_handle, &copy), MESHDROPLIB_OK);
    EXPECT_EQ(copy.doneSize, 100u);
    EXPECT_EQ(std::string(copy.fileName), std::string(65, 'f'));
    uint64_t required = 0;
    ASSERT_EQ(MeshdropLib_GetRequiredSpace(m_handle, &required), MESHDROPLIB_OK);
    EXPECT_EQ(required, 200u);

    // Sizes are no longer reported once bytes have arrived.
    Locked([](CTestDownloader& d, CJob* job) { d.ReportJobSizes(job, 2, 300); });
    m_window.Drain();
    EXPECT_EQ(m_window.Count(MESHDROPLIB_EVENT_JOB_SIZE), 1u);
}

TEST_F(LibraryEventsTest, EndReportsProgressThenFinishAndReleasesTheTimer)
{
    Locked([](CTestDownloader& d, CJob* job) { ASSERT_EQ(d.StartJob(job), MESHDROPLIB_OK); });
    SetDone(300);
    Locked([](CTestDownloader& d, CJob* job) {
        d.ReportJobEnd(job, 2, 0);
        EXPECT_FALSE(d.IsProgressTimerRunning());
        EXPECT_EQ(job->GetState(), JOB_STATE_FINISHED);
    });
    ASSERT_TRUE(m_window.PumpUntil(MESHDROPLIB_EVENT_JOB_FINISHED));
    // The last progress event comes right before the end, from the same call.
    const auto& events = m_window.Events();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2].first, static_cast<UINT>(MESHDROPLIB_EVENT_JOB_PROGRESS));

    JobFinishInfo finish{};
    ASSERT_EQ(MeshdropLib_GetJobFinishInfo(m_handle, &finish), MESHDROPLIB_OK);
    EXPECT_EQ(finish.fileCount, 2u);
    EXPECT_EQ(finish.filesCompleted, 2u);
    EXPECT_EQ(finish.result, 0u);
    JobFinishInfo again{7, 7, 7};
    ASSERT_EQ(MeshdropLib_GetJobFinishInfo(m_handle, &again), MESHDROPLIB_OK); // read once
    EXPECT_EQ(again.fileCount, 7u);

    // More done than announced never asks for a wrapped-around amount.
    SetDone(400);
    uint64_t required = 9;
    ASSERT_EQ(MeshdropLib_GetRequiredSpace(m_handle, &required), MESHDROPLIB_OK);
    EXPECT_EQ(required, 0u);

    // A deleted job's late messages find nothing.
    ASSERT_EQ(MeshdropLib_DeleteJob(m_handle), MESHDROPLIB_OK);
    EXPECT_EQ(MeshdropLib_GetJobFinishInfo(m_handle, &finish), MESHDROPLIB_ERROR_FAILED);
}

TEST_F(LibraryEventsTest, ManagerTurnsReportsIntoClientEvents)
{
    {
        cpCMutexLock guard(m_manager->GetMutex());
        m_manager->OnEngineUpdateFileStarted("QLSDownloadV32.exe", 10);
        m_manager->OnEngineUpdateProgress("QLSDownloadV32.exe", 5);
        m_manager->OnEngineReady();
        m_manager->OnEngineUpdateFailed();
        m_manager->OnPathAccessFailed(PATH_ACCESS_ENGINE);
        m_manager->OnPathAccessFailed(3); // no such kind: nothing
        m_manager->OnEngineStatus(1);
        m_manager->OnDataCompleted(nullptr, 0);
        m_manager->OnDataError(4);
        m_manager->OnDataTick();
        m_manager->OnSizeCheckComplete(100);
        m_manager->OnSizeCheckFailed("http://h/a.bin");
        m_manager->OnSizeCheckUnreachable();
    }
    ASSERT_TRUE(m_window.PumpUntil(MESHDROPLIB_EVENT_SIZE_CHECK_FAILED, 2));

    const std::vector<UINT> expected = {518, 519, 520, 521, 527, 530, 522, 523, 529, 525, 526, 526};
    std::vector<UINT> codes;
    for (const auto& event : m_window.Events()) {
        codes.push_back(event.first);
        const LPARAM param =
            event.first == MESHDROPLIB_EVENT_ENGINE_PATH_FAILED ? reinterpret_cast<LPARAM>(m_manager) : 0;
        EXPECT_EQ(event.second, param) << "event " << event.first;
    }
    EXPECT_EQ(codes, expected);
    // The size-check diagnostics go to the discarding channel.
    EXPECT_EQ(LibraryLog::Messages(m_log),
              (std::vector<std::string>{"[MeshdropLib] Launch(3.5.0.2)", "[MeshdropLib] engine path access failed"}));
}

// An engine downloader whose progress tick finds the engine gone: the
// fallback it reports must not destroy it under its own tick.
class CFallingEngine : public CJobDownloader {
public:
    struct Seen {
        std::mutex mutex;
        std::condition_variable changed;
        bool retiredAfterFallback = false;
        bool heldJobAfterFallback = true;
        bool destroyed = false;
    };

    CFallingEngine(CJobManager* manager, std::shared_ptr<Seen> seen)
        : CJobDownloader(manager, manager->GetLock()), m_seen(std::move(seen))
    {}
    ~CFallingEngine() override
    {
        std::lock_guard<std::mutex> guard(m_seen->mutex);
        m_seen->destroyed = true;
        m_seen->changed.notify_all();
    }
    int BeginJob(CJob*) override { return MESHDROPLIB_OK; }
    void EndJob(CJob*) override {}
    void CheckJob(CJob* job) override
    {
        GetListener()->OnEngineUnavailable();
        // Still this object: it was retired, not freed.
        std::lock_guard<std::mutex> guard(m_seen->mutex);
        m_seen->retiredAfterFallback = IsRetired();
        m_seen->heldJobAfterFallback = HoldsJob(job);
    }

private:
    std::shared_ptr<Seen> m_seen;
};

TEST_F(LibraryEventsTest, EngineFallbackFromTheEnginesOwnTickRetiresItAndDestroysItAfterTheTick)
{
    MeshdropJobHandle handle = 0;
    ASSERT_EQ(MeshdropLib_CreateJob(&handle, nullptr, "svc"), MESHDROPLIB_OK);
    const std::string refused = "http://127.0.0.1:" + std::to_string(ClosedLoopbackPort()) + "/x.bin";
    ASSERT_EQ(MeshdropLib_AddFile(handle, refused.c_str(), "C:\\dl\\", nullptr, 0xFFFFFFFF, 0xFFFFFFFF, 1),
              MESHDROPLIB_OK);
    auto seen = std::make_shared<CFallingEngine::Seen>();
    m_manager->SetEngineDownloader(std::make_unique<CFallingEngine>(m_manager, seen));
    ASSERT_EQ(MeshdropLib_StartJob(handle, 1), MESHDROPLIB_OK);

    std::unique_lock<std::mutex> lock(seen->mutex);
    ASSERT_TRUE(seen->changed.wait_for(lock, std::chrono::seconds(20), [&] { return seen->destroyed; }));
    EXPECT_TRUE(seen->retiredAfterFallback);
    EXPECT_FALSE(seen->heldJobAfterFallback);
    lock.unlock();
    // The job went on with the direct downloader, whose probe cannot connect.
    ASSERT_TRUE(m_window.PumpUntil(MESHDROPLIB_EVENT_JOB_NOTICE));
    EXPECT_EQ(m_window.Events().back().second, static_cast<LPARAM>(handle));
}

TEST(LibraryElevationTest, InitialisationKeepsTheElevationSwitch)
{
    ASSERT_EQ(MeshdropLib_Initialize(nullptr, nullptr, nullptr), MESHDROPLIB_OK);
    EXPECT_EQ(Library_GetElevationSwitch(), 1);
    MeshdropLib_Finalize();
    ASSERT_EQ(MeshdropLib_InitializeEx(nullptr, nullptr, nullptr, 0), MESHDROPLIB_OK);
    EXPECT_EQ(Library_GetElevationSwitch(), 0);
    MeshdropLib_Finalize();
}

} // namespace
