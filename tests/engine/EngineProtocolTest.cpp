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
#include "nw/nwFrame.h"

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

    // Reads frames until one of `type` arrived (true) or the connection
    // ended; each frame (header and padded payload) is appended to `frames`.
    bool ReadUntil(std::uint16_t type, std::vector<std::string>& frames)
    {
        for (;;) {
            while (m_in.size() >= nwFrameHeader::kSize) {
                const nwFrameHeader header = nwFrameHeader::Decode(reinterpret_cast<const std::uint8_t*>(m_in.data()));
                const std::size_t size = nwFrameHeader::kSize + header.payloadLength;
                if (m_in.size() < size) {
                    break;
                }
                frames.push_back(m_in.substr(0, size));
                m_in.erase(0, size);
                if (header.messageType == type) {
                    return true;
                }
            }
            pollfd wait{m_fd, POLLIN, 0};
            char buffer[65536];
            if (::poll(&wait, 1, 90000) != 1) {
                return false;
            }
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                return false;
            }
            m_in.append(buffer, static_cast<std::size_t>(n));
        }
    }

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
    std::string m_in;
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

namespace {

std::string RequestFrame(std::uint16_t type, const void* payload, std::uint32_t length,
                         std::uint16_t messageClass = CDN_CLASS)
{
    std::vector<std::uint8_t> bytes;
    nwCDNAppendFrame(bytes, type, payload, length, messageClass);
    return std::string(bytes.begin(), bytes.end());
}

std::string JobListFrame(std::uint32_t jobNumber, const std::vector<TestFile>& files)
{
    std::vector<nwCDNJobListItem> items(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        items[i].fields.size = files[i].size;
        nwCDNPutField(items[i].fields.folder, sizeof items[i].fields.folder, files[i].folder);
        nwCDNPutField(items[i].fields.fileName, sizeof items[i].fields.fileName, files[i].name);
        items[i].url = files[i].url.c_str();
    }
    const nwCDNJobList list{{jobNumber, static_cast<std::uint32_t>(files.size()), {}}, items.data()};
    std::vector<std::uint8_t> payload(nwCDNJobListSize(list));
    nwCDNWriteJobList(list, payload.data());
    return RequestFrame(CDN_REQ_JOB_LIST, payload.data(), static_cast<std::uint32_t>(payload.size()),
                        CDN_CLASS_JOB_LIST);
}

} // namespace

