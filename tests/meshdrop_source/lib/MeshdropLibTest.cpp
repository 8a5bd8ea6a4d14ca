// The download library through its entry points, as a client sees it: linked
// as the shared library, with only "MeshdropLib.h". Events reach a window of
// the test's thread, pumped as the main dialog pumps them, or the callback
// alone when the client has no window.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EventRecorder.h"
#include "LibraryLog.h"
#include "MeshdropLib.h"
#include "SilentUpdateList.h"
#include "TestClientWindow.h"
#include "TestDriveC.h"

namespace {

using Lines = std::vector<std::string>;

constexpr DWORD kUnknownSize = 0xFFFFFFFF; // both halves of -1

int AddFile(MeshdropJobHandle job, const char* url, const char* folder, int64_t size = -1)
{
    const auto bits = static_cast<uint64_t>(size);
    return MeshdropLib_AddFile(job, url, folder, nullptr, static_cast<DWORD>(bits), static_cast<DWORD>(bits >> 32), 1);
}

class MeshdropLibTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_log = LibraryLog::Prepare();
        EventRecorder::Instance().Clear();
    }

    void TearDown() override { MeshdropLib_Finalize(); }

    Lines Log() const { return LibraryLog::Messages(m_log); }

    MeshdropJobHandle CreateJob()
    {
        MeshdropJobHandle job = 0;
        EXPECT_EQ(MeshdropLib_CreateJob(&job, nullptr, "joyvend_veilrune_tw"), MESHDROPLIB_OK);
        EXPECT_NE(job, 0u);
        return job;
    }

    // The entry points without the engine fallback's events and log lines.
    SilentUpdateList m_updateList;
    std::string m_log;
    int m_userValue = 42;
};

TEST_F(MeshdropLibTest, EveryEntryPointAnswers517BeforeInitialisation)
{
    uint64_t size = 5;
    FileListBuffer buffer{nullptr, 0};
    MeshdropJobHandle job = 0;
    JobSizeInfo sizeInfo{};
    JobProgressInfo progress{};
    FileDoneInfo done{};
    JobFinishInfo finish{};
    int textSize = 0;
    NoticeInfo notice{};
    const MeshdropJobHandle someJob = 0x1000;

    EXPECT_EQ(MeshdropLib_FetchFileList("http://127.0.0.1/filelist.txt"), MESHDROPLIB_ERROR_FAILED);
    EXPECT_EQ(MeshdropLib_GetFileListSize(&size), MESHDROPLIB_ERROR_FAILED);
    EXPECT_EQ(MeshdropLib_GetFileListData(&buffer), MESHDROPLIB_ERROR_FAILED);
    EXPECT_EQ(MeshdropLib_AddFileSizeCheck("http://127.0.0.1/a"), MESHDROPLIB_ERROR_FAILED);
    EXPECT_EQ(MeshdropLib_StartFileSizeCheck(), MESHDROPLIB_ERROR_FAILED);
    EXPECT_EQ(MeshdropLib_GetFileSizeTotal(&size), MESHDROPLIB_ERROR_FAILED);
    EXPECT_EQ(MeshdropLib_SetEngineServiceId("id"), MESHDROPLIB_ERROR_FAILED);
    EXPECT_EQ(MeshdropLib_CreateJob(&job, nullptr, "id"), MESHDROPLIB_ERROR_FAILED);
    EXPECT_EQ(MeshdropLib_SetJobEngineFlag(someJob), MESHDROPLIB_ERROR_FAILED);
    EXPECT_EQ(MeshdropLib_AddFile(someJob, "http://h/a", "C:\\dl\\", nullptr, kUnknownSize, kUnknownSize, 1),
              MESHDROPLIB_ERROR_FAILED);
    EXPECT_EQ(MeshdropLib_StartJob(someJob, 1), MESHDROPLIB_ERROR_FAILED);
    EXPECT_EQ(MeshdropLib_StopJob(someJob), MESHDROPLIB_ERROR_FAILED);
    EXPECT_EQ(MeshdropLib_DeleteJob(someJob), MESHDROPLIB_ERROR_FAILED);
    EXPECT_EQ(MeshdropLib_AnswerResume(someJob, 1, 1), MESHDROPLIB_ERROR_FAILED);
    EXPECT_EQ(MeshdropLib_GetRequiredSpace(someJob, &size), MESHDROPLIB_ERROR_FAILED);
    EXPECT_EQ(MeshdropLib_GetJobSizeInfo(someJob, &sizeInfo), MESHDROPLIB_ERROR_FAILED);
    EXPECT_EQ(MeshdropLib_GetJobProgress(someJob, &progress), MESHDROPLIB_ERROR_FAILED);
    EXPECT_EQ(MeshdropLib_PopFileDone(someJob, &done), MESHDROPLIB_ERROR_FAILED);
    EXPECT_EQ(MeshdropLib_GetJobFinishInfo(someJob, &finish), MESHDROPLIB_ERROR_FAILED);
    EXPECT_EQ(MeshdropLib_GetNoticeTextSize(someJob, &textSize), MESHDROPLIB_ERROR_FAILED);
    EXPECT_EQ(MeshdropLib_PopNotice(someJob, &notice), MESHDROPLIB_ERROR_FAILED);
    EXPECT_EQ(MeshdropLib_GetUserValue(), nullptr);

    EXPECT_EQ(size, 5u);
    EXPECT_EQ(job, 0u);
    // Diagnostics go nowhere: the service log stays empty.
    EXPECT_EQ(Log(), Lines{});
}

