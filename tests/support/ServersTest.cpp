// The servers other tests stand on: checked once here with a plain blocking
// client, so that a broken server shows up as itself and not as a client fault.
#include <gtest/gtest.h>

#include "BlockingHttpGet.h"
#include "NginxServer.h"
#include "ScriptedHttpServer.h"
#include "TempDir.h"

using namespace testsupport;

TEST(NginxServer, ServesFilesRangesRedirectsAndMissingFiles)
{
    TempDir root;
    const std::string body = patternBytes(100000, 7);
    ASSERT_TRUE(writeFile(root.file("pkg/a.bin"), body));
    NginxServer nginx(root.path(), {"location = /old.bin { return 302 /pkg/a.bin; }"});
    ASSERT_TRUE(nginx.start()) << nginx.error();

    std::string whole = blockingHttpGet(nginx.port(), "/pkg/a.bin");
    ASSERT_NE(whole.find("\r\n\r\n"), std::string::npos);
    EXPECT_EQ(whole.rfind("HTTP/1.1 200", 0), 0u);
    EXPECT_EQ(responseBody(whole), body);

    std::string part = blockingHttpGet(nginx.port(), "/pkg/a.bin", "Range: bytes=99990-\r\n");
    EXPECT_EQ(part.rfind("HTTP/1.1 206", 0), 0u);
    EXPECT_EQ(responseBody(part), body.substr(99990));

    std::string moved = blockingHttpGet(nginx.port(), "/old.bin");
    EXPECT_EQ(moved.rfind("HTTP/1.1 302", 0), 0u);
    EXPECT_NE(moved.find("/pkg/a.bin"), std::string::npos);

    EXPECT_EQ(blockingHttpGet(nginx.port(), "/missing").rfind("HTTP/1.1 404", 0), 0u);
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
    std::string first = blockingHttpGet(server.port(), "/x", "Range: bytes=5-\r\n");
    EXPECT_EQ(first, "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nabcdef");
    EXPECT_EQ(blockingHttpGet(server.port(), "/y"), "");
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(server.requests()[0].target, "/x");
    EXPECT_EQ(parseRangeStart(server.requests()[0].header("range")), 5);
    EXPECT_EQ(server.connectionCount(), 2);
}

TEST(ScriptedHttpServer, ServeBodyAnswersRangesAndPastTheEnd)
{
    ScriptedHttpServer server(ScriptedHttpServer::serveBody("0123456789"));
    std::string r = blockingHttpGet(server.port(), "/f", "Range: bytes=4-\r\n");
    EXPECT_EQ(r.rfind("HTTP/1.1 206", 0), 0u);
    EXPECT_EQ(r.substr(r.find("\r\n\r\n") + 4), "456789");
    EXPECT_EQ(blockingHttpGet(server.port(), "/f", "Range: bytes=10-\r\n").rfind("HTTP/1.1 416", 0), 0u);
}
