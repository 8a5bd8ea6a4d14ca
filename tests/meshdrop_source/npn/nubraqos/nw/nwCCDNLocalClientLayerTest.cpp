// The local engine client layer on real loopback connections: the request
// frames as they leave, byte for byte, and the engine's notifications as the
// listener receives them, including the streams it must refuse.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "CDNTestConnection.h"
#include "LoopbackPeer.h"
#include "nw/nwFrame.h"

namespace {

std::string Bytes(const void* data, std::size_t size)
{
    return std::string(static_cast<const char*>(data), size);
}

// A frame as the protocol defines it, built here independently of the layer.
std::string Frame(std::uint16_t cls, std::uint16_t type, const std::string& payload)
{
    const std::uint32_t total = (static_cast<std::uint32_t>(payload.size()) + 14 + 7) & ~7u;
    std::string frame(total, '\0');
    auto* p = reinterpret_cast<std::uint8_t*>(frame.data());
    p[0] = static_cast<std::uint8_t>(cls);
    p[1] = static_cast<std::uint8_t>(cls >> 8);
    p[2] = static_cast<std::uint8_t>(type);
    p[3] = static_cast<std::uint8_t>(type >> 8);
    const std::uint32_t length = total - 14;
    std::memcpy(p + 10, &length, 4);
    std::memcpy(p + 14, payload.data(), payload.size());
    return frame;
}

template <class Record>
std::string Fixed(std::uint16_t type, const Record& record)
{
    return Frame(CDN_CLASS, type, Bytes(&record, sizeof record));
}

std::string AsString(const std::vector<std::uint8_t>& bytes)
{
    return Bytes(bytes.data(), bytes.size());
}

nwCDNItemFields Fields(std::int64_t size, const char* folder, const char* name)
{
    nwCDNItemFields fields{};
    fields.fileOption = 1;
    fields.internalOption = 0;
    fields.size = size;
    nwCDNPutField(fields.folder, sizeof fields.folder, folder);
    nwCDNPutField(fields.fileName, sizeof fields.fileName, name);
    return fields;
}

class CDNLayerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(worker.IsStarted()); }

    NpnWorker worker;
};

} // namespace

