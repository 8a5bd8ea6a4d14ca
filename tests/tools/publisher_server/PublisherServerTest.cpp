// The publisher server as the demo and the end-to-end tests use it: started as
// a program, it announces its ports and serves the package it generated.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "BlockingHttpGet.h"
#include "EngineUpdate.h"
#include "HttpFileServer.h"
#include "SamplePackage.h"
#include "TempDir.h"

using namespace publisher;

namespace {

// Runs the program with ephemeral ports and reads its ready line.
class PublisherProcess {
public:
    explicit PublisherProcess(const std::string& root, const std::string& options = "")
    {
        std::string cmd = std::string(PUBLISHER_SERVER_PROGRAM) + " --port 0 --mirror-port 0 --sizes 300K,1K --root " +
                          root + " " + options + " & echo $!";
        out_ = popen(cmd.c_str(), "r");
        char line[512];
        if (out_ && fgets(line, sizeof line, out_))
            pid_ = atoi(line);
        if (out_ && fgets(line, sizeof line, out_))
            sscanf(line, "publisher_server ready port=%hu mirror_port=%hu", &port, &mirrorPort);
    }
    ~PublisherProcess()
    {
        if (pid_ > 0)
            kill(pid_, SIGTERM);
        if (out_)
            pclose(out_);
    }
    uint16_t port = 0, mirrorPort = 0;

private:
    FILE* out_ = nullptr;
    int pid_ = -1;
};

} // namespace

