// The content-length check through the entry points: probes added with
// MeshdropLib_AddFileSizeCheck, run by MeshdropLib_StartFileSizeCheck, and
// their outcome as events 525 and 526 at the test's window, pumped like the
// dialog's, with the total read back and the lines of the service log.

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>

#include "EntryPointFlow.h"
#include "LibraryLog.h"
#include "MeshdropLib.h"
#include "NginxServer.h"
#include "ScriptedHttpServer.h"
#include "TempDir.h"
#include "TestClientWindow.h"
#include "TestDriveC.h"

using testsupport::HttpConnection;
using testsupport::ScriptedHttpServer;

namespace {

constexpr UINT kDone = MESHDROPLIB_EVENT_SIZE_CHECK_DONE;
constexpr UINT kFailed = MESHDROPLIB_EVENT_SIZE_CHECK_FAILED;

class FileSizeCheckTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_log = LibraryLog::Prepare();
        ASSERT_EQ(MeshdropLib_Initialize(m_window.Handle(), nullptr, nullptr), MESHDROPLIB_OK);
    }
    void TearDown() override { MeshdropLib_Finalize(); }

    // Starts the check and pumps until its `outcome`; false when it did not
    // come, or the other outcome came as well.
    bool Check(UINT outcome)
    {
        return MeshdropLib_StartFileSizeCheck() == MESHDROPLIB_OK &&
               PumpUntilOutcome(m_window, outcome, outcome == kDone ? kFailed : kDone);
    }

    uint64_t Total()
    {
        uint64_t total = 0;
        EXPECT_EQ(MeshdropLib_GetFileSizeTotal(&total), MESHDROPLIB_OK);
        return total;
    }

    std::vector<std::string> LogLinesWith(const std::string& part) const
    {
        std::vector<std::string> lines;
        for (const std::string& line : LibraryLog::Messages(m_log))
            if (line.find(part) != std::string::npos)
                lines.push_back(line);
        return lines;
    }

    TestClientWindow m_window;
    std::string m_log;
};

TEST_F(FileSizeCheckTest, WithoutProbesThereIsNoTotalAndNoCheck)
{
    uint64_t total = 7;
    EXPECT_EQ(MeshdropLib_GetFileSizeTotal(&total), MESHDROPLIB_ERROR_FAILED);
    EXPECT_EQ(MeshdropLib_GetRequiredSpace(0, &total), MESHDROPLIB_ERROR_FAILED);
    EXPECT_EQ(MeshdropLib_StartFileSizeCheck(), MESHDROPLIB_ERROR_FAILED);
    EXPECT_EQ(total, 7u);
}