TEST_F(EngineProtocolTest, NotificationsDecodeAsTheProtocolPageDescribesThem)
{
    EngineProcess engine(drive.path());
    ASSERT_TRUE(engine.Start()) << engine.Log();
    // A file that takes a few seconds, from two mirrors, and a small one.
    const std::string a = patternBytes(3 * 1024 * 1024, 21);
    const std::string b = patternBytes(1000, 22);
    RangeServer serverA(a, 1024 * 1024);
    RangeServer serverB(b);
    const std::vector<TestFile> files = {{"C:\\dl\\", "", serverA.Url("/a.bin") + "|" + serverA.Url("/m/a.bin")},
                                         {"C:\\dl", "b.bin", serverB.Url(), 1000}};
    RawClient raw(engine.Port());
    const nwCDNJobMode mode{CDN_MODE_FULL, {}};
    ASSERT_TRUE(raw.Send(RequestFrame(CDN_REQ_STATUS, nullptr, 0) +
                         JobListFrame(9, {{"C:\\dl\\", "..", serverB.Url()}}) +
                         RequestFrame(CDN_REQ_JOB_MODE, &mode, sizeof mode) + JobListFrame(1, files)));
    std::vector<std::string> frames;
    ASSERT_TRUE(raw.ReadUntil(CDN_NOTE_JOB_ENDED, frames)) << engine.Log();

    std::vector<std::uint16_t> types;
    std::uint32_t engineJobId = 0;
    for (const std::string& frame : frames) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(frame.data());
        const nwFrameHeader header = nwFrameHeader::Decode(bytes);
        SCOPED_TRACE("notification " + std::to_string(header.messageType));
        EXPECT_EQ(header.messageClass, CDN_CLASS);
        EXPECT_EQ(header.reserved1, 0u);
        EXPECT_EQ(header.reserved2, 0u);
        EXPECT_EQ(frame.size() % 8, 0u);
        const std::uint8_t* payload = bytes + nwFrameHeader::kSize;
        const std::uint32_t length = header.payloadLength;
        types.push_back(header.messageType);
        switch (header.messageType) {
        case CDN_NOTE_STATUS: {
            EXPECT_EQ(frame.size(), nwFrameTotalSize(4));
            nwCDNStatus status{};
            ASSERT_TRUE(nwCDNReadFixed(payload, length, &status, sizeof status));
            EXPECT_EQ(status.value, 0u);
            break;
        }
        case CDN_NOTE_JOB_FAILED: {
            nwCDNJobFailedRecord failed;
            ASSERT_TRUE(nwCDNReadJobFailed(payload, length, &failed));
            EXPECT_EQ(failed.jobNumber, 9u);
            EXPECT_EQ(failed.engineJobId, 0u);
            EXPECT_EQ(+failed.tail.code, CDN_CODE_BAD_FILE_NAME);
            EXPECT_EQ(+failed.tail.fileIndex, 0u);
            EXPECT_EQ(frame.size(), nwFrameTotalSize(24 + static_cast<std::uint32_t>(std::strlen(failed.text))));
            break;
        }
        case CDN_NOTE_JOB_ACCEPTED: {
            EXPECT_EQ(frame.size(), nwFrameTotalSize(20));
            nwCDNJobAccepted accepted{};
            ASSERT_TRUE(nwCDNReadFixed(payload, length, &accepted, sizeof accepted));
            EXPECT_EQ(+accepted.jobNumber, 1u);
            EXPECT_EQ(+accepted.fileCount, 2u);
            EXPECT_EQ(+accepted.totalSize, 1000u); // only the sizes the job gave
            engineJobId = accepted.engineJobId;
            EXPECT_GE(engineJobId, 1u);
            break;
        }
        case CDN_NOTE_JOB_PROGRESS: {
            nwCDNProgressRecord progress;
            std::vector<nwCDNProgressItemRecord> items;
            ASSERT_TRUE(nwCDNReadProgress(payload, length, &progress, &items));
            const nwCDNProgressBlock& block = progress.block;
            EXPECT_EQ(+block.jobNumber, 1u);
            EXPECT_EQ(+block.engineJobId, engineJobId);
            EXPECT_EQ(+block.fileCount, 2u);
            EXPECT_LT(+block.currentFile, 2u);
            EXPECT_LE(+block.doneSize, +block.totalSize);
            EXPECT_GE(+block.elapsedSeconds, 1u) << "reports start with the job's first second";
            EXPECT_LE(+block.connections, 8u);
            EXPECT_EQ(block.flags & ~(CDN_PROGRESS_LIMITED | CDN_PROGRESS_NETWORK_LOST), 0);
            EXPECT_EQ(block.reserved[0] | block.reserved[1], 0u);
            ASSERT_GE(items.size(), 1u);
            EXPECT_LE(items.size(), 8u);
            EXPECT_EQ(+items[0].item.fileIndex, +block.currentFile);
            std::uint32_t total = 64;
            for (const nwCDNProgressItemRecord& item : items) {
                EXPECT_LE(+item.item.state, CDN_FILE_FAILED);
                EXPECT_EQ(item.item.flags & ~CDN_ITEM_SIZE_KNOWN, 0);
                if (!(item.item.flags & CDN_ITEM_SIZE_KNOWN)) {
                    EXPECT_EQ(+item.item.size, 0u);
                }
                for (const std::uint8_t reserved : item.item.reserved) {
                    EXPECT_EQ(reserved, 0);
                }
                total += 66 + static_cast<std::uint32_t>(std::strlen(item.name));
            }
            EXPECT_EQ(frame.size(), nwFrameTotalSize(total));
            break;
        }
        case CDN_NOTE_FILE_DONE: {
            nwCDNFileDoneFixed fixed{};
            nwCDNFileDoneRecord done;
            ASSERT_TRUE(nwCDNReadFileDone(payload, length, &fixed, &done));
            ASSERT_NE(done.fileIndex, CDN_NO_FILE) << "the detail is there";
            const std::string name = done.fileIndex == 0 ? "a.bin" : "b.bin";
            EXPECT_EQ(std::string(done.localPath), "C:\\dl\\" + name);
            EXPECT_EQ(std::string(done.url), files[done.fileIndex].url);
            EXPECT_EQ(frame.size(), nwFrameTotalSize(301 + 8 +
                                                     static_cast<std::uint32_t>(std::strlen(done.localPath) +
                                                                                std::strlen(done.url) + 2)));
            break;
        }
        case CDN_NOTE_JOB_ENDED: {
            EXPECT_EQ(frame.size(), nwFrameTotalSize(20));
            nwCDNJobEnded ended{};
            ASSERT_TRUE(nwCDNReadFixed(payload, length, &ended, sizeof ended));
            EXPECT_EQ(+ended.result, CDN_RESULT_OK);
            EXPECT_EQ(+ended.filesCompleted, 2u);
            EXPECT_EQ(+ended.fileCount, 2u);
            break;
        }
        default:
            ADD_FAILURE() << "not expected here";
        }
    }
    ASSERT_GE(types.size(), 7u);
    EXPECT_EQ((std::vector<std::uint16_t>(types.begin(), types.begin() + 3)),
              (std::vector<std::uint16_t>{CDN_NOTE_STATUS, CDN_NOTE_JOB_FAILED, CDN_NOTE_JOB_ACCEPTED}));
    EXPECT_EQ(std::count(types.begin(), types.end(), CDN_NOTE_FILE_DONE), 2);
    EXPECT_GE(std::count(types.begin(), types.end(), CDN_NOTE_JOB_PROGRESS), 1);
    // Right before the end: the final figures, the last file complete.
    ASSERT_EQ(types[types.size() - 2], CDN_NOTE_JOB_PROGRESS);
    const std::string& last = frames[frames.size() - 2];
    nwCDNProgressRecord final;
    std::vector<nwCDNProgressItemRecord> items;
    ASSERT_TRUE(nwCDNReadProgress(reinterpret_cast<const std::uint8_t*>(last.data()) + nwFrameHeader::kSize,
                                  static_cast<std::uint32_t>(last.size() - nwFrameHeader::kSize), &final, &items));
    EXPECT_EQ(+final.block.doneSize, a.size() + b.size());
    EXPECT_EQ(+final.block.totalSize, a.size() + b.size());
    EXPECT_EQ(+final.block.filesCompleted, 2u);
    EXPECT_EQ(+final.block.currentFile, 1u);
    EXPECT_EQ(+final.block.connections, 0u);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(+items[0].item.state, CDN_FILE_DONE);
    EXPECT_EQ(+items[0].item.done, b.size());
}

