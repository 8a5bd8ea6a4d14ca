// The library's flows over https:// through the entry points, against nginx
// over TLS with certificates made at test time: the file list, the size check
// and a direct job arrive byte-exact from a trusted server, and every refused
// server fails each flow with its failure event and nothing written.

#include "TestDriveC.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <win32_ext.h>

#include "DirectTestSupport.h"
#include "EntryPointFlow.h"
#include "MeshdropLib.h"
#include "NginxServer.h"
#include "TempDir.h"
#include "TestClientWindow.h"
#include "TlsCases.h"

using testsupport::NginxServer;
using testsupport::TlsCase;
using testsupport::TlsCases;

namespace {

constexpr const char* kFolder = "C:\\games\\https\\";

class HttpsFlowTest : public ::testing::TestWithParam<TlsCase> {
protected:
    static void SetUpTestSuite() { s_cases = std::make_unique<TlsCases>(); }
    static void TearDownTestSuite() { s_cases.reset(); }

    void SetUp() override
    {
        ASSERT_TRUE(s_cases->ok()) << s_cases->error();
        W32SetInternetConnectedForTesting(1);
        ASSERT_EQ(MeshdropLib_Initialize(m_window.Handle(), nullptr, nullptr), MESHDROPLIB_OK);
        m_nginx.useTls(s_cases->settings(GetParam()));
        ASSERT_TRUE(m_nginx.start()) << m_nginx.error();
    }
    void TearDown() override
    {
        MeshdropLib_Finalize();
        W32SetInternetConnectedForTesting(-1);
    }

    bool FetchList(UINT outcome)
    {
        const UINT other = outcome == MESHDROPLIB_EVENT_FILE_LIST_DONE ? MESHDROPLIB_EVENT_FILE_LIST_FAILED
                                                                       : MESHDROPLIB_EVENT_FILE_LIST_DONE;
        return MeshdropLib_FetchFileList(m_nginx.url("/list.txt").c_str()) == MESHDROPLIB_OK &&
               PumpUntilOutcome(m_window, outcome, other);
    }

    bool CheckSizes(UINT outcome)
    {
        const UINT other = outcome == MESHDROPLIB_EVENT_SIZE_CHECK_DONE ? MESHDROPLIB_EVENT_SIZE_CHECK_FAILED
                                                                        : MESHDROPLIB_EVENT_SIZE_CHECK_DONE;
        for (const char* name : {"/a.pak", "/b.pak"}) {
            if (MeshdropLib_AddFileSizeCheck(m_nginx.url(name).c_str()) != MESHDROPLIB_OK)
                return false;
        }
        return MeshdropLib_StartFileSizeCheck() == MESHDROPLIB_OK && PumpUntilOutcome(m_window, outcome, other);
    }

    // A job of both files, their sizes given (so no probe runs first).
    MeshdropJobHandle StartJob()
    {
        MeshdropJobHandle job = 0;
        EXPECT_EQ(MeshdropLib_CreateJob(&job, "TW", "joyvend_veilrune_tw"), MESHDROPLIB_OK);
        for (const auto& [name, size] : {std::pair{"/a.pak", m_a.size()}, std::pair{"/b.pak", m_b.size()}}) {
            EXPECT_EQ(
                MeshdropLib_AddFile(job, m_nginx.url(name).c_str(), kFolder, nullptr, static_cast<DWORD>(size), 0, 1),
                MESHDROPLIB_OK);
        }
        EXPECT_EQ(MeshdropLib_StartJob(job, 1), MESHDROPLIB_OK);
        return job;
    }

    static std::string Local(const std::string& name) { return directtest::DrivePath("games/https/" + name); }

