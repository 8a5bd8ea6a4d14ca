// The engine path end to end, as the client sees it: the shared library's
// entry points, events posted to a window of the test's thread, the engine
// update served by the publisher server, the engine program it installs and
// starts, and package files from the publisher's file server (or a scripted
// one for the faults). Every engine started is stopped by the test.

#include "TestDriveC.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <win32_ext.h>

#include "EngineTestSupport.h"
#include "EngineUpdate.h"
#include "EntryPointFlow.h"
#include "ForeignUser.h"
#include "HttpFileServer.h"
#include "InstalledEngine.h"
#include "LibraryLog.h"
#include "MeshdropLib.h"
#include "TempDir.h"
#include "TestClientWindow.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kFolder = "C:\\games\\veilrune\\";

std::string LocalFile(const std::string& name)
{
    return TestDriveC::Root() + "/games/veilrune/" + name;
}

class EnginePathTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::remove_all(installedengine::Folder());
        m_log = LibraryLog::Prepare();
        W32SetInternetConnectedForTesting(1);
        m_updatePort = m_updateServer.listenOn(0);
        ASSERT_NE(m_updatePort, 0);
        setenv("MESHDROP_UPDATE_LIST_URL",
               ("http://127.0.0.1:" + std::to_string(m_updatePort) + publisher::kUpdateListPath).c_str(), 1);
        setenv("MESHDROP_ENGINE_PORT", std::to_string(enginetest::FreePort()).c_str(), 1);
        // Should a test fail before it stops its engine, the engine leaves by itself.
        setenv("MESHDROP_ENGINE_IDLE_EXIT", "30", 1);
    }

    void TearDown() override
    {
        MeshdropLib_Finalize();
        EXPECT_TRUE(installedengine::Stop());
        W32SetInternetConnectedForTesting(-1);
    }

    void ServeUpdate(publisher::UpdateOptions options = {})
    {
        options.root = m_updateRoot.path();
        options.port = m_updatePort;
        std::string error;
        ASSERT_TRUE(publisher::generateEngineUpdate(options, error)) << error;
    }

    // The package files' server; `rate` paces each connection.
    std::string ServeFile(const std::string& name, const std::string& bytes, uint64_t rate = 0)
    {
        if (!m_files) {
            m_files = std::make_unique<publisher::HttpFileServer>(publisher::ServerOptions{m_filesRoot.path(), rate});
            m_filesPort = m_files->listenOn(0);
        }
        testsupport::writeFile(m_filesRoot.path() + "/" + name, bytes);
        return "http://127.0.0.1:" + std::to_string(m_filesPort) + "/" + name;
    }

    void Initialize() { ASSERT_EQ(MeshdropLib_Initialize(m_window.Handle(), nullptr, nullptr), MESHDROPLIB_OK); }

    MeshdropJobHandle StartJob(const std::vector<std::string>& urls, int mode)
    {
        MeshdropJobHandle job = 0;
        EXPECT_EQ(MeshdropLib_SetEngineServiceId("joyvend_veilrune_tw"), MESHDROPLIB_OK);
        EXPECT_EQ(MeshdropLib_CreateJob(&job, nullptr, "joyvend_veilrune_tw"), MESHDROPLIB_OK);
        EXPECT_EQ(MeshdropLib_SetJobEngineFlag(job), MESHDROPLIB_OK);
        for (const std::string& url : urls)
            EXPECT_EQ(MeshdropLib_AddFile(job, url.c_str(), kFolder, nullptr, 0xFFFFFFFF, 0xFFFFFFFF, 1),
                      MESHDROPLIB_OK);
        EXPECT_EQ(MeshdropLib_StartJob(job, static_cast<BYTE>(mode)), MESHDROPLIB_OK);
        return job;
    }

    std::vector<UINT> Events(LPARAM param) const
    {
        std::vector<UINT> codes;
        for (const auto& [code, eventParam] : m_window.Events()) {
            if (eventParam == param)
                codes.push_back(code);
        }
        return codes;
    }

    size_t LogCount(const std::string& message) const
    {
        const auto lines = LibraryLog::Messages(m_log);
        return static_cast<size_t>(std::count(lines.begin(), lines.end(), message));
    }

    static std::string EngineLog() { return testsupport::readFile(installedengine::Folder() + "/QLSDownloadV32.log"); }

    testsupport::TempDir m_updateRoot{"meshdrop-update"};
    publisher::HttpFileServer m_updateServer{publisher::ServerOptions{m_updateRoot.path()}};
    uint16_t m_updatePort = 0;
    testsupport::TempDir m_filesRoot{"meshdrop-package"};
    std::unique_ptr<publisher::HttpFileServer> m_files;
    uint16_t m_filesPort = 0;
    TestClientWindow m_window;
    std::string m_log;
};

