// CJob on its own: the rules of adding files, the queues of file completions
// and notices, and the records the client copies out. Events reach the test
// through the callback only (no client window).

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "EventRecorder.h"
#include "Job.h"

namespace {

constexpr const char* kFolder = "C:\\games\\pkg\\";

class JobTest : public ::testing::Test {
protected:
    void SetUp() override { EventRecorder::Instance().Clear(); }

    ClientEventTarget Target() { return ClientEventTarget{nullptr, &EventRecorder::Callback, &m_userValue}; }

    CJob* RunningJobWithTwoFiles()
    {
        EXPECT_EQ(m_job.AddFile("http://h/a.bin", kFolder, nullptr, 10, 1, 0), MESHDROPLIB_OK);
        EXPECT_EQ(m_job.AddFile("http://h/b.bin", kFolder, nullptr, 20, 1, 0), MESHDROPLIB_OK);
        m_job.SetState(JOB_STATE_RUNNING);
        return &m_job;
    }

    int m_userValue = 7;
    CJob m_job{0, Target(), "TW", "service"};
};

TEST_F(JobTest, SameFileInAnotherLetterCaseIsRefused)
{
    EXPECT_EQ(m_job.AddFile("http://h/Setup.EXE", "C:\\Games\\Pkg\\", nullptr, -1, 1, 0), MESHDROPLIB_OK);
    EXPECT_EQ(m_job.AddFile("http://mirror/setup.exe", "c:\\games\\pkg", nullptr, -1, 1, 0), MESHDROPLIB_ERROR_FAILED);
    EXPECT_EQ(m_job.AddFile("http://h/x", "c:/games/pkg/", "SETUP.exe", -1, 1, 0), MESHDROPLIB_ERROR_FAILED);
    EXPECT_EQ(m_job.GetFiles().size(), 1u);
}

TEST_F(JobTest, FolderIsStoredWithBackslashesAndOneTrailingSeparator)
{
    ASSERT_EQ(m_job.AddFile("http://h/a.bin", "C:/games/pkg", nullptr, -1, 1, 0), MESHDROPLIB_OK);
    ASSERT_EQ(m_job.AddFile("http://h/b.bin", "C:\\games\\other\\", nullptr, -1, 1, 0), MESHDROPLIB_OK);
    EXPECT_EQ(m_job.GetFiles()[0]->folder, "C:\\games\\pkg\\");
    EXPECT_EQ(m_job.GetFiles()[1]->folder, "C:\\games\\other\\");
    EXPECT_STREQ(m_job.GetLastFolder(), "C:\\games\\other\\");
}

TEST_F(JobTest, EntryTakesTrimmedUrlAndNameFromItsLastSegment)
{
    ASSERT_EQ(m_job.AddFile("  http://h/dir/file1.cab \t\r\n", kFolder, "", -1, 3, 0), MESHDROPLIB_OK);
    ASSERT_EQ(m_job.AddFile("http://h/dir/file2.cab", kFolder, "given.cab", 42, 1, 5), MESHDROPLIB_OK);
    // Without a name of its own, an address without a last segment is refused.
    EXPECT_EQ(m_job.AddFile("no-slash-at-all", "C:\\x\\", nullptr, -1, 1, 0), MESHDROPLIB_ERROR_URL);
    EXPECT_EQ(m_job.AddFile("http://h/dir/", "C:\\x\\", nullptr, -1, 1, 0), MESHDROPLIB_ERROR_URL);
    EXPECT_EQ(m_job.GetFiles().size(), 2u);

    const JobFileEntry& first = *m_job.GetFiles()[0];
    EXPECT_EQ(first.url, "http://h/dir/file1.cab");
    EXPECT_EQ(first.fileName, "file1.cab");
    EXPECT_EQ(first.size, -1);
    EXPECT_EQ(first.fileOption, 3u);
    EXPECT_STREQ(first.serviceId, "service");

    const JobFileEntry& second = *m_job.GetFiles()[1];
    EXPECT_EQ(second.index, 1u);
    EXPECT_EQ(second.fileName, "given.cab");
    EXPECT_EQ(second.size, 42);
    EXPECT_EQ(second.internalOption, 5u);
    EXPECT_EQ(second.fileState, static_cast<uint32_t>(JOB_FILE_PENDING));
}

TEST_F(JobTest, MissingArgumentsAndWrongStateAreRefused)
{
    EXPECT_EQ(m_job.AddFile(nullptr, kFolder, nullptr, -1, 1, 0), MESHDROPLIB_ERROR_URL);
    EXPECT_EQ(m_job.AddFile("", kFolder, nullptr, -1, 1, 0), MESHDROPLIB_ERROR_URL);
    EXPECT_EQ(m_job.AddFile("http://h/a", nullptr, nullptr, -1, 1, 0), MESHDROPLIB_ERROR_FOLDER);
    EXPECT_EQ(m_job.AddFile("http://h/a", "", nullptr, -1, 1, 0), MESHDROPLIB_ERROR_FOLDER);
    m_job.SetState(JOB_STATE_RUNNING);
    EXPECT_EQ(m_job.AddFile("http://h/a", kFolder, nullptr, -1, 1, 0), MESHDROPLIB_ERROR_FAILED);
    EXPECT_TRUE(m_job.GetFiles().empty());
}

TEST_F(JobTest, ServiceIdentifierAndRegionCodeAreCut)
{
    const std::string longId(40, 's');
    CJob job(3, Target(), "TWNX", longId.c_str());
    EXPECT_EQ(std::string(job.GetServiceId()), longId.substr(0, 32));
    EXPECT_STREQ(job.GetRegionCode(), "TWN");
    CJob none(4, Target(), nullptr, nullptr);
    EXPECT_STREQ(none.GetServiceId(), "");
    EXPECT_STREQ(none.GetRegionCode(), "");
    EXPECT_EQ(none.GetMode(), 1);
    EXPECT_EQ(none.GetState(), JOB_STATE_IDLE);
}

TEST_F(JobTest, FileDoneRecordsPopOldestFirstAndOnlyOncePerFile)
{
    CJob* job = RunningJobWithTwoFiles();
    JobProgressInfo progress{};
    progress.fileCount = 2;
    job->SetProgress(progress);

    job->ReportFileDone("C:\\GAMES\\PKG\\A.BIN");
    job->ReportFileDone("C:\\games\\pkg\\a.bin");       // already completed
    job->ReportFileDone("C:\\games\\pkg\\unknown.bin"); // not in the job
    job->ReportFileDone("C:\\games\\pkg\\b.bin");
    EXPECT_EQ(EventRecorder::Instance().Count(MESHDROPLIB_EVENT_FILE_DONE), 2u);

    FileDoneInfo info{};
    ASSERT_EQ(job->PopFileDone(&info), MESHDROPLIB_OK);
    EXPECT_EQ(info.sequence, 1u);
    EXPECT_EQ(info.fileCount, 2u);
    // The job's own address and path, whatever letter case the report used.
    EXPECT_STREQ(info.text, "http://h/a.bin,C:\\games\\pkg\\a.bin");
    ASSERT_EQ(job->PopFileDone(&info), MESHDROPLIB_OK);
    EXPECT_EQ(info.sequence, 2u);
    EXPECT_STREQ(info.text, "http://h/b.bin,C:\\games\\pkg\\b.bin");

    FileDoneInfo untouched{};
    untouched.sequence = 99;
    std::strcpy(untouched.text, "client");
    ASSERT_EQ(job->PopFileDone(&untouched), MESHDROPLIB_OK);
    EXPECT_EQ(untouched.sequence, 99u);
    EXPECT_STREQ(untouched.text, "client");
    EXPECT_EQ(job->GetFiles()[0]->fileState, static_cast<uint32_t>(JOB_FILE_COMPLETED));
}

TEST_F(JobTest, OverlongFileDoneTextIsCutAndTerminated)
{
    const std::string url = "http://h/" + std::string(2000, 'u');
    ASSERT_EQ(m_job.AddFile(url.c_str(), kFolder, "f.bin", 1, 1, 0), MESHDROPLIB_OK);
    m_job.SetState(JOB_STATE_RUNNING);
    m_job.ReportFileDone("C:\\games\\pkg\\f.bin");
    FileDoneInfo info{};
    ASSERT_EQ(m_job.PopFileDone(&info), MESHDROPLIB_OK);
    EXPECT_EQ(std::strlen(info.text), sizeof info.text - 1);
}

TEST_F(JobTest, NoticesKeepTheirOrderAndOptionalText)
{
    m_job.Notify(MESHDROPLIB_NOTICE_NETWORK_LOST, nullptr);
    m_job.Notify(MESHDROPLIB_NOTICE_JOB_FAILED, "http://h/bad");
    m_job.Notify(MESHDROPLIB_NOTICE_DISK_FULL, "");
    EXPECT_EQ(EventRecorder::Instance().Count(MESHDROPLIB_EVENT_JOB_NOTICE), 3u);

    int size = -1;
    ASSERT_EQ(m_job.GetNoticeTextSize(&size), MESHDROPLIB_OK);
    EXPECT_EQ(size, 0);
    NoticeInfo notice{MESHDROPLIB_NOTICE_NONE, nullptr};
    ASSERT_EQ(m_job.PopNotice(&notice), MESHDROPLIB_OK);
    EXPECT_EQ(notice.code, static_cast<uint32_t>(MESHDROPLIB_NOTICE_NETWORK_LOST));

    ASSERT_EQ(m_job.GetNoticeTextSize(&size), MESHDROPLIB_OK);
    ASSERT_EQ(size, static_cast<int>(std::strlen("http://h/bad") + 1));
    std::string buffer(static_cast<size_t>(size), 'x');
    notice = NoticeInfo{MESHDROPLIB_NOTICE_NONE, buffer.data()};
    ASSERT_EQ(m_job.PopNotice(&notice), MESHDROPLIB_OK);
    EXPECT_EQ(notice.code, static_cast<uint32_t>(MESHDROPLIB_NOTICE_JOB_FAILED));
    EXPECT_STREQ(buffer.c_str(), "http://h/bad");

    // An empty text counts as none.
    ASSERT_EQ(m_job.GetNoticeTextSize(&size), MESHDROPLIB_OK);
    EXPECT_EQ(size, 0);
    char keep[4] = "abc";
    notice = NoticeInfo{MESHDROPLIB_NOTICE_NONE, keep};
    ASSERT_EQ(m_job.PopNotice(&notice), MESHDROPLIB_OK);
    EXPECT_EQ(notice.code, static_cast<uint32_t>(MESHDROPLIB_NOTICE_DISK_FULL));
    EXPECT_STREQ(keep, "abc");

    notice.code = 1;
    ASSERT_EQ(m_job.PopNotice(&notice), MESHDROPLIB_OK);
    EXPECT_EQ(notice.code, static_cast<uint32_t>(MESHDROPLIB_NOTICE_NONE));
}

TEST_F(JobTest, SizesAreReportedOnlyWhileRunningAndBeforeTheFirstByte)
{
    m_job.ReportSizes(2, 30); // idle
    EXPECT_EQ(EventRecorder::Instance().Count(MESHDROPLIB_EVENT_JOB_SIZE), 0u);

    CJob* job = RunningJobWithTwoFiles();
    job->ReportSizes(2, 30);
    job->ReportSizes(2, 31); // replaces the unread record
    EXPECT_EQ(EventRecorder::Instance().Count(MESHDROPLIB_EVENT_JOB_SIZE), 2u);
    JobSizeInfo info{};
    ASSERT_EQ(job->GetSizeInfo(&info), MESHDROPLIB_OK);
    EXPECT_EQ(info.fileCount, 2u);
    EXPECT_EQ(info.totalSize, 31u);
    JobSizeInfo cleared{};
    ASSERT_EQ(job->GetSizeInfo(&cleared), MESHDROPLIB_OK); // read once
    EXPECT_EQ(cleared.totalSize, 0u);

    JobProgressInfo progress{};
    progress.doneSize = 1;
    job->SetProgress(progress);
    job->ReportSizes(2, 30);
    EXPECT_EQ(EventRecorder::Instance().Count(MESHDROPLIB_EVENT_JOB_SIZE), 2u);
}

} // namespace