    static std::unique_ptr<TlsCases> s_cases;
    const std::string m_list = "https://example.invalid/a.pak\r\n";
    const std::string m_a = testsupport::patternBytes(700'000, 1);
    const std::string m_b = testsupport::patternBytes(90'000, 2);
    testsupport::TempDir m_root{"meshdrop-https-root"};
    bool m_written = testsupport::writeFile(m_root.file("list.txt"), m_list) &&
                     testsupport::writeFile(m_root.file("a.pak"), m_a) &&
                     testsupport::writeFile(m_root.file("b.pak"), m_b);
    NginxServer m_nginx{m_root.path()};
    TestClientWindow m_window;
};

std::unique_ptr<TlsCases> HttpsFlowTest::s_cases;

using HttpsTrustedServerTest = HttpsFlowTest;
using HttpsRefusedServerTest = HttpsFlowTest;

} // namespace

TEST_P(HttpsTrustedServerTest, FileListSizesAndAJobArriveByteExact)
{
    ASSERT_TRUE(m_written);
    ASSERT_TRUE(FetchList(MESHDROPLIB_EVENT_FILE_LIST_DONE));
    uint64_t size = 0;
    ASSERT_EQ(MeshdropLib_GetFileListSize(&size), MESHDROPLIB_OK);
    std::string bytes(size, '\0');
    FileListBuffer record{bytes.data(), size};
    ASSERT_EQ(MeshdropLib_GetFileListData(&record), MESHDROPLIB_OK);
    EXPECT_EQ(bytes, m_list);

    ASSERT_TRUE(CheckSizes(MESHDROPLIB_EVENT_SIZE_CHECK_DONE));
    uint64_t total = 0;
    EXPECT_EQ(MeshdropLib_GetFileSizeTotal(&total), MESHDROPLIB_OK);
    EXPECT_EQ(total, m_a.size() + m_b.size());

    const MeshdropJobHandle job = StartJob();
    ASSERT_TRUE(m_window.PumpUntil(MESHDROPLIB_EVENT_JOB_FINISHED, 1, 60000));
    EXPECT_EQ(m_window.Count(MESHDROPLIB_EVENT_FILE_DONE), 2u);
    EXPECT_EQ(m_window.Count(MESHDROPLIB_EVENT_JOB_NOTICE), 0u);
    EXPECT_EQ(directtest::FileHash(Local("a.pak")), directtest::Hash(m_a));
    EXPECT_EQ(directtest::FileHash(Local("b.pak")), directtest::Hash(m_b));
    EXPECT_EQ(MeshdropLib_DeleteJob(job), MESHDROPLIB_OK);
}

INSTANTIATE_TEST_SUITE_P(Https, HttpsTrustedServerTest, ::testing::Values(TlsCase::Good));

TEST_P(HttpsRefusedServerTest, EveryFlowFailsWithItsEventAndNothingWritten)
{
    ASSERT_TRUE(m_written);
    EXPECT_TRUE(FetchList(MESHDROPLIB_EVENT_FILE_LIST_FAILED));
    uint64_t size = 0;
    EXPECT_EQ(MeshdropLib_GetFileListSize(&size), MESHDROPLIB_ERROR_FAILED);

    EXPECT_TRUE(CheckSizes(MESHDROPLIB_EVENT_SIZE_CHECK_FAILED));

    const MeshdropJobHandle job = StartJob();
    ASSERT_TRUE(m_window.PumpUntil(MESHDROPLIB_EVENT_JOB_NOTICE, 1, 60000));
    int textSize = 0;
    EXPECT_EQ(MeshdropLib_GetNoticeTextSize(job, &textSize), MESHDROPLIB_OK);
    std::string text(static_cast<size_t>(textSize), '\0');
    NoticeInfo notice{MESHDROPLIB_NOTICE_NONE, textSize > 0 ? text.data() : nullptr};
    EXPECT_EQ(MeshdropLib_PopNotice(job, &notice), MESHDROPLIB_OK);
    EXPECT_EQ(notice.code, static_cast<uint32_t>(MESHDROPLIB_NOTICE_JOB_FAILED));
    EXPECT_EQ(m_window.Count(MESHDROPLIB_EVENT_FILE_DONE), 0u);
    EXPECT_EQ(m_window.Count(MESHDROPLIB_EVENT_JOB_FINISHED), 0u);
    EXPECT_EQ(testsupport::readFile(Local("a.pak")), "");
    EXPECT_EQ(MeshdropLib_StopJob(job), MESHDROPLIB_OK);
}

INSTANTIATE_TEST_SUITE_P(Https, HttpsRefusedServerTest, ::testing::ValuesIn(TlsCases::kRefused),
                         [](const ::testing::TestParamInfo<TlsCase>& info) { return TlsCases::name(info.param); });
