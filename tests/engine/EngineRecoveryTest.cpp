// The engine program when things go wrong on the player's machine: killed
// mid-file, stopped by a signal, or out of disk space. What it leaves on disk
// must let the next run continue without fetching much twice, and a file is
// reported only once it is whole under its name.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "EngineTestSupport.h"
#include "StateFile.h"

using enginetest::EngineProcess;
using enginetest::PollUntil;
using enginetest::RangeServer;
using enginetest::SubmitJob;
using enginetest::TestFile;
using enginetest::WaitFor;
using testsupport::patternBytes;
using testsupport::readFile;
using testsupport::TempDir;

namespace {

class EngineRecoveryTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(worker.IsStarted()); }

    std::string InFolder(const std::string& name) const { return drive.path() + "/dl/" + name; }

    // Bytes the state file of `name` says are on disk; -1 without a whole state.
    std::int64_t SavedBytes(const std::string& name) const
    {
        const std::optional<engine::SavedState> state = engine::ParseState(readFile(InFolder(name + ".mdstate")));
        return state ? state->done.Total() : -1;
    }

    // Connects to the engine, submits the files, answers the resume question
    // with `resume` (for all files), and waits for the end.
    void RunAgain(EngineProcess& engine, const std::vector<TestFile>& files, bool resume, int expectedQuestions)
    {
        CDNTestConnection connection(worker);
        // Set before the connection exists: from then on it runs on the worker.
        connection.listener.onEvent = [&](const CDNEvent& event) {
            if (event.kind == "ask-resume") {
                const std::uint32_t id = connection.listener.Last("accepted").engineJobId;
                const nwCDNResumeAnswer answer{id, event.jobNumber, static_cast<std::uint8_t>(resume), 1};
                connection.Send([&](ovICDNLocalClientLayer& layer) { layer.SendResumeAnswer(&answer); });
            }
        };
        ASSERT_TRUE(connection.Open(engine.Port()));
        SubmitJob(connection, 3, files, true);
        ASSERT_TRUE(WaitFor(connection, "ended")) << engine.Log();
        connection.Read([&](const CDNRecordingListener& l) {
            EXPECT_EQ(+l.Last("ended").ended.result, CDN_RESULT_OK) << engine.Log();
            EXPECT_EQ(l.Count("ask-resume"), expectedQuestions);
        });
    }

    TempDir drive{"meshdrop-engine-drive"};
    NpnWorker worker;
};

} // namespace

TEST_F(EngineRecoveryTest, KilledMidFileItResumesFromItsStateAndFetchesLittleTwice)
{
    const std::string body = patternBytes(32 * 1024 * 1024, 6);
    // Eight connections of 1 MiB/s: the file takes about four seconds.
    RangeServer server(body, 1024 * 1024);
    const std::vector<TestFile> files = {{"C:\\dl\\", "k.bin", server.Url()}};
    {
        EngineProcess engine(drive.path());
        ASSERT_TRUE(engine.Start()) << engine.Log();
        CDNTestConnection connection(worker);
        ASSERT_TRUE(connection.Open(engine.Port()));
        SubmitJob(connection, 3, files, true);
        // Killed just after a state file was saved with a good part of the file.
        std::int64_t seen = -1;
        ASSERT_TRUE(PollUntil([&] {
            const std::int64_t saved = SavedBytes("k.bin");
            const bool fresh = saved != seen && seen >= 0;
            seen = saved;
            return fresh && saved >= static_cast<std::int64_t>(body.size() / 3);
        })) << engine.Log();
        engine.Signal(SIGKILL);
        ASSERT_EQ(engine.WaitExit(), 128 + SIGKILL);
        connection.Read([](const CDNRecordingListener& l) { EXPECT_EQ(l.Count("done"), 0); });
    }
    EXPECT_FALSE(std::filesystem::exists(InFolder("k.bin")));
    const std::uint64_t sentBefore = server.BytesSent();

    EngineProcess engine(drive.path());
    ASSERT_TRUE(engine.Start()) << engine.Log();
    RunAgain(engine, files, true, 1);
    EXPECT_TRUE(readFile(InFolder("k.bin")) == body);
    EXPECT_FALSE(std::filesystem::exists(InFolder("k.bin.mdpart")));
    EXPECT_FALSE(std::filesystem::exists(InFolder("k.bin.mdstate")));
    // Counted at the server: what both runs fetched beyond the file itself.
    const std::uint64_t twice = server.BytesSent() - body.size();
    EXPECT_LT(twice, body.size() / 20) << "first run " << sentBefore << ", in all " << server.BytesSent();
    EXPECT_GT(sentBefore, body.size() / 3);
}

