// The engine program as a server: what it does with clients that send too
// much or the wrong thing, the jobs it refuses, the ways it leaves, and the
// requests around a job (file by file, status, flags).

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "EngineTestSupport.h"
#include "ForeignUser.h"

using enginetest::EngineProcess;
using enginetest::RangeServer;
using enginetest::SubmitJob;
using enginetest::TestFile;
using enginetest::WaitFor;
using testsupport::patternBytes;
using testsupport::TempDir;

namespace {

// A plain socket client: sends raw bytes, then tells whether the engine
// closed the connection.
class RawClient {
public:
    explicit RawClient(std::uint16_t port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawClient() { ::close(m_fd); }

    bool Send(const std::string& bytes)
    {
        return m_connected &&
               ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }

    int Fd() const { return m_fd; }

    bool ClosedByPeer()
    {
        pollfd wait{m_fd, POLLIN, 0};
        char buffer[256];
        while (::poll(&wait, 1, 20000) == 1) {
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                return true;
            }
        }
        return false;
    }

private:
    int m_fd = -1;
    bool m_connected = false;
};

std::string Header(std::uint16_t cls, std::uint16_t type, std::uint32_t length)
{
    std::string header(14, '\0');
    std::memcpy(header.data(), &cls, 2);
    std::memcpy(header.data() + 2, &type, 2);
    std::memcpy(header.data() + 10, &length, 4);
    return header;
}

// A job of one file as the bytes a client sends: mode, then the job list.
std::string JobFrames(std::uint32_t jobNumber, const TestFile& file)
{
    std::vector<std::uint8_t> frames;
    const nwCDNJobMode mode{CDN_MODE_FULL, {}};
    nwCDNAppendFrame(frames, CDN_REQ_JOB_MODE, &mode, sizeof mode);
    nwCDNJobListItem item;
    item.fields.size = file.size;
    nwCDNPutField(item.fields.folder, sizeof item.fields.folder, file.folder);
    nwCDNPutField(item.fields.fileName, sizeof item.fields.fileName, file.name);
    item.url = file.url.c_str();
    const nwCDNJobList list{{jobNumber, 1, {}}, &item};
    std::vector<std::uint8_t> payload(nwCDNJobListSize(list));
    nwCDNWriteJobList(list, payload.data());
    nwCDNAppendFrame(frames, CDN_REQ_JOB_LIST, payload.data(), static_cast<std::uint32_t>(payload.size()),
                     CDN_CLASS_JOB_LIST);
    return std::string(frames.begin(), frames.end());
}

std::string StatusFrame()
{
    std::vector<std::uint8_t> frame;
    const std::uint8_t none = 0;
    nwCDNAppendFrame(frame, CDN_REQ_STATUS, &none, 0);
    return std::string(frame.begin(), frame.end());
}

class EngineProtocolTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(worker.IsStarted()); }

    TempDir drive{"meshdrop-engine-drive"};
    NpnWorker worker;
};

} // namespace