TEST_F(MeshdropLibTest, FinalisationWithoutAnInstanceLogsItsTwoLines)
{
    EXPECT_EQ(MeshdropLib_Finalize(), MESHDROPLIB_OK);
    EXPECT_EQ(Log(), (Lines{"[MeshdropLib] Finalize Begin", "[MeshdropLib] Finalize End"}));
}

TEST_F(MeshdropLibTest, InitialisationRunsOnceAndFinalisationStopsTheWorkerInTime)
{
    TestClientWindow window;
    EXPECT_EQ(MeshdropLib_Initialize(window.Handle(), nullptr, &m_userValue), MESHDROPLIB_OK);
    EXPECT_EQ(MeshdropLib_GetUserValue(), &m_userValue);
    int other = 0;
    EXPECT_EQ(MeshdropLib_Initialize(window.Handle(), nullptr, &other), MESHDROPLIB_ERROR_ALREADY_INITIALIZED);
    EXPECT_EQ(MeshdropLib_GetUserValue(), &m_userValue);

    EXPECT_EQ(MeshdropLib_Finalize(), MESHDROPLIB_OK);
    EXPECT_EQ(MeshdropLib_GetUserValue(), nullptr);
    // No forced termination: the worker left its loop within the limit.
    // The direct downloader, made after the engine downloader, empties the
    // log; both say goodbye when the manager goes, the engine downloader
    // after its update.
    EXPECT_EQ(Log(), (Lines{"[MeshdropLib] Launch(3.5.0.2)", "[MeshdropLib] Initialize", "[MeshdropLib] Finalize Begin",
                            "[MeshdropLib] Exit GetMessage Loop", "[MeshdropLib] Destroy JobManager",
                            "[MeshdropLib] Finalize Downloader", "[MeshdropLib] CEngineDownloader Destroy",
                            "[MeshdropLib] CPlatFormDownloader Destroy", "[MeshdropLib] Finalize End"}));

    // A new instance can be started after finalisation.
    EXPECT_EQ(MeshdropLib_InitializeEx(nullptr, nullptr, nullptr, 0), MESHDROPLIB_OK);
    EXPECT_EQ(MeshdropLib_GetUserValue(), nullptr);
}