TEST_F(EngineRecoveryTest, SignalSavesTheStateAndAnsweringNoForAllStartsEveryFileOver)
{
    const std::string first = patternBytes(6 * 1024 * 1024, 7);
    const std::string second = patternBytes(6 * 1024 * 1024, 8);
    RangeServer serverA(first, 512 * 1024);
    RangeServer serverB(second, 512 * 1024);
    const std::vector<TestFile> files = {{"C:\\dl\\", "a.bin", serverA.Url()}, {"C:\\dl\\", "b.bin", serverB.Url()}};
    {
        EngineProcess engine(drive.path());
        ASSERT_TRUE(engine.Start()) << engine.Log();
        CDNTestConnection connection(worker);
        ASSERT_TRUE(connection.Open(engine.Port()));
        SubmitJob(connection, 3, files, true);
        ASSERT_TRUE(PollUntil([&] { return serverA.BytesSent() > 1024 * 1024 && serverB.BytesSent() > 1024 * 1024; }));
        engine.Signal(SIGTERM);
        ASSERT_EQ(engine.WaitExit(), 0) << engine.Log();
        // The client heard the job end, and both files can be continued.
        ASSERT_TRUE(WaitFor(connection, "ended"));
        connection.Read(
            [](const CDNRecordingListener& l) { EXPECT_EQ(+l.Last("ended").ended.result, CDN_RESULT_STOPPED); });
        EXPECT_GT(SavedBytes("a.bin"), 0);
        EXPECT_GT(SavedBytes("b.bin"), 0);
    }
    const std::uint64_t before = serverA.BytesSent() + serverB.BytesSent();

    // One question for two partial files: "no, for all" starts both over.
    EngineProcess engine(drive.path());
    ASSERT_TRUE(engine.Start()) << engine.Log();
    RunAgain(engine, files, false, 1);
    EXPECT_TRUE(readFile(InFolder("a.bin")) == first);
    EXPECT_TRUE(readFile(InFolder("b.bin")) == second);
    // Nothing of the first run was kept.
    EXPECT_GE(serverA.BytesSent() + serverB.BytesSent() - before, first.size() + second.size());
}