TEST_F(EngineProtocolTest, OneFileAndOneJobNumberServeOneJobAndALeavingClientFreesItsFiles)
{
    EngineProcess engine(drive.path());
    ASSERT_TRUE(engine.Start()) << engine.Log();
    const std::string body = patternBytes(4 * 1024 * 1024, 23);
    RangeServer server(body, 512 * 1024);
    const TestFile file{"C:\\dl\\", "a.bin", server.Url()};
    {
        CDNTestConnection first(worker);
        ASSERT_TRUE(first.Open(engine.Port()));
        SubmitJob(first, 1, {file}, true);
        ASSERT_TRUE(WaitFor(first, "progress")) << engine.Log();
        // The same job number again on this connection, and the same file
        // from another client: both refused while the first job runs.
        SubmitJob(first, 1, {{"C:\\dl\\", "other.bin", server.Url()}}, true);
        ASSERT_TRUE(WaitFor(first, "failed"));
        CDNTestConnection second(worker);
        ASSERT_TRUE(second.Open(engine.Port()));
        SubmitJob(second, 2, {{"C:\\dl", "a.bin", server.Url("/elsewhere.bin")}}, true);
        ASSERT_TRUE(WaitFor(second, "failed"));
        second.Read([](const CDNRecordingListener& l) {
            EXPECT_EQ(l.Last("failed").jobNumber, 2u);
            EXPECT_EQ(+l.Last("failed").tail.code, CDN_CODE_FILE_BUSY) << l.Last("failed").text;
            EXPECT_EQ(l.Count("accepted"), 0);
        });
        first.Read([](const CDNRecordingListener& l) {
            EXPECT_EQ(l.Last("failed").jobNumber, 1u);
            EXPECT_EQ(+l.Last("failed").tail.code, CDN_CODE_BAD_JOB) << l.Last("failed").text;
            EXPECT_EQ(l.Count("accepted"), 1);
            EXPECT_EQ(l.Count("ended"), 0);
        });
    } // both clients leave, the first in the middle of its job
    // Its job stops with its state saved, and once that is on disk its file
    // is free for another job.
    ASSERT_TRUE(enginetest::PollUntil([&] {
        return engine.Log().find("job 1/1: files released") != std::string::npos;
    })) << engine.Log();
    EXPECT_NE(engine.Log().find("job 1/1 ended: result 1"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(drive.path() + "/dl/other.bin.mdpart"));
    const std::uint64_t sentToFirst = server.BytesSent();
    EXPECT_GT(sentToFirst, 0u);

    CDNTestConnection third(worker);
    third.listener.onEvent = [&](const CDNEvent& event) {
        if (event.kind == "ask-resume") {
            const nwCDNResumeAnswer answer{third.listener.Last("accepted").engineJobId, event.jobNumber, 1, 1};
            third.Send([&](ovICDNLocalClientLayer& layer) { layer.SendResumeAnswer(&answer); });
        }
    };
    ASSERT_TRUE(third.Open(engine.Port()));
    SubmitJob(third, 3, {file}, true);
    ASSERT_TRUE(WaitFor(third, "ended")) << engine.Log();
    third.Read([](const CDNRecordingListener& l) {
        EXPECT_EQ(+l.Last("ended").ended.result, CDN_RESULT_OK);
        EXPECT_EQ(l.Count("ask-resume"), 1);
    });
    EXPECT_TRUE(testsupport::readFile(drive.path() + "/dl/a.bin") == body);
    EXPECT_FALSE(std::filesystem::exists(drive.path() + "/dl/other.bin"));
    // What the stopped job fetched was kept: little is fetched twice.
    EXPECT_LT(server.BytesSent(), body.size() + body.size() / 10) << "first job " << sentToFirst;
}