TEST_F(CDNLayerTest, RequestsLeaveAsFramesByteForByteInTheOrderSent)
{
    LoopbackPeer peer;
    CDNTestConnection connection(worker);

    const nwCDNJobMode mode{2, 0, {}};
    nwCDNRegion region{};
    nwCDNPutField(region.code, sizeof region.code, "TW");
    const nwCDNJobListItem items[2] = {
        {99, Fields(-1, "C:\\games\\", "a.pak"), "http://h/a.pak"},
        {0, Fields(5, "C:\\games\\", "b.pak"), "http://h/b.pak|http://m/b.pak"},
    };
    nwCDNJobList list{{7, 2, {}}, items};
    nwCDNPutField(list.header.serviceId, sizeof list.header.serviceId, "svc");
    const nwCDNJobItem item{7, 1, Fields(5, "C:\\g\\", "b.pak"), "http://h/b.pak"};
    const nwCDNJobRef stop{7, 3};
    const nwCDNFileOption option{7, 3, 1};
    const nwCDNResumeAnswer answer{3, 7, 1, 0};

    ASSERT_TRUE(connection.Open(peer.Port(), [&](ovICDNLocalClientLayer& layer) {
        EXPECT_EQ(layer.SendServiceId("abcd"), OVR_NET_OK);
        EXPECT_EQ(layer.RequestStatus(), OVR_NET_OK);
        EXPECT_EQ(layer.SendRegion(&region), OVR_NET_OK);
        EXPECT_EQ(layer.SendJobMode(&mode), OVR_NET_OK);
        EXPECT_EQ(layer.SendEngineFlag(7), OVR_NET_OK);
        EXPECT_EQ(layer.SendJobList(&list), OVR_NET_OK);
        EXPECT_EQ(layer.SendJobHeader(&list.header), OVR_NET_OK);
        EXPECT_EQ(layer.SendJobItem(&item), OVR_NET_OK);
        EXPECT_EQ(layer.SendJobEnd(7), OVR_NET_OK);
        EXPECT_EQ(layer.SendStopJob(&stop), OVR_NET_OK);
        EXPECT_EQ(layer.SendFileOption(&option), OVR_NET_OK);
        EXPECT_EQ(layer.SendResumeAnswer(&answer), OVR_NET_OK);
        EXPECT_EQ(layer.SendServiceId(nullptr), OVR_NET_OK);
        // Records that cannot be framed are refused and send nothing.
        EXPECT_EQ(layer.SendJobMode(nullptr), OVR_NET_FAIL);
        const nwCDNJobItem noUrl{7, 2, {}, nullptr};
        EXPECT_EQ(layer.SendJobItem(&noUrl), OVR_NET_FAIL);
    }));
    ASSERT_TRUE(peer.Accept());
    ASSERT_TRUE(connection.WaitFor("connected"));

    // Type 12 with a four-byte text: header with length 266, the text, zeros
    // to 260 bytes and 6 bytes of padding: 280 bytes.
    std::string serviceId = "abcd" + std::string(256, '\0');
    std::string expected = Frame(CDN_CLASS, 12, serviceId);
    ASSERT_EQ(expected.size(), 280u);
    // Type 22: the header and 2 bytes of padding, length field 2.
    const std::string status = Frame(CDN_CLASS, 22, "");
    ASSERT_EQ(status.size(), 16u);
    ASSERT_EQ(static_cast<unsigned char>(status[10]), 2u);
    expected += status;
    expected += Frame(CDN_CLASS, 1, "TW" + std::string(18, '\0'));
    expected += Frame(CDN_CLASS, 0, std::string(1, '\2') + std::string(16, '\0'));
    expected += Frame(CDN_CLASS, 17, std::string("\7\0\0\0", 4));
    // Type 14, class 0x0102: header, then per file its fields without the
    // caller's leading field and the URL with its terminator.
    std::string listPayload = Bytes(&list.header, 41);
    for (const nwCDNJobListItem& i : items) {
        listPayload += Bytes(&i.fields, 530) + i.url + std::string(1, '\0');
    }
    ASSERT_EQ(listPayload.size(), 41u + (531 + 14) + (531 + 29));
    expected += Frame(CDN_CLASS_JOB_LIST, 14, listPayload);
    expected += Fixed(19, list.header);
    expected += Frame(CDN_CLASS, 20,
                      std::string("\7\0\0\0\1\0\0\0", 8) + Bytes(&item.fields, 530) + std::string("\x0e\0", 2) +
                          "http://h/b.pak");
    expected += Frame(CDN_CLASS, 21, std::string("\7\0\0\0", 4));
    expected += Fixed(3, stop) + Fixed(13, option) + Fixed(18, answer);
    expected += Frame(CDN_CLASS, 12, std::string(260, '\0'));

    std::string received;
    ASSERT_TRUE(peer.ReadExactly(expected.size(), &received));
    EXPECT_EQ(received, expected);
    // Nothing else was sent: the refused records left no frame behind.
    peer.CloseConnection();
    ASSERT_TRUE(connection.WaitFor("closed"));
}

