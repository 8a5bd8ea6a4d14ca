// qlsdownloader-cli as scripts and players run it: a separate process against
// the publisher server on loopback, its output read through a pipe and
// through a pseudo-terminal, its exit codes from scripted failures.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>

#include "CliProcess.h"
#include "HttpFileServer.h"
#include "SamplePackage.h"
#include "ScriptedHttpServer.h"
#include "TempDir.h"

namespace {

using namespace std::chrono_literals;
using clitest::CliEnd;
using clitest::CliProcess;
using testsupport::HttpConnection;
using testsupport::ScriptedHttpServer;
using testsupport::TempDir;

constexpr auto kRunLimit = 60s;

// The sample package served on two loopback ports, paced per connection.
class Publisher {
public:
    Publisher(std::vector<uint64_t> sizes, uint64_t rate) : m_server({m_root.path(), rate, false})
    {
        publisher::PackageOptions options;
        options.root = m_root.path();
        options.port = m_server.listenOn(0);
        options.mirrorPort = m_server.listenOn(0);
        options.sizes = std::move(sizes);
        std::string error;
        m_ready = options.port != 0 && options.mirrorPort != 0 && generatePackage(options, m_package, error);
        m_port = options.port;
    }

    bool Ready() const { return m_ready; }
    std::string FileListUrl() const { return "http://127.0.0.1:" + std::to_string(m_port) + publisher::kFileListPath; }
    const std::vector<publisher::PackageFile>& Files() const { return m_package.files; }

private:
    TempDir m_root{"qls-cli-publisher"};
    publisher::HttpFileServer m_server;
    publisher::Package m_package;
    uint16_t m_port = 0;
    bool m_ready = false;
};

class CliTest : public ::testing::Test {
protected:
    // The C: drive, registry and runtime folder of the run, all temporary.
    std::map<std::string, std::string> Environment() const
    {
        return {{"MESHDROP_DRIVE_C", m_home.file("drive_c")},
                {"MESHDROP_REGISTRY", m_home.file("registry.reg")},
                {"MESHDROP_RUNTIME_DIR", m_home.file("run")}};
    }

    std::unique_ptr<CliProcess> Start(std::vector<std::string> args, CliProcess::Output output,
                                      std::vector<std::string> prefix = {})
    {
        prefix.push_back(QLS_CLI_PROGRAM);
        prefix.insert(prefix.end(), args.begin(), args.end());
        return std::make_unique<CliProcess>(prefix, output, Environment());
    }

    static std::string BaseName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

    // The download library's service log of the run.
    std::string ServiceLog() const
    {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(m_home.path())) {
            if (entry.path().filename() == "service.log")
                return testsupport::readFile(entry.path().string());
        }
        return std::string();
    }

    TempDir m_home{"qls-cli-home"};
};

TEST_F(CliTest, WholePackageArrivesByteExactInTheUsualFolderWithPlainLinesAndItsInstallerRuns)
{
    Publisher server({700 * 1024, 300 * 1024}, 400 * 1024);
    ASSERT_TRUE(server.Ready());
    auto cli = Start({"--url", server.FileListUrl(), "--consent", "--install"}, CliProcess::Output::Pipes);
    const CliEnd end = cli->Wait(kRunLimit);
    ASSERT_TRUE(end.ended);
    EXPECT_EQ(end.exitCode, 0) << cli->Out() << cli->Err();

    // Without --folder the files go where the window puts them by default.
    const std::string folder = m_home.file("drive_c/quorvik/veilrune/");
    for (const auto& file : server.Files()) {
        const std::string local = folder + BaseName(file.localPath);
        EXPECT_EQ(testsupport::readFile(local), testsupport::readFile(file.localPath)) << local;
        EXPECT_NE(cli->Out().find("Complete: " + local + "\n"), std::string::npos) << cli->Out();
    }
    EXPECT_TRUE(std::filesystem::exists(folder + "setup.ran")) << "the installer ran from the download folder";

    // A pipe gets plain lines: progress once a second, nothing redrawn.
    EXPECT_TRUE(std::regex_search(cli->Out(), std::regex(R"(\n\[[1-3]/3\] \S+ +\d+% \d+/1024\d+ bytes .+/s ETA )")))
        << cli->Out();
    EXPECT_TRUE(std::regex_search(cli->Out(), std::regex(R"(\n\[3/3\] 100% (\d+)/\1 bytes .*\nDownloaded 3 files)")))
        << "the last report stands at the end of the last file\n"
        << cli->Out();
    EXPECT_EQ(cli->Out().find('\r'), std::string::npos);
    EXPECT_EQ(cli->Out().find('\x1b'), std::string::npos);
    EXPECT_NE(cli->Out().find("Downloaded 3 files"), std::string::npos) << cli->Out();
    EXPECT_TRUE(cli->Err().empty()) << cli->Err();
}