TEST_F(MeshdropLibTest, FilesAreCheckedAndKeptOncePerLocalPath)
{
    ASSERT_EQ(MeshdropLib_Initialize(nullptr, nullptr, nullptr), MESHDROPLIB_OK);
    const MeshdropJobHandle job = CreateJob();

    EXPECT_EQ(AddFile(job, "http://h/a.bin", "C:\\dl\\pkg\\", -1), MESHDROPLIB_OK);
    EXPECT_EQ(AddFile(job, "http://h/b.bin", "C:\\dl\\pkg\\", 1), MESHDROPLIB_OK);
    EXPECT_EQ(AddFile(job, "http://h/c.bin", "C:\\dl\\pkg\\", 0), MESHDROPLIB_ERROR_INVALID_SIZE);
    EXPECT_EQ(AddFile(job, "http://h/d.bin", "C:\\dl\\pkg\\", -2), MESHDROPLIB_ERROR_INVALID_SIZE);
    EXPECT_EQ(AddFile(job, "http://h/e.bin", "C:\\dl\\pkg\\", int64_t{1} << 40), MESHDROPLIB_OK);

    // The same file in another letter case, with "/" separators and without
    // the trailing separator, is the same local path.
    EXPECT_EQ(AddFile(job, "http://mirror/A.BIN", "c:/DL/pkg"), MESHDROPLIB_ERROR_FAILED);
    EXPECT_EQ(AddFile(job, "http://h/new.bin", "C:/dl/other"), MESHDROPLIB_OK);
    EXPECT_EQ(AddFile(job, "http://h/NEW.bin", "c:\\dl\\other\\"), MESHDROPLIB_ERROR_FAILED);
    EXPECT_TRUE(std::filesystem::is_directory(TestDriveC::Root() + "/dl/other"));

    EXPECT_EQ(AddFile(job, nullptr, "C:\\dl\\pkg\\"), MESHDROPLIB_ERROR_URL);
    EXPECT_EQ(AddFile(0, "http://h/x", "C:\\dl\\pkg\\"), MESHDROPLIB_ERROR_FAILED);
    EXPECT_EQ(AddFile(job + 8, "http://h/x", "C:\\dl\\pkg\\"), MESHDROPLIB_ERROR_FAILED);
}

TEST_F(MeshdropLibTest, JobsAreCreatedStartedAndDeletedByHandle)
{
    ASSERT_EQ(MeshdropLib_Initialize(nullptr, nullptr, nullptr), MESHDROPLIB_OK);
    MeshdropJobHandle job = CreateJob();
    MeshdropJobHandle same = job;
    EXPECT_EQ(MeshdropLib_CreateJob(&same, "TW", "id"), MESHDROPLIB_ERROR_FAILED);
    EXPECT_EQ(same, job);
    MeshdropJobHandle second = 0;
    ASSERT_EQ(MeshdropLib_CreateJob(&second, "TW", "id"), MESHDROPLIB_OK);
    EXPECT_NE(second, job);

    EXPECT_EQ(MeshdropLib_SetEngineServiceId(nullptr), MESHDROPLIB_OK);
    EXPECT_EQ(MeshdropLib_SetJobEngineFlag(job), MESHDROPLIB_OK);
    EXPECT_EQ(MeshdropLib_StartJob(job, 1), MESHDROPLIB_ERROR_FAILED); // no files
    ASSERT_EQ(AddFile(job, "http://h/a.bin", "C:\\dl\\"), MESHDROPLIB_OK);
    // Never started: no downloader holds the job.
    EXPECT_EQ(MeshdropLib_StopJob(job), MESHDROPLIB_ERROR_FAILED);
    EXPECT_EQ(MeshdropLib_AnswerResume(job, 1, 0), MESHDROPLIB_ERROR_JOB_NOT_RUNNING);

    uint64_t bytes = 77;
    EXPECT_EQ(MeshdropLib_GetRequiredSpace(job, &bytes), MESHDROPLIB_ERROR_FAILED); // no size checker
    EXPECT_EQ(bytes, 77u);

    // A known job with nothing to copy answers 512 and leaves the records alone.
    JobSizeInfo size{9, 9};
    JobFinishInfo finish{9, 9, 9};
    FileDoneInfo done{};
    done.sequence = 9;
    NoticeInfo notice{0, nullptr};
    int textSize = -1;
    EXPECT_EQ(MeshdropLib_GetJobSizeInfo(job, &size), MESHDROPLIB_OK);
    EXPECT_EQ(MeshdropLib_GetJobFinishInfo(job, &finish), MESHDROPLIB_OK);
    EXPECT_EQ(MeshdropLib_PopFileDone(job, &done), MESHDROPLIB_OK);
    EXPECT_EQ(MeshdropLib_GetNoticeTextSize(job, &textSize), MESHDROPLIB_OK);
    EXPECT_EQ(MeshdropLib_PopNotice(job, &notice), MESHDROPLIB_OK);
    EXPECT_EQ(size.totalSize, 9u);
    EXPECT_EQ(finish.result, 9u);
    EXPECT_EQ(done.sequence, 9u);
    EXPECT_EQ(textSize, 0);
    EXPECT_EQ(notice.code, static_cast<uint32_t>(MESHDROPLIB_NOTICE_NONE));

    EXPECT_EQ(MeshdropLib_DeleteJob(job), MESHDROPLIB_OK);
    EXPECT_EQ(MeshdropLib_DeleteJob(job), MESHDROPLIB_ERROR_FAILED);
    // A job created after the deletion never answers to the old handle, so a
    // late event of the deleted job finds nothing.
    const MeshdropJobHandle third = CreateJob();
    EXPECT_NE(third, job);
    EXPECT_EQ(MeshdropLib_GetJobSizeInfo(job, &size), MESHDROPLIB_ERROR_FAILED);
    EXPECT_EQ(MeshdropLib_DeleteJob(second), MESHDROPLIB_OK);
}