TEST_F(CDNLayerTest, NotificationsReachTheirSlotsInOrderWithTheirFields)
{
    LoopbackPeer peer;
    CDNTestConnection connection(worker);
    ASSERT_TRUE(connection.Open(peer.Port()));
    ASSERT_TRUE(peer.Accept());

    std::vector<std::uint8_t> wire;
    // Type 4 and a type 5 without items written out by hand.
    std::string accepted = std::string("\7\0\0\0\3\0\0\0\2\0\0\0", 12) + std::string("\x10\x27\0\0\0\0\0\0", 8);
    std::string emptyProgress(64, '\0');
    emptyProgress[0] = 7;
    emptyProgress[4] = 3;
    std::string stream = Frame(CDN_CLASS, 4, accepted) + Frame(CDN_CLASS, 5, emptyProgress);
    nwCDNProgressBlock block{};
    block.jobNumber = 7;
    block.engineJobId = 3;
    block.doneSize = 123;
    nwCDNProgressEntry first{};
    first.item.fileIndex = 1;
    first.item.done = 50;
    first.name = "b.pak";
    nwCDNProgressEntry second{};
    second.item.fileIndex = 2;
    second.name = "c.pak";
    nwCDNAppendProgress(wire, block, {first, second});
    const std::string longPath = "C:\\games\\" + std::string(100, 'x') + "\\setup.exe";
    nwCDNAppendFileDone(wire, {7, 3, 4, longPath, "http://h/setup.exe|http://m/setup.exe", ""});
    nwCDNAppendFileDone(wire, {7, 3, 5, "C:\\g\\r.txt", "http://h/r.txt", "readme"});
    // A file done from a peer that sends the fixed fields only.
    nwCDNFileDoneFixed plain{};
    plain.jobNumber = 7;
    plain.engineJobId = 3;
    std::memset(plain.localPath, 'p', sizeof plain.localPath); // no terminator in the field
    nwCDNPutField(plain.url, sizeof plain.url, "http://h/p");
    nwCDNAppendFrame(wire, CDN_NOTE_FILE_DONE, &plain, sizeof plain);
    const nwCDNJobEnded ended{7, 3, 2, 0, 2};
    nwCDNAppendFrame(wire, CDN_NOTE_JOB_ENDED, &ended, sizeof ended);
    nwCDNAppendNotice(wire, 7, 3, CDN_NOTICE_DISK_FULL, "disk full", {CDN_CODE_DISK_FULL, 1, 4096});
    const nwCDNTail lost{CDN_CODE_NETWORK, CDN_NO_FILE, 5};
    nwCDNAppendFrame(wire, CDN_NOTE_NETWORK_LOST, &lost, sizeof lost);
    nwCDNAppendFrame(wire, CDN_NOTE_NETWORK_BACK, &lost, sizeof lost);
    nwCDNAppendJobFailed(wire, 8, 4, "HTTP 404", {CDN_CODE_HTTP_STATUS, 0, 404});
    const std::uint32_t number = 9;
    nwCDNAppendFrame(wire, CDN_NOTE_ASK_RESUME, &number, sizeof number);
    nwCDNAppendFrame(wire, CDN_NOTE_STATUS, &number, sizeof number);
    stream += AsString(wire);
    // All of it in one write, so that several frames arrive in one read.
    ASSERT_TRUE(peer.SendAll(stream));
    ASSERT_TRUE(connection.WaitFor("status"));

    connection.Read([&](const CDNRecordingListener& l) {
        EXPECT_EQ(l.Kinds(), (std::vector<std::string>{"connected", "accepted", "progress", "progress", "done",
                                                       "done-text", "done", "ended", "notice", "lost", "back", "failed",
                                                       "ask-resume", "status"}));
        EXPECT_FALSE(l.wrongCookie);
        const CDNEvent& a = l.events[1];
        EXPECT_EQ(+a.accepted.fileCount, 2u);
        EXPECT_EQ(+a.accepted.totalSize, 10000u);
        EXPECT_EQ(l.events[2].engineJobId, 3u);
        EXPECT_TRUE(l.events[2].items.empty());
        const CDNEvent& p = l.events[3];
        EXPECT_EQ(+p.progress.doneSize, 123u);
        ASSERT_EQ(p.items.size(), 2u);
        EXPECT_EQ(p.items[0].second, "b.pak");
        EXPECT_EQ(+p.items[0].first.done, 50u);
        EXPECT_EQ(p.items[1].second, "c.pak");
        // The detail carries what the fixed fields cut.
        EXPECT_EQ(l.events[4].localPath, longPath);
        EXPECT_EQ(l.events[4].url, "http://h/setup.exe|http://m/setup.exe");
        EXPECT_EQ(l.events[4].fileIndex, 4u);
        EXPECT_EQ(l.events[5].altText, "readme");
        EXPECT_EQ(l.events[5].localPath, "C:\\g\\r.txt");
        // Without a detail: the fixed fields, terminated within their size.
        EXPECT_EQ(l.events[6].localPath, std::string(32, 'p'));
        EXPECT_EQ(l.events[6].url, "http://h/p");
        EXPECT_EQ(l.events[6].fileIndex, CDN_NO_FILE);
        EXPECT_EQ(+l.events[7].ended.filesCompleted, 2u);
        EXPECT_EQ(l.events[8].noticeKind, CDN_NOTICE_DISK_FULL);
        EXPECT_EQ(l.events[8].text, "disk full");
        EXPECT_EQ(+l.events[8].tail.value, 4096u);
        EXPECT_EQ(+l.events[9].tail.value, 5u);
        EXPECT_EQ(l.events[11].text, "HTTP 404");
        EXPECT_EQ(+l.events[11].tail.value, 404u);
        EXPECT_EQ(l.events[12].jobNumber, 9u);
        EXPECT_EQ(l.events[13].value, 9u);
    });
}