TEST_F(EngineRecoveryTest, FullFileSystemGivesADiskFullNoticeAndNoFileDone)
{
    // A file system of 1 MiB of its own for the download folder, in a mount
    // namespace of the engine's (as root, or as root of a user namespace).
    const std::string folder = drive.path() + "/dl";
    std::filesystem::create_directories(folder);
    const std::vector<std::string> wrapper = {"unshare", geteuid() == 0 ? "-m" : "-Urm", "sh", "-c",
                                              "mount -t tmpfs -o size=1m tmpfs '" + folder + "' && exec \"$0\""};
    EngineProcess engine(drive.path());
    if (!engine.Start(0, wrapper)) {
        GTEST_SKIP() << "cannot mount a small file system here (needs root or user namespaces)";
    }
    const std::string body = patternBytes(3 * 1024 * 1024, 9);
    // One server gives the size (the engine reserves the space at once and
    // finds it missing), the other sends the whole file without a length
    // (the writes fill the disk).
    RangeServer sized(body);
    RangeServer unsized(body, 0,
                        [&](testsupport::HttpConnection& c, const testsupport::HttpRequest&, long long, long long) {
                            c.send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body);
                            c.close();
                            return true;
                        });
    CDNTestConnection connection(worker);
    ASSERT_TRUE(connection.Open(engine.Port()));
    std::uint32_t job = 3;
    for (const std::string& url : {sized.Url(), unsized.Url()}) {
        SCOPED_TRACE(url);
        SubmitJob(connection, job, {{"C:\\dl\\", "big.bin", url}}, true);
        ASSERT_TRUE(WaitFor(connection, "notice", static_cast<int>(job - 2))) << engine.Log();
        const nwCDNJobRef stop{job, connection.Read<std::uint32_t>(
                                        [](const CDNRecordingListener& l) { return l.Last("accepted").engineJobId; })};
        connection.Send([&](ovICDNLocalClientLayer& layer) { layer.SendStopJob(&stop); });
        ASSERT_TRUE(WaitFor(connection, "ended", static_cast<int>(job - 2))) << engine.Log();
        connection.Read([&](const CDNRecordingListener& l) {
            const CDNEvent notice = l.Last("notice");
            EXPECT_EQ(notice.jobNumber, job);
            EXPECT_EQ(notice.noticeKind, CDN_NOTICE_DISK_FULL);
            EXPECT_EQ(+notice.tail.code, CDN_CODE_DISK_FULL);
            EXPECT_EQ(l.Count("done"), 0);
            EXPECT_EQ(+l.Last("ended").ended.result, CDN_RESULT_STOPPED);
        });
        ++job;
    }
}

TEST_F(EngineRecoveryTest, ASizeBeyondTheDiskIsADiskFullNoticeAndALongPartFileIsCutToItsState)
{
    EngineProcess engine(drive.path());
    ASSERT_TRUE(engine.Start()) << engine.Log();

    // A server announcing a petabyte (a well-formed answer to the range
    // asked): nothing is reserved, the client hears of a full disk.
    constexpr long long kPetabyte = 1LL << 50;
    RangeServer huge(
        "x", 0,
        [&](testsupport::HttpConnection& c, const testsupport::HttpRequest& request, long long first, long long) {
            // The range asked, not cut to the one-byte body.
            const std::string range = request.header("Range");
            const std::size_t dash = range.find('-');
            const long long last = dash + 1 < range.size() ? std::stoll(range.substr(dash + 1)) : kPetabyte - 1;
            c.send("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(first) + "-" +
                   std::to_string(last) + "/" + std::to_string(kPetabyte) +
                   "\r\nContent-Length: " + std::to_string(last - first + 1) + "\r\n\r\nx");
            return true;
        });
    {
        CDNTestConnection connection(worker);
        ASSERT_TRUE(connection.Open(engine.Port()));
        SubmitJob(connection, 2, {{"C:\\dl\\", "huge.bin", huge.Url()}}, true);
        ASSERT_TRUE(WaitFor(connection, "notice")) << engine.Log();
        connection.Read([&](const CDNRecordingListener& l) {
            EXPECT_EQ(l.Last("notice").noticeKind, CDN_NOTICE_DISK_FULL);
            EXPECT_EQ(+l.Last("notice").tail.code, CDN_CODE_DISK_FULL);
            EXPECT_EQ(l.Count("done"), 0);
        });
        std::error_code error;
        EXPECT_LT(std::filesystem::file_size(InFolder("huge.bin.mdpart"), error), 1u << 20);
    }

    // An earlier run's part file holds bytes beyond the size its state gives:
    // they go before anything is written, and the file ends at its size.
    const std::string body = patternBytes(300000, 23);
    RangeServer server(body);
    ASSERT_TRUE(testsupport::writeFile(InFolder("t.bin.mdpart"), body.substr(0, 150000) + std::string(154096, 'J')));
    engine::SavedState saved;
    saved.size = static_cast<std::int64_t>(body.size());
    saved.done.Add(0, 150000);
    ASSERT_TRUE(testsupport::writeFile(InFolder("t.bin.mdstate"), engine::FormatState(saved)));
    RunAgain(engine, {{"C:\\dl\\", "t.bin", server.Url(), static_cast<std::int64_t>(body.size())}}, true, 1);
    EXPECT_TRUE(readFile(InFolder("t.bin")) == body);
}
