// The HTTP client layer against a real nginx serving files: keep-alive
// answers, ranges, redirects made with "return", and missing files.

#include <memory>
#include <string>

#include "HttpLayerFixture.h"
#include "NginxServer.h"
#include "TempDir.h"

using testsupport::NginxServer;
using Events = std::vector<std::string>;

namespace {

class NginxLayerTest : public HttpLayerTest {
protected:
    static void SetUpTestSuite()
    {
        root = std::make_unique<testsupport::TempDir>("meshdrop-http-nginx");
        file = testsupport::patternBytes(300 * 1024 + 7, 11);
        testsupport::writeFile(root->file("pkg/file.bin"), file);
        nginx = std::make_unique<NginxServer>(
            root->path(), std::vector<std::string>{"location = /old.bin { return 302 /pkg/file.bin; }",
                                                   "location = /spaced { return 302 http://h/a%20b; }"});
        started = nginx->start();
    }

    static void TearDownTestSuite()
    {
        nginx.reset();
        root.reset();
    }

    void SetUp() override
    {
        HttpLayerTest::SetUp();
        ASSERT_TRUE(started) << nginx->error();
    }

    static inline std::unique_ptr<testsupport::TempDir> root;
    static inline std::unique_ptr<NginxServer> nginx;
    static inline std::string file;
    static inline bool started = false;
};

} // namespace

TEST_F(NginxLayerTest, WholeFileArrivesAndCompletesWhileTheConnectionStaysOpen)
{
    StartGet(nginx->url("/pkg/file.bin"));
    ASSERT_TRUE(WaitFor("complete"));
    EXPECT_EQ(Seen(), (Events{"connected", "header", "data", "complete"}));
    EXPECT_EQ(StatusCode(), 200);
    EXPECT_EQ(ContentLength(), static_cast<std::int64_t>(file.size()));
    worker.Run([&] { EXPECT_TRUE(listener.body == file); });
    EXPECT_NE(State(), QOS_STATE_CLOSED); // keep-alive
}

TEST_F(NginxLayerTest, RangeGivesThePartialContentFromTheOffset)
{
    listener.maxTake = 4096;
    StartGet(nginx->url("/pkg/file.bin"), {{"Range", "bytes=1000-"}});
    ASSERT_TRUE(WaitFor("complete"));
    EXPECT_EQ(StatusCode(), 206);
    EXPECT_EQ(ContentLength(), static_cast<std::int64_t>(file.size() - 1000));
    worker.Run([&] {
        EXPECT_TRUE(listener.body == file.substr(1000));
        EXPECT_EQ(listener.Count("complete"), 1);
    });
}

TEST_F(NginxLayerTest, RedirectsCarryTheirDecodedLocation)
{
    StartGet(nginx->url("/old.bin"));
    ASSERT_TRUE(WaitFor("header"));
    EXPECT_EQ(StatusCode(), 302);
    const std::string location = ResponseHeader("Location:");
    EXPECT_EQ(location.substr(location.size() - 13), "/pkg/file.bin") << location;
    worker.Run([&] {
        layer->SetListener(nullptr, 0);
        ctx.Get<ovIQoSContext>()->Close();
        listener = RecordingHttpListener();
    });

    StartGet(nginx->url("/spaced"));
    ASSERT_TRUE(WaitFor("header"));
    EXPECT_EQ(StatusCode(), 302);
    EXPECT_EQ(ResponseHeader("location:"), "http://h/a b");
}

TEST_F(NginxLayerTest, MissingFileIsA404WithItsOwnBody)
{
    StartGet(nginx->url("/pkg/none.bin"));
    ASSERT_TRUE(WaitFor("complete"));
    EXPECT_EQ(StatusCode(), 404);
    const std::int64_t length = ContentLength();
    EXPECT_GT(length, 0);
    worker.Run([&] {
        EXPECT_EQ(static_cast<std::int64_t>(listener.body.size()), length);
        EXPECT_NE(listener.body.find("404"), std::string::npos);
    });
}
