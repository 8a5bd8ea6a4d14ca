// The servers other tests stand on: checked once here with a plain blocking
// client, so that a broken server shows up as itself and not as a client fault.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "NginxServer.h"
#include "ScriptedHttpServer.h"
#include "TempDir.h"

using namespace testsupport;

namespace {

// Sends one request and reads until the peer closes.
std::string fetch(uint16_t port, const std::string& request)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    std::string out;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        char buf[65536];
        ssize_t n;
        while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0)
            out.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return out;
}

std::string get(uint16_t port, const std::string& path, const std::string& extra = "")
{
    return fetch(port, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + extra + "\r\n");
}

}  // namespace

TEST(NginxServer, ServesFilesRangesRedirectsAndMissingFiles)
{
    TempDir root;
    const std::string body = patternBytes(100000, 7);
    ASSERT_TRUE(writeFile(root.file("pkg/a.bin"), body));
    NginxServer nginx(root.path(), {"location = /old.bin { return 302 /pkg/a.bin; }"});
    ASSERT_TRUE(nginx.start()) << nginx.error();

    std::string whole = get(nginx.port(), "/pkg/a.bin");
    ASSERT_NE(whole.find("\r\n\r\n"), std::string::npos);
    EXPECT_EQ(whole.rfind("HTTP/1.1 200", 0), 0u);
    EXPECT_EQ(whole.substr(whole.find("\r\n\r\n") + 4), body);

    std::string part = get(nginx.port(), "/pkg/a.bin", "Range: bytes=99990-\r\n");
    EXPECT_EQ(part.rfind("HTTP/1.1 206", 0), 0u);
    EXPECT_EQ(part.substr(part.find("\r\n\r\n") + 4), body.substr(99990));

    std::string moved = get(nginx.port(), "/old.bin");
    EXPECT_EQ(moved.rfind("HTTP/1.1 302", 0), 0u);
    EXPECT_NE(moved.find("/pkg/a.bin"), std::string::npos);

    EXPECT_EQ(get(nginx.port(), "/missing").rfind("HTTP/1.1 404", 0), 0u);
}

TEST(ScriptedHttpServer, RunsTheTestsHandlerPerConnectionAndRecordsRequests)
{
    ScriptedHttpServer server([](HttpConnection& c, int index) {
        auto r = c.readRequest();
        if (!r)
            return;
        if (index == 0) {
            // Head split in two writes, then the body in pieces.
            c.send("HTTP/1.1 200 OK\r\nContent-Le");
            c.send("ngth: 6\r\n\r\n");
            c.send("abc");
            c.send("def");
        } else {
            c.close(true);
        }
    });
    std::string first = get(server.port(), "/x", "Range: bytes=5-\r\n");
    EXPECT_EQ(first, "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nabcdef");
    EXPECT_EQ(get(server.port(), "/y"), "");
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(server.requests()[0].target, "/x");
    EXPECT_EQ(parseRangeStart(server.requests()[0].header("range")), 5);
    EXPECT_EQ(server.connectionCount(), 2);
}

TEST(ScriptedHttpServer, ServeBodyAnswersRangesAndPastTheEnd)
{
    ScriptedHttpServer server(ScriptedHttpServer::serveBody("0123456789"));
    std::string r = get(server.port(), "/f", "Range: bytes=4-\r\n");
    EXPECT_EQ(r.rfind("HTTP/1.1 206", 0), 0u);
    EXPECT_EQ(r.substr(r.find("\r\n\r\n") + 4), "456789");
    EXPECT_EQ(get(server.port(), "/f", "Range: bytes=10-\r\n").rfind("HTTP/1.1 416", 0), 0u);
}
