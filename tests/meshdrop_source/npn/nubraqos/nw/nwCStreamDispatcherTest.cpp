#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "nw/nwCStreamDispatcher.h"
#include "ov/ovClassIds.h"
#include "ov/ovSmartPtr.h"

namespace {

struct Received {
    std::vector<std::string> payloads;
};

void Collect(const std::uint8_t* payload, std::uint32_t length, void* user)
{
    static_cast<Received*>(user)->payloads.emplace_back(reinterpret_cast<const char*>(payload), length);
}

// A whole framed message as it travels on the wire.
std::vector<std::uint8_t> Frame(std::uint16_t cls, std::uint16_t type, const std::string& payload)
{
    std::uint8_t* body = nwAllocFrameMessage(static_cast<std::uint32_t>(payload.size()));
    std::memcpy(body, payload.data(), payload.size());
    const std::uint32_t total = nwFrameTotalSize(static_cast<std::uint32_t>(payload.size()));
    std::uint8_t* message = nwWriteFrameHeader(body, static_cast<std::uint32_t>(payload.size()), cls, type);
    std::vector<std::uint8_t> bytes(message, message + total);
    nwFreeFrameMessage(body);
    return bytes;
}

int Dispatch(nwCStreamDispatcher& d, const std::vector<std::uint8_t>& bytes, std::size_t length)
{
    int consumed = 12345;
    EXPECT_EQ(d.Dispatch(bytes.data(), static_cast<std::uint32_t>(length), &consumed), OVR_NET_OK);
    return consumed;
}

} // namespace

TEST(nwFrame, PayloadIsPaddedToAMultipleOfEight)
{
    auto twenty = Frame(0x0100, 7, std::string(20, 'x'));
    ASSERT_EQ(twenty.size(), 40u);
    nwFrameHeader h = nwFrameHeader::Decode(twenty.data());
    EXPECT_EQ(h.messageClass, 0x0100);
    EXPECT_EQ(h.messageType, 7);
    EXPECT_EQ(h.payloadLength, 26u);
    EXPECT_EQ(std::string(twenty.begin() + 34, twenty.end()), std::string(6, '\0'));
    const std::uint8_t expectedHeader[14] = {0x00, 0x01, 0x07, 0, 0, 0, 0, 0, 0, 0, 26, 0, 0, 0};
    EXPECT_EQ(std::memcmp(twenty.data(), expectedHeader, 14), 0);

    auto two = Frame(0x0300, 1, "ab");
    ASSERT_EQ(two.size(), 16u);
    EXPECT_EQ(nwFrameHeader::Decode(two.data()).payloadLength, 2u);

    EXPECT_EQ(nwAllocFrameMessage(kMaxFramePayload + 1), nullptr);
    nwFreeFrameMessage(nullptr);
}

TEST(nwCStreamDispatcher, PartialCompleteAndDoubleFrames)
{
    nwCStreamDispatcher d;
    Received got;
    d.AddFramedHandler(0x0100, 2, &Collect, &got);

    auto frame = Frame(0x0100, 2, std::string(20, 'p'));
    EXPECT_EQ(Dispatch(d, frame, 13), 0);
    EXPECT_EQ(Dispatch(d, frame, 39), 0);
    EXPECT_TRUE(got.payloads.empty());
    EXPECT_EQ(Dispatch(d, frame, frame.size()), 40);
    ASSERT_EQ(got.payloads.size(), 1u);
    EXPECT_EQ(got.payloads[0].size(), 26u);
    EXPECT_EQ(got.payloads[0].substr(0, 20), std::string(20, 'p'));

    auto two = Frame(0x0100, 2, "ab");
    auto both = frame;
    both.insert(both.end(), two.begin(), two.end());
    both.insert(both.end(), frame.begin(), frame.begin() + 5); // start of a third
    EXPECT_EQ(Dispatch(d, both, both.size()), 56);
    ASSERT_EQ(got.payloads.size(), 3u);
    EXPECT_EQ(got.payloads[2], "ab");
}