TEST_F(CDNLayerTest, BrokenOrUnknownFramesCloseTheConnectionAfterTheFramesBeforeThem)
{
    std::string progressShort(64, '\0');
    progressShort[60] = 3; // three items announced, one carried
    progressShort += std::string(65, '\0') + "x" + std::string(1, '\0');
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"progress counting more items than it carries", Frame(CDN_CLASS, 5, progressShort)},
        {"progress shorter than its block", Frame(CDN_CLASS, 5, std::string(40, '\0'))},
        {"job failed whose text runs off the end", Frame(CDN_CLASS, 11, std::string(8, '\0') + "abcdefgh")},
        {"job accepted shorter than its fields", Frame(CDN_CLASS, 4, std::string(10, '\0'))},
        {"file done with a broken detail",
         Frame(CDN_CLASS, 7, std::string(301, '\0') + "MDX1" + std::string(4, '\0') + "abcde")},
        {"unknown type", Frame(CDN_CLASS, 99, "")},
        {"request type sent back", Frame(CDN_CLASS, 12, std::string(260, '\0'))},
        {"unknown class", Frame(0x0300, 4, std::string(20, '\0'))},
    };
    const std::uint32_t value = 1;
    const std::string status = Frame(CDN_CLASS, 22, Bytes(&value, 4));
    for (const auto& [what, frame] : cases) {
        SCOPED_TRACE(what);
        LoopbackPeer peer;
        CDNTestConnection connection(worker);
        ASSERT_TRUE(connection.Open(peer.Port()));
        ASSERT_TRUE(peer.Accept());
        ASSERT_TRUE(peer.SendAll(status + frame + status));
        ASSERT_TRUE(connection.WaitFor("closed"));
        EXPECT_TRUE(peer.WaitForClose());
        connection.Read([](const CDNRecordingListener& l) {
            EXPECT_EQ(l.Kinds(), (std::vector<std::string>{"connected", "status", "closed"}));
        });
    }
}

TEST_F(CDNLayerTest, RefusedConnectReportsConnectFailedThenClosed)
{
    LoopbackPeer peer;
    const std::uint16_t port = peer.Port();
    peer.CloseAll();
    CDNTestConnection connection(worker);
    ASSERT_TRUE(connection.Open(port, [](ovICDNLocalClientLayer& layer) { layer.SendServiceId("svc"); }));
    ASSERT_TRUE(connection.WaitFor("closed"));
    connection.Read([](const CDNRecordingListener& l) {
        EXPECT_EQ(l.Kinds(), (std::vector<std::string>{"connect-failed", "closed"}));
    });
}
