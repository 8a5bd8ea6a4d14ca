// The engine update on the library's worker thread against the publisher
// server, installing into the test's C: drive: the update list, the archive
// check and the staged install, the start of the engine program (and the end
// of the one it replaces), and the faults (wrong hash, broken archive, one
// broken half-way, a list that cannot be fetched, an unreachable server).
// Every engine program started is stopped by the test. The refusals of an
// update that is not the publisher's are EnginePathTest's.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <win32_ext.h>

#include "../lib/InstalledEngine.h"
#include "../lib/LibraryLog.h"
#include "../lib/TestDriveC.h"
#include "BlockingHttpGet.h"
#include "Downloader.h"
#include "EngineUpdate.h"
#include "HttpFileServer.h"
#include "IGetPath.h"
#include "NpnWorker.h"
#include "ScriptedHttpServer.h"
#include "TempDir.h"

using Events = std::vector<std::string>;
using Lines = std::vector<std::string>;

namespace {

namespace fs = std::filesystem;

constexpr auto kTimeout = std::chrono::seconds(90);

// Records the updater's reports; the progress only as the last value per address.
class UpdateListener : public IDownloaderEventListener {
public:
    void OnDownloaderNetworkLost() override { Note("network lost"); }
    void OnDownloaderFileLength(const char* url, int64_t length) override
    {
        Note("length " + std::string(url) + " " + std::to_string(length));
    }
    void OnDownloaderProgress(const char* url, int64_t received) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_received[url] = received;
    }
    void OnDownloaderFinished(int engineStarted, int ok, const char* newVersion) override
    {
        Note("finished " + std::to_string(engineStarted) + " " + std::to_string(ok) + " " + newVersion);
    }
    void OnDownloaderPathFailed(int kind) override { Note("path failed " + std::to_string(kind)); }

    bool WaitFor(const std::string& prefix)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, kTimeout, [&] {
            return std::any_of(m_events.begin(), m_events.end(),
                               [&](const std::string& event) { return event.rfind(prefix, 0) == 0; });
        });
    }
    Events Seen()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    int64_t Received(const std::string& url)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received[url];
    }
    void Clear()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.clear();
        m_received.clear();
    }

private:
    void Note(const std::string& event)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back(event);
        m_changed.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    Events m_events;
    std::map<std::string, int64_t> m_received;
};

uint16_t FreePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    uint16_t port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    close(fd);
    return port;
}