TEST_F(EnginePathTest, FreshFolderGetsTheEngineWhichDownloadsTheJob)
{
    ServeUpdate();
    const std::string first = testsupport::patternBytes(1200000, 1);
    const std::string second = testsupport::patternBytes(100000, 2);
    // Without consent the engine holds the job to 393216 bytes per second: a
    // few of the library's one-second ticks.
    // A mirror entry, as the file list gives it, is reported whole.
    fs::create_directories(m_filesRoot.path() + "/mirror");
    const std::string entry = ServeFile("a.pak", first) + "|" + ServeFile("mirror/a.pak", first);
    const std::vector<std::string> urls = {entry, ServeFile("b.pak", second)};
    Initialize();
    const MeshdropJobHandle job = StartJob(urls, 0);

    const auto start = Clock::now();
    ASSERT_TRUE(PumpUntilOutcome(m_window, MESHDROPLIB_EVENT_JOB_FINISHED, MESHDROPLIB_EVENT_JOB_NOTICE));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    // The update: the archive's length, its data, then the engine is ready.
    std::vector<UINT> update = Events(0);
    update.erase(std::unique(update.begin(), update.end()), update.end());
    EXPECT_EQ(update, (std::vector<UINT>{MESHDROPLIB_EVENT_ENGINE_UPDATE_FILE, MESHDROPLIB_EVENT_ENGINE_UPDATE_DATA,
                                         MESHDROPLIB_EVENT_ENGINE_READY}));
    EXPECT_TRUE(testsupport::readFile(installedengine::Program()) == testsupport::readFile(ENGINE_PROGRAM));
    // The job: sizes, progress about once a second, each file, the end.
    std::vector<UINT> events = Events(static_cast<LPARAM>(job));
    const auto progress = static_cast<double>(std::count(events.begin(), events.end(), MESHDROPLIB_EVENT_JOB_PROGRESS));
    EXPECT_GE(progress, 2);
    EXPECT_LE(progress, seconds + 2);
    events.erase(std::unique(events.begin(), events.end()), events.end());
    EXPECT_EQ(events.front(), static_cast<UINT>(MESHDROPLIB_EVENT_JOB_SIZE));
    EXPECT_EQ(events.back(), static_cast<UINT>(MESHDROPLIB_EVENT_JOB_FINISHED));
    std::vector<std::string> done;
    for (FileDoneInfo info{}; MeshdropLib_PopFileDone(job, &info) == MESHDROPLIB_OK && info.sequence != 0; info = {})
        done.emplace_back(info.text);
    std::sort(done.begin(), done.end());
    EXPECT_EQ(done, (std::vector<std::string>{entry + "," + kFolder + "a.pak", urls[1] + "," + kFolder + "b.pak"}));
    EXPECT_TRUE(testsupport::readFile(LocalFile("a.pak")) == first);
    EXPECT_TRUE(testsupport::readFile(LocalFile("b.pak")) == second);
    // The end shows the engine's final figures: the whole job, the last file whole.
    JobProgressInfo last{};
    ASSERT_EQ(MeshdropLib_GetJobProgress(job, &last), MESHDROPLIB_OK);
    EXPECT_EQ(last.percent, 100u);
    EXPECT_EQ(last.doneSize, first.size() + second.size());
    EXPECT_EQ(last.totalSize, last.doneSize);
    EXPECT_EQ(last.filePercent, 100u);
    EXPECT_EQ(last.remaining, 0u);
    EXPECT_EQ(LogCount("[MeshdropLib] Patch Success"), 1u);
    EXPECT_EQ(LogCount("[MeshdropLib] CPlatFormDownloader Begin"), 0u);
    EXPECT_NE(EngineLog().find("accepted: 2 files, limited, service \"joyvend_veilrune_tw\""), std::string::npos);

    // The next start finds the engine up to date: nothing is fetched.
    MeshdropLib_Finalize();
    ASSERT_TRUE(installedengine::Stop());
    const size_t fetched = m_window.Count(MESHDROPLIB_EVENT_ENGINE_UPDATE_FILE);
    Initialize();
    ASSERT_TRUE(m_window.PumpUntil(MESHDROPLIB_EVENT_ENGINE_READY, 2));
    EXPECT_EQ(m_window.Count(MESHDROPLIB_EVENT_ENGINE_UPDATE_FILE), fetched);
    EXPECT_EQ(LogCount("[MeshdropLib] Update File (Count: 0)"), 1u);

    // A newer version on the list replaces the program.
    MeshdropLib_Finalize();
    ASSERT_TRUE(installedengine::Stop());
    fs::resize_file(installedengine::Program(), 0);
    ServeUpdate({.version = "3.5.0.9"});
    Initialize();
    ASSERT_TRUE(m_window.PumpUntil(MESHDROPLIB_EVENT_ENGINE_READY, 3));
    EXPECT_GT(m_window.Count(MESHDROPLIB_EVENT_ENGINE_UPDATE_FILE), fetched);
    EXPECT_TRUE(testsupport::readFile(installedengine::Program()) == testsupport::readFile(ENGINE_PROGRAM));
}

