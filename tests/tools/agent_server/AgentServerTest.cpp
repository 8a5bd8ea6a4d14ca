// The agent server as a process of its own, against plain socket clients:
// frames it must refuse, many clients at once, and a kill in the middle of
// the load.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "AgentFrames.h"
#include "AgentServerProcess.h"
#include "TempDir.h"

namespace {

using testsupport::AgentServerProcess;
using testsupport::StoredRecord;

// A blocking client on 127.0.0.1.
class AgentClient {
public:
    explicit AgentClient(uint16_t port)
    {
        m_fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        if (connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            close(m_fd);
            m_fd = -1;
        }
    }
    ~AgentClient()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    AgentClient(const AgentClient&) = delete;
    AgentClient& operator=(const AgentClient&) = delete;

    bool Connected() const { return m_fd >= 0; }

    bool Send(const std::string& bytes)
    {
        for (size_t sent = 0; sent < bytes.size();) {
            const ssize_t n = send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += static_cast<size_t>(n);
        }
        return true;
    }

    void ShutdownWrite() { shutdown(m_fd, SHUT_WR); }

    // The answer byte of the next answer frame; -1 when the server closed or
    // sent something else.
    int ReadAnswer()
    {
        std::string frame;
        if (!Read(nwFrameTotalSize(1), &frame))
            return -1;
        const auto header = nwFrameHeader::Decode(reinterpret_cast<const uint8_t*>(frame.data()));
        if (header.messageClass != AGENT_CLASS || header.messageType != AGENT_MSG_ANSWER || header.payloadLength != 2)
            return -1;
        return static_cast<uint8_t>(frame[nwFrameHeader::kSize]);
    }

    // Whether the server closed the connection without sending anything.
    bool ClosedByServer()
    {
        char byte;
        return Wait() && recv(m_fd, &byte, 1, 0) <= 0;
    }

private:
    bool Wait()
    {
        pollfd p{m_fd, POLLIN, 0};
        return poll(&p, 1, 20000) > 0;
    }

    bool Read(size_t length, std::string* out)
    {
        out->resize(length);
        for (size_t got = 0; got < length;) {
            if (!Wait())
                return false;
            const ssize_t n = recv(m_fd, out->data() + got, length - got, 0);
            if (n <= 0)
                return false;
            got += static_cast<size_t>(n);
        }
        return true;
    }

    int m_fd = -1;
};

std::string Url(int client, int report, int file)
{
    return "http://files/c" + std::to_string(client) + "/r" + std::to_string(report) + "/f" + std::to_string(file);
}

// Report `report` of client `client`: 1 to 3 records with URLs of their own.
std::vector<nwAgentReportRecord> ClientReport(int client, int report)
{
    std::vector<nwAgentReportRecord> records;
    for (int file = 0; file <= report % 3; ++file)
        records.push_back(agenttest::Record(Url(client, report, file), client * 1000000ull + report * 10ull + file,
                                            "svc" + std::to_string(client)));
    return records;
}

class AgentServerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.start()) << server.error(); }

    testsupport::TempDir dir{"meshdrop-agent-server"};
    AgentServerProcess server{dir.file("agent.db")};
};

TEST_F(AgentServerTest, FramesItCannotTakeCloseTheConnectionAndStoreNothing)
{
    const std::string good = agenttest::ReportFrame({agenttest::Record("http://files/a", 10)});
    std::string overCount = good;
    overCount[nwFrameHeader::kSize] = 3; // three records announced, one sent
    std::string hugeLength = good.substr(0, nwFrameHeader::kSize);
    hugeLength.replace(10, 4, std::string("\0\0\x40\x06", 4)); // 100 MiB
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"another class", agenttest::Frame(0x0100, AGENT_MSG_REPORT, good.substr(nwFrameHeader::kSize))},
        {"another type", agenttest::Frame(AGENT_CLASS, AGENT_MSG_ANSWER, good.substr(nwFrameHeader::kSize))},
        {"count above the payload", overCount},
        {"100 MiB announced", hugeLength},
        {"truncated", good.substr(0, good.size() / 2)},
    };
    size_t rejected = 0;
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        AgentClient client(server.port());
        ASSERT_TRUE(client.Connected());
        ASSERT_TRUE(client.Send(bytes));
        if (name == "truncated")
            client.ShutdownWrite();
        EXPECT_TRUE(client.ClosedByServer());
        EXPECT_TRUE(server.waitForLines(AgentServerProcess::kRejected, ++rejected));
    }
    EXPECT_TRUE(testsupport::readAgentDatabase(server.database()).empty());

    // A good report after them is stored and answered.
    AgentClient client(server.port());
    ASSERT_TRUE(client.Send(good));
    EXPECT_EQ(client.ReadAnswer(), AGENT_ANSWER_STORED);
    const std::vector<StoredRecord> stored = testsupport::readAgentDatabase(server.database());
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].url, "http://files/a");
    EXPECT_EQ(stored[0].bytes, 10);
    EXPECT_EQ(stored[0].serviceId, "svc");
}