TEST(nwCStreamDispatcher, UnknownOrOversizedFramesFailTheStream)
{
    nwCStreamDispatcher d;
    Received got;
    d.AddFramedHandler(0x0100, 2, &Collect, &got);
    auto other = Frame(0x0100, 3, "x");
    EXPECT_EQ(Dispatch(d, other, other.size()), -1);

    // A good frame followed by a bad one still fails the whole call.
    auto good = Frame(0x0100, 2, "x");
    good.insert(good.end(), other.begin(), other.end());
    EXPECT_LT(Dispatch(d, good, good.size()), 0);

    // Only a header arrived, announcing far more than any message may hold:
    // refused at once instead of waiting for (and buffering) the payload.
    std::vector<std::uint8_t> huge(14, 0);
    nwFrameHeader h;
    h.messageClass = 0x0100;
    h.messageType = 2;
    h.payloadLength = kMaxFramePayload + 2;
    h.Encode(huge.data());
    EXPECT_EQ(Dispatch(d, huge, huge.size()), -1);
}

TEST(nwCStreamDispatcher, StoppedDispatcherConsumesNothing)
{
    nwCStreamDispatcher d;
    Received got;
    d.AddFramedHandler(0x0100, 2, &Collect, &got);
    d.Stop();
    auto frame = Frame(0x0100, 2, "abc");
    EXPECT_EQ(Dispatch(d, frame, frame.size()), 0);
    EXPECT_TRUE(got.payloads.empty());
}

namespace {

struct LineParser {
    nwCStreamDispatcher* dispatcher = nullptr;
    std::vector<std::string> lines;
    bool stopAfterFirst = false;
    int claim = 0; // when non-zero, answered instead of the real count
};

int ParseLine(const std::uint8_t* data, std::uint32_t length, void* user)
{
    auto* p = static_cast<LineParser*>(user);
    const void* nl = std::memchr(data, '\n', length);
    if (!nl) {
        return 0;
    }
    const int taken = static_cast<int>(static_cast<const std::uint8_t*>(nl) - data) + 1;
    p->lines.emplace_back(reinterpret_cast<const char*>(data), taken - 1);
    if (p->stopAfterFirst) {
        p->dispatcher->Stop();
    }
    return p->claim ? p->claim : taken;
}

std::vector<std::uint8_t> Bytes(const std::string& s)
{
    return {s.begin(), s.end()};
}

} // namespace

TEST(nwCStreamDispatcher, RawModeOffersTheRestAgainUntilTheParserWaits)
{
    nwCStreamDispatcher d;
    LineParser parser;
    parser.dispatcher = &d;
    d.AddRawHandler(&ParseLine, &parser);
    EXPECT_TRUE(d.IsRawMode());
    auto bytes = Bytes("one\ntwo\nthr");
    EXPECT_EQ(Dispatch(d, bytes, bytes.size()), 8);
    EXPECT_EQ(parser.lines, (std::vector<std::string>{"one", "two"}));

    // A parser that closes the stream from inside its callback ends the loop.
    nwCStreamDispatcher d2;
    LineParser stopping;
    stopping.dispatcher = &d2;
    stopping.stopAfterFirst = true;
    d2.AddRawHandler(&ParseLine, &stopping);
    EXPECT_EQ(Dispatch(d2, bytes, bytes.size()), 4);
    EXPECT_EQ(stopping.lines.size(), 1u);

    // A parser claiming more than it was offered fails the stream.
    nwCStreamDispatcher d3;
    LineParser lying;
    lying.dispatcher = &d3;
    lying.claim = 100;
    d3.AddRawHandler(&ParseLine, &lying);
    EXPECT_EQ(Dispatch(d3, bytes, bytes.size()), -1);
}

TEST(nwCStreamDispatcher, CreatedByClassIdentifier)
{
    ovSmartPtr p;
    ASSERT_TRUE(p.CreateInstance(OVCLS_STREAM_DISPATCHER));
    auto* d = p.Get<nwCStreamDispatcherBase>();
    Received got;
    EXPECT_EQ(d->AddFramedHandler(0x0300, 9, &Collect, &got), OVR_NET_OK);
    auto frame = Frame(0x0300, 9, "agent");
    int consumed = 0;
    EXPECT_EQ(d->Dispatch(frame.data(), static_cast<std::uint32_t>(frame.size()), &consumed), OVR_NET_OK);
    EXPECT_EQ(consumed, 24);
    ASSERT_EQ(got.payloads.size(), 1u);
}