TEST_F(CliTest, ATerminalGetsABarAndCtrlCStopsTheJobWithinASecond)
{
    Publisher server({4 * 1024 * 1024}, 512 * 1024);
    ASSERT_TRUE(server.Ready());
    const std::string folder = m_home.file("games");
    auto cli = Start({"--folder", folder, "--consent", server.FileListUrl()}, CliProcess::Output::Terminal);
    ASSERT_TRUE(cli->WaitForOutput("ETA", 30s)) << cli->Out();
    // A second drawing of the bar: the job is well under way.
    const size_t firstBar = cli->Out().find("ETA");
    ASSERT_TRUE(cli->WaitForOutput("\r", 10s, firstBar)) << cli->Out();

    cli->Type("\x03");
    const auto typed = std::chrono::steady_clock::now();
    const CliEnd end = cli->Wait(kRunLimit);
    const auto took = std::chrono::steady_clock::now() - typed;
    ASSERT_TRUE(end.ended);
    EXPECT_EQ(end.exitCode, 130) << cli->Out();
    EXPECT_LT(took, 1s);

    const std::string& screen = cli->Out();
    EXPECT_TRUE(std::regex_search(
        screen,
        std::regex(
            R"(\r\[1/2\] veilrune_01\.pak +\d+% \[=*>? *\] [0-9.]+ [KM]iB/4\.00 MiB  [0-9.]+ [KM]iB/s  ETA \d+:\d\d:\d\d\x1b\[K)")))
        << screen;
    EXPECT_NE(screen.find("interrupted: the download was stopped; 0 of 2 files complete"), std::string::npos) << screen;
    EXPECT_EQ(screen.find("Complete:"), std::string::npos) << screen;
    EXPECT_EQ(screen.find("Downloaded"), std::string::npos) << screen;
    std::error_code ec;
    EXPECT_LT(std::filesystem::file_size(folder + "/veilrune_01.pak", ec), 4u * 1024 * 1024);
    // The job was stopped and the library finalised, not cut off.
    const std::string log = ServiceLog();
    EXPECT_NE(log.find("[MeshdropLib] Finalize End"), std::string::npos) << log;
    EXPECT_EQ(log.find("Force TerminateThread"), std::string::npos) << log;
}

TEST_F(CliTest, CheckPrintsTheTotalAndDownloadsNothing)
{
    Publisher server({1000, 2000}, 0);
    ASSERT_TRUE(server.Ready());
    auto cli = Start({"--check", "-u", server.FileListUrl()}, CliProcess::Output::Pipes);
    const CliEnd end = cli->Wait(kRunLimit);
    ASSERT_TRUE(end.ended);
    EXPECT_EQ(end.exitCode, 0) << cli->Err();
    const uint64_t total = 1000 + 2000 + server.Files().back().size;
    EXPECT_NE(cli->Out().find("  veilrune_02.pak\n  setup.exe\nTotal: "), std::string::npos) << cli->Out();
    EXPECT_NE(cli->Out().find("(" + std::to_string(total) + " bytes) in 3 files"), std::string::npos) << cli->Out();
    EXPECT_FALSE(std::filesystem::exists(m_home.file("drive_c/quorvik")));
}