TEST_F(AgentServerTest, TwentyClientsSendingTwoHundredReportsHaveEveryRecordStoredOnce)
{
    constexpr int kClients = 20;
    constexpr int kReports = 10;
    std::vector<std::thread> clients;
    std::vector<int> answered(kClients, 0);
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            AgentClient client(server.port());
            for (int r = 0; r < kReports; ++r) {
                if (client.Send(agenttest::ReportFrame(ClientReport(c, r))) &&
                    client.ReadAnswer() == AGENT_ANSWER_STORED)
                    ++answered[c];
            }
        });
    }
    for (std::thread& t : clients)
        t.join();
    EXPECT_EQ(answered, std::vector<int>(kClients, kReports));

    std::map<std::string, StoredRecord> byUrl;
    std::set<int64_t> reports;
    for (const StoredRecord& record : testsupport::readAgentDatabase(server.database())) {
        EXPECT_TRUE(byUrl.emplace(record.url, record).second) << record.url << " stored twice";
        reports.insert(record.reportId);
    }
    EXPECT_EQ(reports.size(), static_cast<size_t>(kClients * kReports));
    size_t expected = 0;
    for (int c = 0; c < kClients; ++c) {
        for (int r = 0; r < kReports; ++r) {
            for (const nwAgentReportRecord& record : ClientReport(c, r)) {
                ++expected;
                const auto found = byUrl.find(record.url);
                ASSERT_NE(found, byUrl.end()) << record.url;
                EXPECT_EQ(found->second.bytes, static_cast<int64_t>(record.bytesWritten));
                EXPECT_EQ(found->second.serviceId, record.serviceId);
            }
        }
    }
    EXPECT_EQ(byUrl.size(), expected);
}

TEST_F(AgentServerTest, EveryAnsweredReportSurvivesAKillDuringTheLoad)
{
    constexpr int kClients = 20;
    std::mutex mutex;
    std::vector<std::pair<int, int>> answered; // (client, report)
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            AgentClient client(server.port());
            for (int r = 0; r < 1000; ++r) {
                if (!client.Send(agenttest::ReportFrame(ClientReport(c, r))) ||
                    client.ReadAnswer() != AGENT_ANSWER_STORED)
                    return;
                std::lock_guard<std::mutex> lock(mutex);
                answered.emplace_back(c, r);
            }
        });
    }
    ASSERT_TRUE(server.waitForLines(AgentServerProcess::kStored, 60));
    server.kill();
    for (std::thread& t : clients)
        t.join();
    ASSERT_GE(answered.size(), 1u);

    ASSERT_TRUE(server.start()) << server.error();
    std::map<std::string, int64_t> reportOf;
    for (const StoredRecord& record : testsupport::readAgentDatabase(server.database()))
        reportOf.emplace(record.url, record.reportId);
    for (const auto& [c, r] : answered) {
        // All of the report, in one report.
        const std::vector<nwAgentReportRecord> records = ClientReport(c, r);
        for (const nwAgentReportRecord& record : records) {
            ASSERT_TRUE(reportOf.count(record.url)) << record.url << " was answered but is not stored";
            EXPECT_EQ(reportOf[record.url], reportOf[records[0].url]);
        }
    }
    // The restarted server goes on storing.
    AgentClient client(server.port());
    ASSERT_TRUE(client.Send(agenttest::ReportFrame({agenttest::Record("http://files/after", 1)})));
    EXPECT_EQ(client.ReadAnswer(), AGENT_ANSWER_STORED);
}

} // namespace