TEST_F(EngineProtocolTest, OffendingClientsAreClosedAloneAndUnusableJobsRefused)
{
    EngineProcess engine(drive.path());
    ASSERT_TRUE(engine.Start()) << engine.Log();
    CDNTestConnection client(worker);
    ASSERT_TRUE(client.Open(engine.Port()));
    ASSERT_TRUE(WaitFor(client, "connected"));

    const std::vector<std::pair<const char*, std::string>> offences = {
        {"a frame announcing 2 MiB", Header(0x0100, 22, 2 * 1024 * 1024)},
        {"an unknown type", Header(0x0100, 99, 2) + std::string(2, '\0')},
        {"a notification sent as a request", Header(0x0100, 4, 18) + std::string(18, '\0')},
        {"a job list of the wrong class", Header(0x0100, 14, 42) + std::string(42, '\0')},
        {"a job list counting more files than it holds",
         [] {
             std::string payload(41, '\0');
             payload[4] = 3;
             return Header(0x0102, 14, 42) + payload + std::string(1, '\0');
         }()},
    };
    for (const auto& [what, bytes] : offences) {
        SCOPED_TRACE(what);
        RawClient raw(engine.Port());
        ASSERT_TRUE(raw.Send(bytes));
        EXPECT_TRUE(raw.ClosedByPeer());
    }

    const std::string url = "http://127.0.0.1:1/x.bin";
    struct Refused {
        const char* what;
        std::vector<TestFile> files;
        std::uint32_t code;
    };
    const std::vector<Refused> refused = {
        {"a name that steps out of the folder", {{"C:\\dl\\", "..\\evil.exe", url}}, CDN_CODE_BAD_FILE_NAME},
        {"a dot-dot name", {{"C:\\dl\\", "..", url}}, CDN_CODE_BAD_FILE_NAME},
        {"a name with a colon", {{"C:\\dl\\", "a:b", url}}, CDN_CODE_BAD_FILE_NAME},
        {"a name taken from an address ending in /",
         {{"C:\\dl\\", "", "http://127.0.0.1:1/dir/"}},
         CDN_CODE_BAD_FILE_NAME},
        {"a name like the engine's own files", {{"C:\\dl\\", "x.bin.mdpart", url}}, CDN_CODE_BAD_FILE_NAME},
        {"an address that is not http", {{"C:\\dl\\", "x.bin", "ftp://127.0.0.1/x.bin"}}, CDN_CODE_BAD_JOB},
        {"an address too long", {{"C:\\dl\\", "x.bin", url + "?" + std::string(9000, 'q')}}, CDN_CODE_BAD_JOB},
        {"a folder on no drive", {{"Q:\\dl\\", "x.bin", url}}, CDN_CODE_BAD_FOLDER},
        {"the same file twice", {{"C:\\dl\\", "x.bin", url}, {"C:\\dl", "x.bin", url}}, CDN_CODE_BAD_JOB},
    };
    std::uint32_t job = 10;
    for (const Refused& r : refused) {
        SCOPED_TRACE(r.what);
        SubmitJob(client, job, r.files, true, job % 2 == 0);
        ASSERT_TRUE(WaitFor(client, "failed", static_cast<int>(job - 9))) << engine.Log();
        client.Read([&](const CDNRecordingListener& l) {
            EXPECT_EQ(l.Last("failed").jobNumber, job);
            EXPECT_EQ(+l.Last("failed").tail.code, r.code) << l.Last("failed").text;
        });
        ++job;
    }
    // Files sent out of order, and more files announced than a job may hold.
    client.Send([&](ovICDNLocalClientLayer& layer) {
        const nwCDNJobHeader header{40, 2, {}};
        layer.SendJobHeader(&header);
        const nwCDNJobItem second{40, 1, {}, url.c_str()};
        layer.SendJobItem(&second);
        layer.SendJobEnd(40);
        const nwCDNJobHeader huge{41, 10001, {}};
        layer.SendJobHeader(&huge);
        layer.SendJobEnd(41);
        layer.RequestStatus();
    });
    ASSERT_TRUE(WaitFor(client, "status"));
    client.Read([&](const CDNRecordingListener& l) {
        EXPECT_EQ(l.Count("accepted"), 0);
        EXPECT_EQ(l.Count("failed"), static_cast<int>(refused.size()) + 2);
        EXPECT_EQ(l.Count("closed"), 0);
        EXPECT_EQ(l.Last("status").value, 0u);
    });
    EXPECT_FALSE(std::filesystem::exists(drive.path() + "/evil.exe"));
}