bool Accepts(uint16_t port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

class EngineUpdateTest : public ::testing::Test {
protected:
    EngineUpdateTest() : m_server({m_root.path(), 0, false}) {}

    void SetUp() override
    {
        ASSERT_TRUE(m_worker.IsStarted());
        std::string folder;
        GetPathProvider().GetInstallFolder(folder);
        m_folder = W32PathToPosix(std::string_view(folder));
        m_program = m_folder + "/QLSDownloadV32.exe";
        fs::remove_all(m_folder);
        m_log = LibraryLog::Prepare();
        m_listPort = m_server.listenOn(0);
        m_archivePort = m_server.listenOn(0);
        ASSERT_NE(m_listPort, 0);
        ASSERT_NE(m_archivePort, 0);
        setenv("MESHDROP_UPDATE_LIST_URL", Url(publisher::kUpdateListPath).c_str(), 1);
        m_enginePort = FreePort();
        setenv("MESHDROP_ENGINE_PORT", std::to_string(m_enginePort).c_str(), 1);
        // Should a test fail before it stops the engine, the engine leaves by itself.
        setenv("MESHDROP_ENGINE_IDLE_EXIT", "60", 1);
    }

    void TearDown() override
    {
        W32SetHostUnreachableForTesting(0);
        EndUpdate();
        EXPECT_TRUE(installedengine::Stop());
    }

    // The update the server offers; its archives on the list's port unless
    // the options name another.
    void Serve(publisher::UpdateOptions options)
    {
        options.root = m_root.path();
        if (options.port == 0)
            options.port = m_listPort;
        std::string error;
        ASSERT_TRUE(publisher::generateEngineUpdate(options, error)) << error;
    }

    void BeginUpdate()
    {
        m_worker.Run([&] {
            m_downloader = std::make_unique<CDownloader>();
            m_downloader->SetListener(&m_listener);
            m_downloader->BeginUpdate();
        });
    }

    void EndUpdate()
    {
        m_worker.Run([&] { m_downloader.reset(); });
    }

    // Runs an update to its end and stops the engine it started.
    void RunUpdate()
    {
        m_listener.Clear();
        m_log = LibraryLog::Prepare();
        BeginUpdate();
        ASSERT_TRUE(m_listener.WaitFor("finished"));
        EndUpdate();
    }

    std::string Url(const std::string& path, uint16_t port = 0) const
    {
        return "http://127.0.0.1:" + std::to_string(port == 0 ? m_listPort : port) + path;
    }
    std::string ArchiveUrl(const std::string& name, uint16_t port = 0) const
    {
        return Url(publisher::kUpdateFolder + name, port);
    }
    std::string ArchiveSize(const std::string& name) const
    {
        return std::to_string(fs::file_size(m_root.path() + publisher::kUpdateFolder + name));
    }
    static std::string BuiltEngine() { return testsupport::readFile(ENGINE_PROGRAM); }

    Lines Log() const { return LibraryLog::Messages(m_log); }
    size_t CountLog(const std::string& text) const
    {
        const Lines lines = Log();
        return static_cast<size_t>(std::count(lines.begin(), lines.end(), text));
    }
    // The lines up to the first fetch of the update list.
    Lines Begin(const std::string& current, const std::string& offered, int wanted) const
    {
        return {"[MeshdropLib] Initialize Downloader", "[MeshdropLib] Begin Update",
                "[MeshdropLib] Current Version: " + current + " / New Version: " + offered,
                "[MeshdropLib] Update File (Count: " + std::to_string(wanted) + ")",
                "[MeshdropLib] Download Completed (URL: " + Url(publisher::kUpdateListPath) + ")(Code: 0)"};
    }
    static Lines Started()
    {
        return {"[MeshdropLib] Execute OK(0)", "[MeshdropLib] Begin WFII", "[MeshdropLib] End WFII",
                "[MeshdropLib] Finalize Downloader"};
    }
    static Lines Join(Lines head, const Lines& tail)
    {
        head.insert(head.end(), tail.begin(), tail.end());
        return head;
    }

    testsupport::TempDir m_root;
    publisher::HttpFileServer m_server;
    NpnWorker m_worker;
    UpdateListener m_listener;
    std::unique_ptr<CDownloader> m_downloader;
    std::string m_folder;
    std::string m_program;
    std::string m_log;
    uint16_t m_listPort = 0;
    uint16_t m_archivePort = 0;
    uint16_t m_enginePort = 0;
};

TEST_F(EngineUpdateTest, AFreshFolderGetsTheEngineFromAZipOrA7zAndStartsIt)
{
    for (const std::string type : {"zip", "7z"}) {
        SCOPED_TRACE(type);
        fs::remove_all(m_folder);
        Serve({.archiveType = type});
        const std::string archive = "QLSDownloadV32." + type;
        RunUpdate();
        EXPECT_EQ(m_listener.Seen(),
                  (Events{"length " + ArchiveUrl(archive) + " " + ArchiveSize(archive), "finished 1 1 3.5.0.2"}));
        EXPECT_EQ(std::to_string(m_listener.Received(ArchiveUrl(archive))), ArchiveSize(archive));
        EXPECT_TRUE(testsupport::readFile(m_program) == BuiltEngine());
        EXPECT_TRUE(Accepts(m_enginePort));
        EXPECT_EQ(Log(), Join(Begin("", "3.5.0.2", 2),
                              Join({"[MeshdropLib] Download Completed (URL: " + ArchiveUrl(archive) + ")(Code: 0)"},
                                   Started())));
        EXPECT_TRUE(installedengine::Stop());
    }
}

TEST_F(EngineUpdateTest, TheInstalledVersionDecidesWhetherTheProgramIsReplacedAndTheOldOneLeaves)
{
    // The current engine: nothing is fetched, the engine is started.
    fs::create_directories(m_folder);
    fs::copy_file(ENGINE_PROGRAM, m_program);
    Serve({});
    RunUpdate();
    EXPECT_EQ(m_listener.Seen(), Events{"finished 1 1 3.5.0.2"});
    EXPECT_EQ(Log(), Join(Begin("3.5.0.2", "3.5.0.2", 0), Started()));
    const std::vector<pid_t> old = installedengine::Pids();
    ASSERT_EQ(old.size(), 1u);

    // A newer version listed: the installed program is replaced, and the
    // engine still running is asked to leave before the new one starts.
    ASSERT_TRUE(testsupport::writeFile(m_program + ".new", BuiltEngine() + "stale"));
    fs::rename(m_program + ".new", m_program);
    Serve({.version = "3.5.0.3"});
    RunUpdate();
    EXPECT_EQ(m_listener.Seen(),
              (Events{"length " + ArchiveUrl("QLSDownloadV32.zip") + " " + ArchiveSize("QLSDownloadV32.zip"),
                      "finished 1 1 3.5.0.3"}));
    EXPECT_TRUE(testsupport::readFile(m_program) == BuiltEngine());
    EXPECT_EQ(Log()[2], "[MeshdropLib] Current Version: 3.5.0.2 / New Version: 3.5.0.3");
    EXPECT_EQ(CountLog("[MeshdropLib] Engine Leave (pid " + std::to_string(old[0]) + ")"), 1u);
    EXPECT_TRUE(installedengine::Ended(old[0]));
    const std::vector<pid_t> now = installedengine::Pids();
    ASSERT_EQ(now.size(), 1u);
    EXPECT_NE(now[0], old[0]);
    EXPECT_FALSE(fs::exists(m_folder + ".staging"));
}

TEST_F(EngineUpdateTest, TwoListedFilesAreTakenFromTheArchiveOfAll)
{
    Serve({.listNotes = true});
    RunUpdate();
    EXPECT_EQ(m_listener.Seen(),
              (Events{"length " + ArchiveUrl("qlsdownload_all.zip") + " " + ArchiveSize("qlsdownload_all.zip"),
                      "finished 1 1 3.5.0.2"}));
    EXPECT_TRUE(testsupport::readFile(m_program) == BuiltEngine());
    EXPECT_TRUE(fs::exists(m_folder + "/QLSDownloadV32.txt"));
}

TEST_F(EngineUpdateTest, AWrongHashIsFetchedAgainAtOnceUntilTheAttemptsRunOut)
{
    Serve({.fault = publisher::UpdateFault::WrongHash});
    RunUpdate();
    const std::string length = "length " + ArchiveUrl("QLSDownloadV32.zip") + " " + ArchiveSize("QLSDownloadV32.zip");
    EXPECT_EQ(m_listener.Seen(), (Events{length, length, length, "finished 0 0 3.5.0.2"}));
    EXPECT_FALSE(fs::exists(m_program));
    const std::string failed =
        "[MeshdropLib] Download Completed (URL: " + ArchiveUrl("QLSDownloadV32.zip") + ")(Code: 4)";
    EXPECT_EQ(Log(),
              Join(Begin("", "3.5.0.2", 2), {failed, failed, failed, "[MeshdropLib] Run Binary (no executable file)",
                                             "[MeshdropLib] Finalize Downloader"}));
}

TEST_F(EngineUpdateTest, ABrokenArchiveStopsTheUpdateWithAPathFailure)
{
    Serve({.fault = publisher::UpdateFault::BrokenArchive});
    m_log = LibraryLog::Prepare();
    BeginUpdate();
    ASSERT_TRUE(m_listener.WaitFor("path failed"));
    EndUpdate();
    EXPECT_EQ(m_listener.Seen(),
              (Events{"length " + ArchiveUrl("QLSDownloadV32.zip") + " " + ArchiveSize("QLSDownloadV32.zip"),
                      "path failed 1"}));
    EXPECT_EQ(Log(), Join(Begin("", "3.5.0.2", 2),
                          {"[MeshdropLib] 엔진 다운로드 실패 result : 5", "[MeshdropLib] Finalize Downloader"}));
}

TEST_F(EngineUpdateTest, AnArchiveBrokenHalfWayLeavesTheOldEngineWhole)
{
    // The archive of all files: the program extracts, the notes after it do not.
    const std::string installed = BuiltEngine() + "old";
    ASSERT_TRUE(testsupport::writeFile(m_program, installed));
    fs::permissions(m_program, fs::perms::owner_all, fs::perm_options::add);
    Serve({.version = "3.5.0.3", .listNotes = true, .fault = publisher::UpdateFault::HalfBroken});
    m_log = LibraryLog::Prepare();
    BeginUpdate();
    ASSERT_TRUE(m_listener.WaitFor("path failed"));
    EndUpdate();
    EXPECT_EQ(CountLog("[MeshdropLib] 엔진 다운로드 실패 result : 5"), 1u);
    EXPECT_TRUE(testsupport::readFile(m_program) == installed);
    EXPECT_EQ(fs::status(m_program).permissions() & fs::perms::owner_exec, fs::perms::owner_exec);
    EXPECT_FALSE(fs::exists(m_folder + "/QLSDownloadV32.txt"));
    EXPECT_FALSE(fs::exists(m_folder + ".staging"));
}

TEST_F(EngineUpdateTest, AnUpdateListThatCannotBeFetchedEndsTheUpdateAfterThreeAttempts)
{
    // Not on the server (404), then no server at all (refused).
    Serve({.fault = publisher::UpdateFault::NoList});
    const uint16_t closedPort = FreePort();
    for (const auto& [url, code] :
         {std::pair{Url(publisher::kUpdateListPath), 4}, std::pair{Url(publisher::kUpdateListPath, closedPort), 3}}) {
        SCOPED_TRACE(url);
        setenv("MESHDROP_UPDATE_LIST_URL", url.c_str(), 1);
        RunUpdate();
        EXPECT_EQ(m_listener.Seen(), Events{"finished 0 1 "});
        const std::string error = "[MeshdropLib] Session Error (URL: " + url + ")(Code: " + std::to_string(code) + ")";
        EXPECT_EQ(Log(),
                  (Lines{"[MeshdropLib] Initialize Downloader", "[MeshdropLib] Begin Update", error, error, error,
                         "[MeshdropLib] Run Binary (no executable file)", "[MeshdropLib] Finalize Downloader"}));
    }
}

TEST_F(EngineUpdateTest, AnUnreachableServerIsTriedOnceASecondUntilItAnswers)
{
    // The list comes from one port, the archive from another that cannot be
    // reached: the list's completed session stays in the pool meanwhile.
    Serve({.port = m_archivePort});
    W32SetHostUnreachableForTesting(m_archivePort);
    m_log = LibraryLog::Prepare();
    BeginUpdate();
    ASSERT_TRUE(m_listener.WaitFor("network lost"));
    const auto unreachable = [&] {
        size_t count = 0;
        for (const std::string& line : Log())
            count += line.find(")(Code: 7)") != std::string::npos ? 1 : 0;
        return count;
    };
    ASSERT_TRUE(m_worker.WaitUntil([&] { return unreachable() >= 3; }, kTimeout));
    W32SetHostUnreachableForTesting(0);
    ASSERT_TRUE(m_listener.WaitFor("finished"));
    EndUpdate();

    EXPECT_EQ(m_listener.Seen(), (Events{"network lost",
                                         "length " + ArchiveUrl("QLSDownloadV32.zip", m_archivePort) + " " +
                                             ArchiveSize("QLSDownloadV32.zip"),
                                         "finished 1 1 3.5.0.2"}));
    EXPECT_TRUE(testsupport::readFile(m_program) == BuiltEngine());
    // The hash file was the first address that failed; it came once the
    // server could be reached, and the archive was checked against it.
    const Lines log = Log();
    ASSERT_GE(log.size(), 6u);
    EXPECT_EQ(log[5], "[MeshdropLib] Session Error (URL: " + ArchiveUrl("QLSDownloadV32.zip.hash", m_archivePort) +
                          ")(Code: 7)");
    EXPECT_EQ(CountLog("[MeshdropLib] Download Completed (URL: " + ArchiveUrl("QLSDownloadV32.zip", m_archivePort) +
                       ")(Code: 0)"),
              1u);
}

TEST_F(EngineUpdateTest, AnArchiveCutShortIsFetchedAgain)
{
    // The archives come through a relay that cuts its first answer for the
    // archive half-way, after the length was announced.
    std::atomic<int> archiveAnswers{0};
    testsupport::ScriptedHttpServer relay([&](testsupport::HttpConnection& c, int) {
        const auto request = c.readRequest();
        if (!request)
            return;
        const std::string whole = testsupport::blockingHttpGet(m_listPort, request->target);
        const bool cut = request->target.ends_with(".zip") && archiveAnswers++ == 0;
        c.send(cut ? whole.substr(0, whole.size() / 2) : whole);
    });
    Serve({.port = relay.port()});
    RunUpdate();
    EXPECT_EQ(m_listener.Seen().back(), "finished 1 1 3.5.0.2");
    EXPECT_TRUE(testsupport::readFile(m_program) == BuiltEngine());
    EXPECT_EQ(
        CountLog("[MeshdropLib] Session Error (URL: " + ArchiveUrl("QLSDownloadV32.zip", relay.port()) + ")(Code: 6)"),
        1u);
}

} // namespace
