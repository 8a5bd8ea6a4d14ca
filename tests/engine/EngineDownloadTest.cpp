// The engine program against real servers, driven through the client layer
// from another process as the library drives it: whole jobs byte-exact,
// mirrors, failures, stalls, and the reports that go with them.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <thread>

#include "EngineTestSupport.h"
#include "NginxServer.h"

using enginetest::EngineProcess;
using enginetest::RangeServer;
using enginetest::SubmitJob;
using enginetest::TestFile;
using enginetest::WaitFor;
using testsupport::patternBytes;
using testsupport::readFile;
using testsupport::TempDir;

namespace {

class EngineDownloadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(worker.IsStarted());
        ASSERT_TRUE(engine.Start()) << engine.Log();
        ASSERT_TRUE(connection.Open(engine.Port()));
        ASSERT_TRUE(WaitFor(connection, "connected"));
    }

    // The files of the download folder C:\dl\, by name.
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(drive.path() + "/dl", ignored)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string Downloaded(const std::string& name) const { return readFile(drive.path() + "/dl/" + name); }

    std::vector<std::string> Kinds()
    {
        std::vector<std::string> kinds;
        connection.Read([&](const CDNRecordingListener& l) {
            for (const CDNEvent& e : l.events) {
                if (e.kind != "progress") {
                    kinds.push_back(e.kind);
                }
            }
        });
        return kinds;
    }

    CDNEvent Last(const std::string& kind)
    {
        CDNEvent event;
        connection.Read([&](const CDNRecordingListener& l) { event = l.Last(kind); });
        return event;
    }

    TempDir drive{"meshdrop-engine-drive"};
    TempDir served{"meshdrop-engine-served"};
    NpnWorker worker;
    EngineProcess engine{drive.path()};
    CDNTestConnection connection{worker};
};

} // namespace

TEST_F(EngineDownloadTest, MultiFileJobArrivesByteExactAndIsReportedInOrder)
{
    const std::string big = patternBytes(24 * 1024 * 1024 + 123, 1);
    const std::string small = patternBytes(65536, 2);
    const std::string tiny = "x";
    ASSERT_TRUE(testsupport::writeFile(served.file("big.bin"), big));
    ASSERT_TRUE(testsupport::writeFile(served.file("small.bin"), small));
    ASSERT_TRUE(testsupport::writeFile(served.file("tiny.bin"), tiny));
    ASSERT_TRUE(testsupport::writeFile(served.file("empty.bin"), ""));
    testsupport::NginxServer nginx(served.path());
    ASSERT_TRUE(nginx.start()) << nginx.error();

    SubmitJob(connection, 7,
              {{"C:\\dl\\", "big.bin", nginx.url("/big.bin")},
               {"C:\\dl", "", nginx.url("/small.bin")},
               {"C:\\dl\\", "tiny.bin", nginx.url("/tiny.bin"), 1},
               {"C:\\dl\\", "empty.bin", nginx.url("/empty.bin")}},
              true);
    ASSERT_TRUE(WaitFor(connection, "ended")) << engine.Log();
    EXPECT_EQ(Last("ended").ended.result, CDN_RESULT_OK) << engine.Log();
    EXPECT_EQ(Last("ended").ended.filesCompleted, 4u);
    EXPECT_TRUE(Downloaded("big.bin") == big);
    EXPECT_TRUE(Downloaded("small.bin") == small);
    EXPECT_EQ(Downloaded("tiny.bin"), tiny);
    EXPECT_EQ(Names(), (std::vector<std::string>{"big.bin", "empty.bin", "small.bin", "tiny.bin"}));
    const std::vector<std::string> kinds = Kinds();
    ASSERT_GE(kinds.size(), 7u);
    EXPECT_EQ(kinds[0], "connected");
    EXPECT_EQ(kinds[1], "accepted");
    EXPECT_EQ(kinds.back(), "ended");
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "done"), 4);
    connection.Read([&](const CDNRecordingListener& l) {
        const CDNEvent accepted = l.Last("accepted");
        EXPECT_EQ(accepted.accepted.fileCount, 4u);
        EXPECT_EQ(accepted.accepted.totalSize, 1u); // only the tiny file's size was given
        for (const CDNEvent& e : l.events) {
            EXPECT_EQ(e.jobNumber, e.kind == "connected" ? 0u : 7u);
            if (e.kind == "done" && e.fileIndex == 1) {
                // The name the engine took from the address, in the job's folder.
                EXPECT_EQ(e.localPath, "C:\\dl\\small.bin");
                EXPECT_EQ(e.url, nginx.url("/small.bin"));
            }
        }
    });
}