TEST_F(CliTest, CommandLineMistakesExitWithTwoAndHelpAndVersionWithZero)
{
    auto bad = Start({"--frobnicate"}, CliProcess::Output::Pipes);
    EXPECT_EQ(bad->Wait(kRunLimit).exitCode, 2);
    EXPECT_NE(bad->Err().find("unknown option --frobnicate"), std::string::npos) << bad->Err();

    auto help = Start({"--help"}, CliProcess::Output::Pipes);
    EXPECT_EQ(help->Wait(kRunLimit).exitCode, 0);
    EXPECT_NE(help->Out().find("Exit status:"), std::string::npos);
    // Where the logs are, in the run's roaming folder.
    EXPECT_TRUE(std::regex_search(help->Out(), std::regex("\n  service log: " + m_home.path() +
                                                          "/drive_c/.+/Orvane/qlsDownloadV32/config/service\\.log\n"
                                                          "  engine log:  " +
                                                          m_home.path() +
                                                          "/drive_c/.+/Orvane/qlsDownloadV32/QLSDownloadV32\\.log\n")))
        << help->Out();
    EXPECT_NE(bad->Err().find("  service log: "), std::string::npos) << "a failed run names the logs";

    auto version = Start({"--version"}, CliProcess::Output::Pipes);
    EXPECT_EQ(version->Wait(kRunLimit).exitCode, 0);
    EXPECT_EQ(version->Out(), std::string("qlsdownloader-cli ") + QLS_VERSION + "\n");
}

// The logs the player attaches to a support request, packed with the
// versions and the platform into an archive whose kind its name tells.
TEST_F(CliTest, CollectLogsPacksBothLogsWithTheVersions)
{
    auto help = Start({"--help"}, CliProcess::Output::Pipes);
    ASSERT_EQ(help->Wait(kRunLimit).exitCode, 0);
    std::smatch paths;
    const std::string helpText = help->Out();
    ASSERT_TRUE(std::regex_search(helpText, paths, std::regex("service log: (.+)\n  engine log:  (.+)\n")));
    const std::string serviceLog = paths[1];
    const std::string engineLog = paths[2];
    ASSERT_TRUE(testsupport::writeFile(serviceLog, "[Mon Jun  2 12:00:00 2025] [MeshdropLib] Initialize\r\n"));
    ASSERT_TRUE(testsupport::writeFile(engineLog, "[Mon Jun  2 12:00:01 2025] listening\n"));

    for (const std::string name : {"logs.tar.gz", "logs.zip", "logs.bin"}) {
        SCOPED_TRACE(name);
        const std::string archive = m_home.file(name);
        auto cli = Start({"--collect-logs", archive}, CliProcess::Output::Pipes);
        ASSERT_EQ(cli->Wait(kRunLimit).exitCode, 0) << cli->Err();
        const std::string unpacked = m_home.file("unpacked-" + name);
        std::filesystem::create_directories(unpacked);
        ASSERT_EQ(std::system(("bsdtar -xf '" + archive + "' -C '" + unpacked + "'").c_str()), 0);
        const std::string folder = unpacked + "/qlsdownloader-logs/";
        EXPECT_EQ(testsupport::readFile(folder + "service.log"), testsupport::readFile(serviceLog));
        EXPECT_EQ(testsupport::readFile(folder + "QLSDownloadV32.log"), testsupport::readFile(engineLog));
        const std::string versions = testsupport::readFile(folder + "versions.txt");
        EXPECT_NE(versions.find(std::string("qlsdownloader-cli ") + QLS_VERSION + "\n"), std::string::npos) << versions;
        EXPECT_NE(versions.find("engine: not installed"), std::string::npos) << versions;
        EXPECT_NE(versions.find("\nsystem: "), std::string::npos) << versions;
        EXPECT_NE(versions.find("\nkernel: Linux "), std::string::npos) << versions;
    }
    auto nowhere = Start({"--collect-logs", m_home.file("no/such/folder/logs.zip")}, CliProcess::Output::Pipes);
    EXPECT_EQ(nowhere->Wait(kRunLimit).exitCode, 1);
    EXPECT_NE(nowhere->Err().find("cannot write"), std::string::npos) << nowhere->Err();
}

// ---- One exit code per way a run fails -------------------------------------

struct FailureCase {
    const char* name;
    int exitCode;
    const char* error;
};

class CliFailureTest : public CliTest,
                       public ::testing::WithParamInterface<FailureCase> {};

// A file list of one file, "/package.bin" on the same server, which the
// handler answers as the case wants. The client's Host header names no port,
// so the list takes it from the server.
ScriptedHttpServer::Handler ListThen(std::shared_ptr<std::string> base,
                                     std::function<void(HttpConnection&, const testsupport::HttpRequest&)> file)
{
    return [base, file](HttpConnection& connection, int) {
        while (auto request = connection.readRequest()) {
            if (request->target != "/filelist.txt") {
                file(connection, *request);
                return;
            }
            connection.respond(200, "OK", *base + "/package.bin\r\n");
        }
    };
}