TEST_F(FileSizeCheckTest, SumsTheFirstAddressOfEveryEntryFollowingARedirect)
{
    testsupport::TempDir root("meshdrop-sizecheck");
    ASSERT_TRUE(testsupport::writeFile(root.file("pkg/a.bin"), std::string(1000, 'a')));
    ASSERT_TRUE(testsupport::writeFile(root.file("pkg/b.bin"), std::string(20000, 'b')));
    ASSERT_TRUE(testsupport::writeFile(root.file("pkg/c.bin"), std::string(300, 'c')));
    testsupport::NginxServer nginx(root.path(), {"location = /old/c.bin { return 302 /pkg/c.bin; }"});
    ASSERT_TRUE(nginx.start()) << nginx.error();

    EXPECT_EQ(MeshdropLib_AddFileSizeCheck(nginx.url("/pkg/a.bin").c_str()), MESHDROPLIB_OK);
    // Only the first of the mirrors is probed: the second one does not exist.
    EXPECT_EQ(MeshdropLib_AddFileSizeCheck((nginx.url("/pkg/b.bin") + "|" + nginx.url("/missing.bin")).c_str()),
              MESHDROPLIB_OK);
    EXPECT_EQ(MeshdropLib_AddFileSizeCheck(nginx.url("/old/c.bin").c_str()), MESHDROPLIB_OK);
    ASSERT_TRUE(Check(kDone));
    EXPECT_EQ(Total(), 21300u);
    // Each file's own length, by the order the files were added.
    const auto size = [](uint32_t index) {
        uint64_t length = 0;
        return MeshdropLib_GetFileSize(index, &length) == MESHDROPLIB_OK ? static_cast<int64_t>(length) : -1;
    };
    EXPECT_EQ(size(0), 1000);
    EXPECT_EQ(size(1), 20000);
    EXPECT_EQ(size(2), 300);
    EXPECT_EQ(size(3), -1);
    // Without a job, the space still needed is the checked total.
    uint64_t required = 0;
    EXPECT_EQ(MeshdropLib_GetRequiredSpace(0, &required), MESHDROPLIB_OK);
    EXPECT_EQ(required, 21300u);
    const auto lines = LogLinesWith("ContentLength Check");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "[MeshdropLib] Start ContentLength Check file:3");
    EXPECT_EQ(lines[1].rfind("[MeshdropLib] ContentLength Check Complete file:3 sec:", 0), 0u) << lines[1];

    // The probes ended with the check: a second start completes at once with
    // the same total, and a later round adds to it.
    ASSERT_TRUE(Check(kDone));
    EXPECT_EQ(Total(), 21300u);
    EXPECT_EQ(MeshdropLib_AddFileSizeCheck(nginx.url("/pkg/a.bin").c_str()), MESHDROPLIB_OK);
    EXPECT_EQ(MeshdropLib_AddFileSizeCheck(nginx.url("/pkg/c.bin").c_str()), MESHDROPLIB_OK);
    ASSERT_TRUE(Check(kDone));
    EXPECT_EQ(Total(), 22600u);
    EXPECT_EQ(size(1), 300);
    EXPECT_EQ(size(2), -1) << "a later round counts its own files";
}

TEST_F(FileSizeCheckTest, TwelveProbesRunFiveAtATime)
{
    std::mutex mutex;
    std::condition_variable changed;
    int inFlight = 0;
    int most = 0;
    bool open = false;
    ScriptedHttpServer server([&](HttpConnection& c, int) {
        const auto request = c.readRequest();
        if (!request)
            return;
        {
            std::unique_lock<std::mutex> lock(mutex);
            most = std::max(most, ++inFlight);
            changed.notify_all();
            changed.wait(lock, [&] { return open; });
            --inFlight;
        }
        // "/f<n>" is n + 1000 bytes long.
        const int n = std::stoi(request->target.substr(2));
        c.send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(n + 1000) + "\r\n\r\n");
        c.waitForPeerClose(std::chrono::seconds(10));
    });
    auto openGate = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        open = true;
        changed.notify_all();
    };
    // The held handlers are let go on every way out, so that the server can stop.
    struct GateGuard {
        std::function<void()> release;
        ~GateGuard() { release(); }
    } guard{openGate};
    for (int i = 0; i < 12; ++i)
        ASSERT_EQ(MeshdropLib_AddFileSizeCheck(server.url("/f" + std::to_string(i)).c_str()), MESHDROPLIB_OK);
    ASSERT_EQ(MeshdropLib_StartFileSizeCheck(), MESHDROPLIB_OK);
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(20), [&] { return inFlight == 5; }));
    }
    // Held back, the five are all there is: no sixth request comes.
    EXPECT_FALSE(server.waitForConnections(6, std::chrono::milliseconds(500)));
    openGate();
    ASSERT_TRUE(m_window.PumpUntil(kDone));
    EXPECT_EQ(m_window.Count(kFailed), 0u);
    EXPECT_EQ(Total(), 12u * 1000u + 66u);
    EXPECT_EQ(server.requests().size(), 12u);
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(most, 5);
}

TEST_F(FileSizeCheckTest, ThreeNotFoundAnswersFailTheCheckWithTheReasonLogged)
{
    testsupport::TempDir root("meshdrop-sizecheck");
    ASSERT_TRUE(testsupport::writeFile(root.file("pkg/a.bin"), "a"));
    testsupport::NginxServer nginx(root.path());
    ASSERT_TRUE(nginx.start()) << nginx.error();
    const std::string missing = nginx.url("/pkg/missing.bin");
    EXPECT_EQ(MeshdropLib_AddFileSizeCheck(nginx.url("/pkg/a.bin").c_str()), MESHDROPLIB_OK);
    EXPECT_EQ(MeshdropLib_AddFileSizeCheck(missing.c_str()), MESHDROPLIB_OK);
    ASSERT_TRUE(Check(kFailed));
    EXPECT_EQ(
        LogLinesWith("Check Failed"),
        std::vector<std::string>{"[MeshdropLib] ContentLength Check Failed reason:ResCode:404 file:1 url:" + missing});
}