TEST_F(EngineProtocolTest, SecondCopyLeavesQuietlyAndAnIdleEngineLeavesByItself)
{
    EngineProcess engine(drive.path(), {{"MESHDROP_ENGINE_IDLE_EXIT", "1"}});
    ASSERT_TRUE(engine.Start()) << engine.Log();
    {
        EngineProcess second(drive.path());
        // Its readiness comes at once: another engine listens already.
        second.Start(engine.Port());
        EXPECT_EQ(second.WaitExit(), 0);
        EXPECT_NE(second.Log().find("another engine"), std::string::npos) << second.Log();
    }
    {
        CDNTestConnection client(worker);
        ASSERT_TRUE(client.Open(engine.Port()));
        ASSERT_TRUE(WaitFor(client, "connected"));
        // While a client is connected, the engine stays.
        client.Send([](ovICDNLocalClientLayer& layer) { layer.RequestStatus(); });
        ASSERT_TRUE(WaitFor(client, "status"));
        EXPECT_EQ(engine.WaitExit(std::chrono::milliseconds(2500)), -1);
    }
    EXPECT_EQ(engine.WaitExit(), 0) << engine.Log();
}

TEST_F(EngineProtocolTest, JobSentFileByFileCompletesAndStatusCountsItWhileItRuns)
{
    EngineProcess engine(drive.path());
    ASSERT_TRUE(engine.Start()) << engine.Log();
    const std::string a = patternBytes(3 * 1024 * 1024, 11);
    const std::string b = patternBytes(100000, 12);
    RangeServer serverA(a, 1024 * 1024);
    RangeServer serverB(b);
    CDNTestConnection client(worker);
    ASSERT_TRUE(client.Open(engine.Port()));
    client.Send([](ovICDNLocalClientLayer& layer) { layer.SendEngineFlag(5); });
    SubmitJob(client, 5, {{"C:\\dl\\", "a.bin", serverA.Url()}, {"C:\\dl\\", "b.bin", serverB.Url(), 100000}}, true,
              true);
    ASSERT_TRUE(WaitFor(client, "accepted"));
    const std::uint32_t id =
        client.Read<std::uint32_t>([](const CDNRecordingListener& l) { return l.Last("accepted").engineJobId; });
    client.Send([&](ovICDNLocalClientLayer& layer) {
        const nwCDNFileOption option{5, id, 1};
        layer.SendFileOption(&option);
        layer.RequestStatus();
    });
    ASSERT_TRUE(WaitFor(client, "status"));
    ASSERT_TRUE(WaitFor(client, "ended")) << engine.Log();
    client.Send([](ovICDNLocalClientLayer& layer) { layer.RequestStatus(); });
    ASSERT_TRUE(WaitFor(client, "status", 2));
    client.Read([&](const CDNRecordingListener& l) {
        EXPECT_EQ(l.events[l.events.size() - 1].value, 0u);
        EXPECT_EQ(+l.Last("ended").ended.result, CDN_RESULT_OK);
        EXPECT_EQ(l.Count("done"), 2);
        int statusSeen = 0;
        for (const CDNEvent& e : l.events) {
            if (e.kind == "status" && statusSeen++ == 0) {
                EXPECT_EQ(e.value, 1u);
            }
        }
    });
    EXPECT_TRUE(testsupport::readFile(drive.path() + "/dl/a.bin") == a);
    EXPECT_TRUE(testsupport::readFile(drive.path() + "/dl/b.bin") == b);
    const std::string log = engine.Log();
    EXPECT_NE(log.find("engine flag"), std::string::npos) << log;
    EXPECT_NE(log.find("file option 1"), std::string::npos) << log;
}