TEST_P(CliFailureTest, EndsWithItsOwnExitCode)
{
    const FailureCase& failure = GetParam();
    std::vector<std::string> args;
    std::vector<std::string> prefix;
    std::unique_ptr<ScriptedHttpServer> scripted;
    std::unique_ptr<Publisher> server;
    const std::string name = failure.name;
    auto base = std::make_shared<std::string>();
    if (name == "FileList") {
        // The server has no list.
        scripted = std::make_unique<ScriptedHttpServer>(
            [](HttpConnection& connection, int) { connection.respond(404, "Not Found", "no list here"); });
        args = {"--url", scripted->url("/filelist.txt")};
    } else if (name == "SizeCheck") {
        scripted = std::make_unique<ScriptedHttpServer>(
            ListThen(base, [](HttpConnection& connection, auto&) { connection.respond(404, "Not Found", "gone"); }));
        *base = scripted->url("");
        args = {"--url", scripted->url("/filelist.txt")};
    } else if (name == "Download") {
        // The size probe learns the length; every download attempt is cut.
        scripted = std::make_unique<ScriptedHttpServer>(ListThen(base, [](HttpConnection& connection, auto& request) {
            if (request.hasHeader("Range"))
                connection.close(true);
            else
                connection.respond(200, "OK", std::string(5000, 'x'));
        }));
        *base = scripted->url("");
        args = {"--url", scripted->url("/filelist.txt"), "--folder", m_home.file("games")};
    } else if (name == "Installer") {
        // The size check hears of 5000 bytes, the download brings 4000: the
        // file on disk is not the one announced, and it is not run.
        auto answers = std::make_shared<std::atomic<int>>(0);
        scripted = std::make_unique<ScriptedHttpServer>(ListThen(base, [answers](HttpConnection& connection, auto&) {
            connection.respond(200, "OK", std::string((*answers)++ == 0 ? 5000 : 4000, 'x'));
        }));
        *base = scripted->url("");
        args = {"--url", scripted->url("/filelist.txt"), "--folder", m_home.file("games"), "--install"};
    } else if (name == "DiskFull") {
        // The folder lies on a file system of 256 KiB, mounted for this run
        // only.
        if (std::system("unshare -rm true >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "no mount namespace for the small file system";
        server = std::make_unique<Publisher>(std::vector<uint64_t>{1024 * 1024}, 0);
        ASSERT_TRUE(server->Ready());
        const std::string folder = m_home.file("small");
        std::filesystem::create_directories(folder);
        prefix = {"unshare", "-rm", "sh", "-c", "mount -t tmpfs -o size=256k tmpfs \"$0\" && exec \"$@\"", folder};
        args = {"--url", server->FileListUrl(), "--folder", folder, "--consent"};
    }
    auto cli = Start(args, CliProcess::Output::Pipes, prefix);
    const CliEnd end = cli->Wait(kRunLimit);
    ASSERT_TRUE(end.ended);
    EXPECT_EQ(end.exitCode, failure.exitCode) << cli->Out() << cli->Err();
    EXPECT_NE(cli->Err().find(failure.error), std::string::npos) << cli->Err();
    // Only the installer's case completes its file, and then runs nothing.
    EXPECT_EQ(cli->Out().find("Complete:") != std::string::npos, name == "Installer") << cli->Out();
    EXPECT_EQ(cli->Out().find("Started the installer"), std::string::npos) << cli->Out();
    EXPECT_NE(cli->Err().find("  engine log:  "), std::string::npos) << cli->Err();
}

INSTANTIATE_TEST_SUITE_P(Failures, CliFailureTest,
                         ::testing::Values(FailureCase{"FileList", 3, "cannot fetch the file list from http://"},
                                           FailureCase{"SizeCheck", 4, "cannot check the sizes of the files"},
                                           FailureCase{"Download", 5, "the download failed: http://"},
                                           FailureCase{"Installer", 7,
                                                       "is not the file that was downloaded (5000 bytes)"},
                                           FailureCase{"DiskFull", 6, "not enough disk space in "}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