TEST_F(MeshdropLibTest, UncreatableFolderRaises528AtTheClientWindow)
{
    std::filesystem::create_directories(TestDriveC::Root() + "/blocked");
    std::ofstream(TestDriveC::Root() + "/blocked/file") << "x";

    TestClientWindow window;
    ASSERT_EQ(MeshdropLib_Initialize(window.Handle(), &EventRecorder::Callback, &m_userValue), MESHDROPLIB_OK);
    const MeshdropJobHandle job = CreateJob();
    EXPECT_EQ(AddFile(job, "http://h/a.bin", "C:\\blocked\\file\\sub\\"), MESHDROPLIB_ERROR_FOLDER);
    EXPECT_EQ(AddFile(job, "http://h/a.bin", ""), MESHDROPLIB_ERROR_FOLDER);

    // Posted by the library to the test's window: one window table for both.
    ASSERT_TRUE(window.PumpUntil(MESHDROPLIB_EVENT_DOWNLOAD_PATH_FAILED, 2));
    for (const auto& event : window.Events()) {
        EXPECT_EQ(event.first, static_cast<UINT>(MESHDROPLIB_EVENT_DOWNLOAD_PATH_FAILED));
        EXPECT_NE(event.second, 0); // the manager, not a job
        EXPECT_NE(event.second, static_cast<LPARAM>(job));
    }
    ASSERT_EQ(EventRecorder::Instance().Count(MESHDROPLIB_EVENT_DOWNLOAD_PATH_FAILED), 2u);
    EXPECT_EQ(EventRecorder::Instance().Events()[0].userValue, &m_userValue);

    const Lines log = Log();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[2], "[MeshdropLib] download path access failed");
    EXPECT_EQ(log[3], "[MeshdropLib] download path access failed");
}

TEST_F(MeshdropLibTest, ClientWithoutWindowGetsEventsThroughTheCallbackOnly)
{
    ASSERT_EQ(MeshdropLib_Initialize(nullptr, &EventRecorder::Callback, &m_userValue), MESHDROPLIB_OK);
    const MeshdropJobHandle job = CreateJob();
    EXPECT_EQ(AddFile(job, "http://h/a.bin", ""), MESHDROPLIB_ERROR_FOLDER);

    ASSERT_EQ(EventRecorder::Instance().Count(MESHDROPLIB_EVENT_DOWNLOAD_PATH_FAILED), 1u);
    const auto event = EventRecorder::Instance().Events()[0];
    EXPECT_EQ(event.userValue, &m_userValue);
    EXPECT_NE(event.param, 0);
    // Nothing was posted anywhere, in particular not to this thread.
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

} // namespace