TEST(PublisherServer, ServesTheGeneratedPackageOnBothPorts)
{
    testsupport::TempDir root;
    PublisherProcess server(root.path());
    ASSERT_NE(server.port, 0);
    ASSERT_NE(server.mirrorPort, 0);

    const std::string list = testsupport::responseBody(testsupport::blockingHttpGet(server.port, kFileListPath));
    const std::string main = "http://127.0.0.1:" + std::to_string(server.port);
    const std::string mirror = "http://127.0.0.1:" + std::to_string(server.mirrorPort);
    const std::string pkg = std::string(kPackageFolder) + "package/";
    EXPECT_EQ(list, mirror + pkg + "veilrune_01.pak|" + main + pkg + "veilrune_01.pak\r\n" + main + pkg +
                        "veilrune_02.pak\r\n" + main + pkg + "setup.exe\r\n");

    std::string expected(300 * 1024, '\0');
    fillPackageBytes(0, 0, expected.data(), expected.size());
    EXPECT_EQ(testsupport::responseBody(testsupport::blockingHttpGet(server.mirrorPort, pkg + "veilrune_01.pak")),
              expected);
    std::string tail = testsupport::blockingHttpGet(server.port, pkg + "veilrune_01.pak", "Range: bytes=1000-\r\n");
    EXPECT_EQ(tail.rfind("HTTP/1.1 206", 0), 0u);
    EXPECT_EQ(testsupport::responseBody(tail), expected.substr(1000));
    EXPECT_EQ(testsupport::blockingHttpGet(server.port, pkg + "veilrune_01.pak", "Range: bytes=307200-\r\n")
                  .rfind("HTTP/1.1 416", 0),
              0u);
    EXPECT_EQ(testsupport::blockingHttpGet(server.port, pkg + "nothing.pak").rfind("HTTP/1.1 404", 0), 0u);

    const std::string banner = testsupport::responseBody(testsupport::blockingHttpGet(server.port, kBannerPath));
    EXPECT_EQ(banner.substr(0, 6), "GIF89a");
    EXPECT_EQ(banner.back(), '\x3B');

    // The installer arrives as a download would: a script without the execute bit.
    const std::string setup = testsupport::responseBody(testsupport::blockingHttpGet(server.port, pkg + "setup.exe"));
    EXPECT_EQ(setup.rfind("#!/bin/sh\n", 0), 0u);
    struct stat st {};
    ASSERT_EQ(stat((root.path() + pkg + "setup.exe").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & S_IXUSR, 0u);
}

TEST(PublisherServer, ListensOnTheAddressItIsGivenAndNamesItInItsLists)
{
    testsupport::TempDir root;
    PublisherProcess server(root.path(), "--address ::1");
    if (server.port == 0)
        GTEST_SKIP() << "the publisher server cannot listen on ::1 (no IPv6 loopback on this machine)";
    const std::string main = "http://[::1]:" + std::to_string(server.port);
    const std::string list = testsupport::responseBody(testsupport::blockingHttpGet("::1", server.port, kFileListPath));
    EXPECT_NE(list.find(main + kPackageFolder + "package/veilrune_02.pak\r\n"), std::string::npos) << list;
    const std::string update =
        testsupport::responseBody(testsupport::blockingHttpGet("::1", server.port, kUpdateListPath));
    EXPECT_NE(update.find("url=\"" + main + kUpdateFolder), std::string::npos) << update;
}

TEST(PublisherServer, OffersTheEngineUpdateAsItsOptionsSay)
{
    testsupport::TempDir root;
    {
        PublisherProcess server(root.path(), "--update-version 3.6.0.0 --update-files 2 --update-archive 7z");
        ASSERT_NE(server.port, 0);
        const std::string base = "http://127.0.0.1:" + std::to_string(server.port) + kUpdateFolder;
        const std::string list = testsupport::responseBody(testsupport::blockingHttpGet(server.port, kUpdateListPath));
        EXPECT_NE(list.find("<QLSDownloadV32.exe ver=\"3.6.0.0\" url=\"" + base + "QLSDownloadV32.7z\" hash=\"" + base +
                            "QLSDownloadV32.7z.hash\"/>"),
                  std::string::npos)
            << list;
        EXPECT_NE(list.find("<QLSDownloadV32.txt ver=\"3.6.0.0\""), std::string::npos) << list;
        EXPECT_NE(list.find("<all url=\"" + base + "qlsdownload_all.7z\""), std::string::npos) << list;
        const std::string archive = testsupport::responseBody(
            testsupport::blockingHttpGet(server.port, std::string(kUpdateFolder) + "QLSDownloadV32.7z"));
        EXPECT_EQ(archive.substr(0, 2), "7z");
    }
    PublisherProcess server(root.path(), "--update-fault no-list");
    ASSERT_NE(server.port, 0);
    EXPECT_EQ(testsupport::blockingHttpGet(server.port, kUpdateListPath).rfind("HTTP/1.1 404", 0), 0u);
}

TEST(PublisherServer, InstallerRecordsThatItRan)
{
    testsupport::TempDir root;
    PackageOptions o{root.path(), "127.0.0.1", 1, 2, {10}};
    Package p;
    std::string error;
    ASSERT_TRUE(generatePackage(o, p, error)) << error;
    const std::string setup = p.files.back().localPath;
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    if (child == 0) {
        close(ready[0]);
        setenv("MESHDROP_READY_FD", std::to_string(ready[1]).c_str(), 1);
        setenv("MESHDROP_SETUP_MARKER", root.file("ran").c_str(), 1);
        execl("/bin/sh", "sh", setup.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(ready[1]);
    char c;
    EXPECT_EQ(read(ready[0], &c, 1), 0);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(testsupport::readFile(root.file("ran")).find("setup ran"), std::string::npos);
    close(ready[0]);
}

TEST(PublisherServer, RefusesPathsOutsideItsFolderAndParsesSizes)
{
    std::string path;
    EXPECT_TRUE(decodeTargetPath("/a%20b/c.txt?x=1", path));
    EXPECT_EQ(path, "/a b/c.txt");
    EXPECT_FALSE(decodeTargetPath("/download/../../etc/passwd", path));
    EXPECT_FALSE(decodeTargetPath("/%2e%2e/etc/passwd", path));
    EXPECT_FALSE(decodeTargetPath("/a%00b", path));
    EXPECT_FALSE(decodeTargetPath(std::string("/..\0/etc", 9), path)) << "a raw NUL would cut the name after the check";
    EXPECT_FALSE(decodeTargetPath("relative", path));
    uint64_t v = 0;
    EXPECT_TRUE(parseSize("8M", v));
    EXPECT_EQ(v, 8u << 20);
    EXPECT_TRUE(parseSize("123", v));
    EXPECT_EQ(v, 123u);
    EXPECT_FALSE(parseSize("12Q", v));
    EXPECT_FALSE(parseSize("99999999999999999999", v));
    EXPECT_FALSE(parseSize("", v));
}

namespace {

// A client that connects and then says nothing.
int IdleClient(uint16_t port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    return fd;
}

} // namespace

// Sends a request without reading the answer.
int RequestingClient(uint16_t port, const std::string& target)
{
    const int fd = IdleClient(port);
    const std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    EXPECT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
    return fd;
}

bool Answered(int fd, int timeoutMs)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0;
}

TEST(PublisherServer, ConnectionThreadsAreBoundedAndSilentClientsDropped)
{
    testsupport::TempDir root;
    testsupport::writeFile(root.file("x.txt"), "hello");
    {
        // Two silent clients hold both threads: a third waits for a free one.
        ServerOptions options{root.path()};
        options.maxConnections = 2;
        HttpFileServer server(options);
        const uint16_t port = server.listenOn(0);
        ASSERT_NE(port, 0);
        const int first = IdleClient(port), second = IdleClient(port);
        const int third = RequestingClient(port, "/x.txt");
        EXPECT_FALSE(Answered(third, 300));
        ::close(first);
        EXPECT_TRUE(Answered(third, 20000));
        ::close(second);
        ::close(third);
    }
    // A client that never sends its request is closed after the time-out.
    ServerOptions options{root.path()};
    options.receiveTimeoutSeconds = 1;
    HttpFileServer server(options);
    const uint16_t port = server.listenOn(0);
    const int silent = IdleClient(port);
    ASSERT_TRUE(Answered(silent, 20000));
    char c;
    EXPECT_EQ(::recv(silent, &c, 1, 0), 0) << "closed by the server";
    ::close(silent);
}