TEST_F(FileSizeCheckTest, ARedirectCountsAsTheFirstOfThreeAttempts)
{
    std::string target;
    ScriptedHttpServer server([&target](HttpConnection& c, int) {
        const auto request = c.readRequest();
        if (request && request->target == "/old.bin")
            c.send("HTTP/1.1 302 Found\r\nLocation: " + target + "\r\nContent-Length: 0\r\n\r\n");
        else if (request)
            c.send("HTTP/1.1 200 OK\r\nContent-Length: 4242\r\n\r\n");
        c.waitForPeerClose(std::chrono::seconds(10));
    });
    target = server.url("/new.bin");
    EXPECT_EQ(MeshdropLib_AddFileSizeCheck(server.url("/old.bin").c_str()), MESHDROPLIB_OK);
    ASSERT_TRUE(Check(kDone));
    EXPECT_EQ(Total(), 4242u);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].target, "/new.bin");
}

TEST_F(FileSizeCheckTest, ProbesThatCannotConnectOrAreCutOffFailAfterThreeAttempts)
{
    ScriptedHttpServer server([](HttpConnection& c, int) {
        c.readRequest();
        c.send("HTTP/1.1 200 OK\r\nContent-");
        c.close();
    });
    const std::string refused = "http://127.0.0.1:" + std::to_string(ClosedLoopbackPort()) + "/a.bin";
    EXPECT_EQ(MeshdropLib_AddFileSizeCheck(refused.c_str()), MESHDROPLIB_OK);
    ASSERT_TRUE(Check(kFailed));
    EXPECT_EQ(LogLinesWith("CLCS"),
              (std::vector<std::string>{"[MeshdropLib] CLCS CT(file:0)", "[MeshdropLib] CLCS CT(file:0)",
                                        "[MeshdropLib] CLCS CT(file:0)"}));
    EXPECT_EQ(LogLinesWith("Check Failed"),
              std::vector<std::string>{"[MeshdropLib] ContentLength Check Failed reason:ConnectTimeout file:0 url:" +
                                       refused});

    EXPECT_EQ(MeshdropLib_AddFileSizeCheck(server.url("/cut.bin").c_str()), MESHDROPLIB_OK);
    ASSERT_TRUE(Check(kFailed));
    EXPECT_EQ(server.connectionCount(), 3);
    EXPECT_EQ(LogLinesWith("Check Failed").back(),
              "[MeshdropLib] ContentLength Check Failed reason:Closed file:0 url:" + server.url("/cut.bin"));
}

TEST_F(FileSizeCheckTest, AnEntryWithoutAUsableFirstAddressFailsAtOnce)
{
    ScriptedHttpServer server(ScriptedHttpServer::serveBody("abc"));
    EXPECT_EQ(MeshdropLib_AddFileSizeCheck(server.url("/a.bin").c_str()), MESHDROPLIB_OK);
    EXPECT_EQ(MeshdropLib_AddFileSizeCheck(("|" + server.url("/b.bin")).c_str()), MESHDROPLIB_OK);
    ASSERT_EQ(MeshdropLib_StartFileSizeCheck(), MESHDROPLIB_OK);
    // Raised inside the call, before any answer could come.
    m_window.Drain();
    EXPECT_EQ(m_window.Count(kFailed), 1u);
    EXPECT_EQ(LogLinesWith("Check Failed"),
              std::vector<std::string>{"[MeshdropLib] ContentLength Check Failed reason:ConnectTimeout file:1 url:"});
    // The first probe was closed without a report.
    m_window.PumpUntil(kDone, 1, 500);
    EXPECT_EQ(m_window.Count(kDone), 0u);
}

} // namespace