TEST_F(EnginePathTest, BrokenArchiveIsReportedAndTheJobGoesDirect)
{
    ServeUpdate({.fault = publisher::UpdateFault::BrokenArchive});
    const std::string bytes = testsupport::patternBytes(300000, 3);
    Initialize();
    const MeshdropJobHandle job = StartJob({ServeFile("c.pak", bytes)}, 1);
    ASSERT_TRUE(PumpUntilOutcome(m_window, MESHDROPLIB_EVENT_JOB_FINISHED, MESHDROPLIB_EVENT_JOB_NOTICE));
    EXPECT_EQ(m_window.Count(MESHDROPLIB_EVENT_ENGINE_PATH_FAILED), 1u);
    EXPECT_EQ(m_window.Count(MESHDROPLIB_EVENT_ENGINE_READY), 0u);
    EXPECT_EQ(LogCount("[MeshdropLib] 엔진 다운로드 실패 result : 5"), 1u);
    EXPECT_EQ(LogCount("[MeshdropLib] engine path access failed"), 1u);
    EXPECT_EQ(LogCount("[MeshdropLib] CPlatFormDownloader Begin"), 1u);
    EXPECT_TRUE(testsupport::readFile(LocalFile("c.pak")) == bytes);
    (void)job;
}

TEST_F(EnginePathTest, ArchiveFailingItsHashFailsTheUpdateAndTheJobGoesDirect)
{
    ServeUpdate({.fault = publisher::UpdateFault::WrongHash});
    const std::string bytes = testsupport::patternBytes(300000, 7);
    Initialize();
    StartJob({ServeFile("h.pak", bytes)}, 1);
    ASSERT_TRUE(PumpUntilOutcome(m_window, MESHDROPLIB_EVENT_JOB_FINISHED, MESHDROPLIB_EVENT_JOB_NOTICE));
    // Fetched again while it had attempts, never installed: nothing to start.
    EXPECT_EQ(m_window.Count(MESHDROPLIB_EVENT_ENGINE_UPDATE_FAILED), 1u);
    EXPECT_EQ(m_window.Count(MESHDROPLIB_EVENT_ENGINE_READY), 0u);
    EXPECT_GT(m_window.Count(MESHDROPLIB_EVENT_ENGINE_UPDATE_FILE), 1u);
    EXPECT_FALSE(fs::exists(installedengine::Program()));
    EXPECT_EQ(LogCount("[MeshdropLib] Patch Fail"), 1u);
    EXPECT_EQ(LogCount("[MeshdropLib] CPlatFormDownloader Begin"), 1u);
    EXPECT_TRUE(testsupport::readFile(LocalFile("h.pak")) == bytes);
}