TEST_F(EngineProtocolTest, AnotherUsersClientIsClosedUnheardAndItsListenerKeepsAnEngineFromServing)
{
    const std::string unavailable = testsupport::foreignUserUnavailable();
    if (!unavailable.empty()) {
        GTEST_SKIP() << unavailable;
    }
    EngineProcess engine(drive.path());
    ASSERT_TRUE(engine.Start()) << engine.Log();
    RangeServer server(patternBytes(100000, 21));
    // A job that would replace a file in the player's folder, and a status
    // request: neither is read, nothing is answered.
    const std::string frames = JobFrames(7, {"C:\\dl\\", "victim.txt", server.Url(), 100000}) + StatusFrame();
    const testsupport::ForeignExchange exchange = testsupport::foreignClientExchange(engine.Port(), frames, 20);
    EXPECT_TRUE(exchange.connected);
    EXPECT_TRUE(exchange.closedByPeer);
    EXPECT_EQ(exchange.received, 0u);
    EXPECT_FALSE(std::filesystem::exists(drive.path() + "/dl/victim.txt"));
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_NE(engine.Log().find("refused: it belongs to uid 65534"), std::string::npos) << engine.Log();

    // Another user's program on the port: a new engine serves nothing and
    // says so by its status.
    testsupport::ForeignListener foreign;
    ASSERT_NE(foreign.port(), 0);
    EngineProcess second(drive.path());
    second.Start(foreign.port());
    EXPECT_EQ(second.WaitExit(), 2);
    EXPECT_NE(second.Log().find("is held by uid 65534"), std::string::npos) << second.Log();
}

TEST_F(EngineProtocolTest, SeventeenthClientIsRefusedAndAFloodingClientDoesNotHoldUpAnothersProgress)
{
    EngineProcess engine(drive.path());
    ASSERT_TRUE(engine.Start()) << engine.Log();
    const std::string body = patternBytes(2 * 1024 * 1024, 22);
    RangeServer server(body, 400 * 1024);
    CDNTestConnection client(worker);
    std::vector<std::chrono::steady_clock::time_point> progress;
    client.listener.onEvent = [&](const CDNEvent& event) {
        if (event.kind == "progress") {
            progress.push_back(std::chrono::steady_clock::now());
        }
    };
    ASSERT_TRUE(client.Open(engine.Port()));
    ASSERT_TRUE(WaitFor(client, "connected"));
    SubmitJob(client, 1, {{"C:\\dl\\", "f.bin", server.Url(), static_cast<std::int64_t>(body.size())}}, true);
    ASSERT_TRUE(WaitFor(client, "accepted")) << engine.Log();

    // A client that asks for the status as fast as it can, and reads every
    // answer at once (so that the engine never drops it for reading slowly).
    RawClient flooder(engine.Port());
    std::atomic<bool> flooding{true};
    std::thread ask([&] {
        std::string batch;
        for (int i = 0; i < 4096; ++i) {
            batch += StatusFrame();
        }
        while (flooding && ::send(flooder.Fd(), batch.data(), batch.size(), MSG_NOSIGNAL) > 0) {}
    });
    std::thread read([&] {
        std::vector<char> answers(1 << 16);
        while (::recv(flooder.Fd(), answers.data(), answers.size(), 0) > 0) {}
    });
    // With the job's client and the flooder, 14 more make 16; the 17th is refused.
    std::vector<std::unique_ptr<RawClient>> others;
    for (int i = 0; i < 14; ++i) {
        others.push_back(std::make_unique<RawClient>(engine.Port()));
    }
    RawClient seventeenth(engine.Port());
    EXPECT_TRUE(seventeenth.ClosedByPeer());

    const bool ended = WaitFor(client, "ended");
    flooding = false;
    ::shutdown(flooder.Fd(), SHUT_RDWR);
    ask.join();
    read.join();
    ASSERT_TRUE(ended) << engine.Log();
    client.Read([&](const CDNRecordingListener& l) { EXPECT_EQ(+l.Last("ended").ended.result, CDN_RESULT_OK); });
    EXPECT_NE(engine.Log().find("refused: 16 clients are connected already"), std::string::npos);
    // About once a second, flood or not: a gap of more than two seconds
    // would be a notification held up by over a second.
    ASSERT_GE(progress.size(), 3u);
    double longest = 0;
    for (std::size_t i = 1; i < progress.size(); ++i) {
        longest = std::max(longest, std::chrono::duration<double>(progress[i] - progress[i - 1]).count());
    }
    EXPECT_LT(longest, 2.0);
    EXPECT_TRUE(testsupport::readFile(drive.path() + "/dl/f.bin") == body);
}