TEST_F(EnginePathTest, AnUpdateThatIsNotThePublishersIsRefusedWholeAndTheJobGoesDirect)
{
    // An older engine is installed; the list offers a newer one.
    const std::string installed = testsupport::readFile(ENGINE_PROGRAM) + "old";
    const std::string base = "http://127.0.0.1:" + std::to_string(m_updatePort) + publisher::kUpdateFolder;
    const std::string archive = base + "QLSDownloadV32.zip";
    struct Case {
        publisher::UpdateFault fault;
        std::string refused; // the file the refusal names
        int code;
    };
    int run = 0;
    for (const Case& c :
         {Case{publisher::UpdateFault::NoHash, archive + ".hash", 9},
          Case{publisher::UpdateFault::ShortHash, archive, 9}, Case{publisher::UpdateFault::NoHashEntry, archive, 9},
          Case{publisher::UpdateFault::ForeignSignature, archive, 8},
          Case{publisher::UpdateFault::NoListSignature,
               "http://127.0.0.1:" + std::to_string(m_updatePort) + publisher::kUpdateListPath + ".sig", 8}}) {
        SCOPED_TRACE(c.refused + " " + std::to_string(c.code));
        ASSERT_TRUE(testsupport::writeFile(installedengine::Program(), installed));
        fs::permissions(installedengine::Program(), fs::perms::owner_all, fs::perm_options::add);
        ServeUpdate({.version = "3.5.0.9", .fault = c.fault});
        m_log = LibraryLog::Prepare();
        const std::string name = "refused" + std::to_string(++run) + ".pak";
        const std::string bytes = testsupport::patternBytes(200000, static_cast<unsigned>(run));
        Initialize();
        StartJob({ServeFile(name, bytes)}, 1);
        ASSERT_TRUE(PumpUntilOutcome(m_window, MESHDROPLIB_EVENT_JOB_FINISHED, MESHDROPLIB_EVENT_JOB_NOTICE));
        MeshdropLib_Finalize();
        EXPECT_EQ(m_window.Count(MESHDROPLIB_EVENT_ENGINE_UPDATE_FAILED), static_cast<size_t>(run));
        EXPECT_EQ(m_window.Count(MESHDROPLIB_EVENT_ENGINE_READY), 0u);
        EXPECT_EQ(
            LogCount("[MeshdropLib] Update Refused (URL: " + c.refused + ")(Code: " + std::to_string(c.code) + ")"),
            1u);
        EXPECT_EQ(LogCount("[MeshdropLib] CPlatFormDownloader Begin"), 1u);
        EXPECT_TRUE(testsupport::readFile(LocalFile(name)) == bytes);
        // The engine's folder as it was, and nothing of it started.
        EXPECT_TRUE(testsupport::readFile(installedengine::Program()) == installed);
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(installedengine::Folder()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"QLSDownloadV32.exe", "config"})); // config: the service log
        EXPECT_FALSE(fs::exists(installedengine::Folder() + ".staging"));
        EXPECT_TRUE(installedengine::Pids().empty());
    }
}

TEST_F(EnginePathTest, ListenerOfAnotherUserOnTheEnginePortMakesTheJobGoDirect)
{
    const std::string unavailable = testsupport::foreignUserUnavailable();
    if (!unavailable.empty())
        GTEST_SKIP() << unavailable;
    testsupport::ForeignListener foreign;
    ASSERT_NE(foreign.port(), 0);
    setenv("MESHDROP_ENGINE_PORT", std::to_string(foreign.port()).c_str(), 1);
    ServeUpdate();
    const std::string bytes = testsupport::patternBytes(300000, 8);
    Initialize();
    StartJob({ServeFile("f.pak", bytes)}, 1);
    // Each launch installs or finds the engine, which cannot listen; the
    // library refuses what does, until it gives up on the engine.
    ASSERT_TRUE(PumpUntilOutcome(m_window, MESHDROPLIB_EVENT_JOB_FINISHED, MESHDROPLIB_EVENT_JOB_NOTICE));
    const std::string refused =
        "[MeshdropLib] Engine Refused (port " + std::to_string(foreign.port()) + " belongs to uid 65534)";
    EXPECT_EQ(LogCount(refused), 6u);
    EXPECT_EQ(LogCount("[MeshdropLib] CEngineDownloader MaxTry Over"), 1u);
    EXPECT_EQ(LogCount("[MeshdropLib] CPlatFormDownloader Begin"), 1u);
    EXPECT_TRUE(testsupport::readFile(LocalFile("f.pak")) == bytes);
    EXPECT_NE(EngineLog().find("is held by uid 65534"), std::string::npos);
}

TEST_F(EnginePathTest, EngineKilledSixTimesWithinTheWindowGivesTheJobToTheDirectDownloader)
{
    ServeUpdate();
    const std::string bytes = testsupport::patternBytes(1000000, 4);
    const std::string url = ServeFile("d.pak", bytes, 256 * 1024);
    Initialize();
    const MeshdropJobHandle job = StartJob({url}, 0);
    // Each launch ends with the engine started and the library connecting.
    for (size_t launch = 1; launch <= 6; ++launch) {
        ASSERT_TRUE(m_window.PumpUntil(MESHDROPLIB_EVENT_ENGINE_READY, launch));
        ASSERT_TRUE(installedengine::Stop(SIGKILL)) << "launch " << launch;
    }
    ASSERT_TRUE(PumpUntilOutcome(m_window, MESHDROPLIB_EVENT_JOB_FINISHED, MESHDROPLIB_EVENT_JOB_NOTICE));
    EXPECT_EQ(m_window.Count(MESHDROPLIB_EVENT_ENGINE_READY), 6u);
    EXPECT_EQ(LogCount("[MeshdropLib] localClosed()"), 6u);
    EXPECT_EQ(LogCount("[MeshdropLib] CEngineDownloader MaxTry Over"), 1u);
    EXPECT_EQ(LogCount("[MeshdropLib] CPlatFormDownloader Begin"), 1u);
    EXPECT_TRUE(testsupport::readFile(LocalFile("d.pak")) == bytes);
    (void)job;
}

TEST_F(EnginePathTest, JobTheEngineGivesUpOnIsFinishedByTheDirectDownloader)
{
    ServeUpdate();
    const std::string bytes = testsupport::patternBytes(400000, 5);
    // The server turns the engine away and serves the library.
    enginetest::RangeServer server(
        bytes, 0,
        [&](testsupport::HttpConnection& connection, const testsupport::HttpRequest& request, long long, long long) {
            if (request.header("User-Agent").rfind("QLSDownloadV32", 0) == 0)
                connection.respond(503, "Service Unavailable", "");
            else if (request.header("Range").empty())
                connection.respond(200, "OK", bytes);
            else
                return false; // a range of the body
            return true;
        });
    Initialize();
    const MeshdropJobHandle job = StartJob({server.Url("/e.pak")}, 1);
    ASSERT_TRUE(m_window.PumpUntil(MESHDROPLIB_EVENT_JOB_FINISHED));
    m_window.Drain();
    EXPECT_EQ(PopNoticeCodes(job), std::vector<uint32_t>{MESHDROPLIB_NOTICE_ENGINE_JOB_ERROR});
    EXPECT_NE(EngineLog().find("giving up"), std::string::npos);
    EXPECT_EQ(LogCount("[MeshdropLib] CPlatFormDownloader Begin"), 1u);
    EXPECT_TRUE(testsupport::readFile(LocalFile("e.pak")) == bytes);
}

TEST_F(EnginePathTest, ThreeHundredFilesWithLongUrlsGoToTheEngineFileByFile)
{
    ServeUpdate();
    const std::string folder(180, 'l');
    fs::create_directories(m_filesRoot.path() + "/" + folder);
    std::vector<std::string> urls;
    for (int i = 0; i < 300; ++i)
        urls.push_back(ServeFile(folder + "/f" + std::to_string(i) + ".pak", "file " + std::to_string(i)));
    Initialize();
    const MeshdropJobHandle job = StartJob(urls, 1);
    ASSERT_TRUE(PumpUntilOutcome(m_window, MESHDROPLIB_EVENT_JOB_FINISHED, MESHDROPLIB_EVENT_JOB_NOTICE));
    EXPECT_EQ(m_window.Count(MESHDROPLIB_EVENT_FILE_DONE), 300u);
    const std::string log = EngineLog();
    EXPECT_NE(log.find("job 0 announced: 300 files"), std::string::npos) << log.substr(0, 2000);
    EXPECT_NE(log.find("accepted: 300 files"), std::string::npos);
    EXPECT_EQ(testsupport::readFile(LocalFile("f299.pak")), "file 299");
    // The last progress names the job's last file.
    JobProgressInfo progress{};
    ASSERT_EQ(MeshdropLib_GetJobProgress(job, &progress), MESHDROPLIB_OK);
    EXPECT_LE(progress.fileIndex, 299u);
}

TEST_F(EnginePathTest, PartialJobOfAKilledEngineAsksToResumeAndTheAnswerReachesTheEngine)
{
    ServeUpdate();
    const std::string bytes = testsupport::patternBytes(3 << 20, 6);
    const std::string url = ServeFile("r.pak", bytes, 512 * 1024);
    Initialize();
    const MeshdropJobHandle job = StartJob({url}, 0);
    ASSERT_TRUE(m_window.PumpUntil(MESHDROPLIB_EVENT_JOB_PROGRESS, 2));
    ASSERT_TRUE(enginetest::PollUntil([] { return fs::exists(LocalFile("r.pak.mdstate")); }));
    ASSERT_TRUE(installedengine::Stop(SIGKILL));
    // The library starts the engine again and submits the job again.
    ASSERT_TRUE(m_window.PumpUntil(MESHDROPLIB_EVENT_ASK_RESUME));
    ASSERT_EQ(MeshdropLib_AnswerResume(job, 1, 1), MESHDROPLIB_OK);
    ASSERT_TRUE(PumpUntilOutcome(m_window, MESHDROPLIB_EVENT_JOB_FINISHED, MESHDROPLIB_EVENT_JOB_NOTICE));
    EXPECT_EQ(m_window.Count(MESHDROPLIB_EVENT_ENGINE_READY), 2u);
    EXPECT_NE(EngineLog().find("resuming C:\\games\\veilrune\\r.pak"), std::string::npos);
    EXPECT_TRUE(testsupport::readFile(LocalFile("r.pak")) == bytes);
}

} // namespace
