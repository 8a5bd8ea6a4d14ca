#include <gtest/gtest.h>

#include "cp/cpCSocket.h"
#include "cp/cpSocketRecord.h"
#include "ov/ovClassIds.h"
#include "ov/ovSmartPtr.h"

TEST(cpSocketRecord, PlatformErrorsMapToResultCodes)
{
    EXPECT_EQ(cpMapSocketError(10035), OVR_SOCK_WOULDBLOCK);
    EXPECT_EQ(cpMapSocketError(10036), OVR_SOCK_INPROGRESS);
    EXPECT_EQ(cpMapSocketError(10037), OVR_SOCK_ALREADY);
    EXPECT_EQ(cpMapSocketError(10038), OVR_SOCK_NOTSOCK);
    EXPECT_EQ(cpMapSocketError(10055), OVR_SOCK_NOBUFS);
    EXPECT_EQ(cpMapSocketError(10061), OVR_SOCK_REFUSED);
    EXPECT_EQ(cpMapSocketError(10060), OVR_PLATFORM_FAIL);
    EXPECT_EQ(cpMapSocketError(0), OVR_PLATFORM_FAIL);
}

TEST(cpSocketRecord, CreateRefusesARecordThatHoldsASocket)
{
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    cpSocketRecord* record = nullptr;
    ASSERT_EQ(cpSocketCreate(&record, CP_SOCKET_TCP), OVR_PLATFORM_OK);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(cpSocketCreate(&record, CP_SOCKET_TCP), OVR_SOCK_EXISTS);
    EXPECT_EQ(cpSocketSetOption(record, 3), OVR_PLATFORM_FAIL);
    EXPECT_EQ(cpSocketClose(&record), OVR_PLATFORM_OK);
    EXPECT_EQ(record, nullptr);

    // UDP through the object wrapper: a datagram to itself on loopback.
    ovSmartPtr socket;
    ASSERT_TRUE(socket.CreateInstance(OVCLS_SOCKET));
    auto* udp = socket.Get<cpCSocket>();
    ASSERT_EQ(udp->Create(CP_SOCKET_UDP), OVR_PLATFORM_OK);
    EXPECT_EQ(udp->SetOption(0), OVR_PLATFORM_OK);
    ASSERT_EQ(udp->Bind({htonl(INADDR_LOOPBACK), 0}), OVR_PLATFORM_OK);
    sockaddr_in bound{};
    int length = sizeof(bound);
    ASSERT_EQ(getsockname(udp->GetRecord()->socket, reinterpret_cast<sockaddr*>(&bound), &length), 0);
    std::uint32_t sent = 0;
    ASSERT_EQ(udp->SendTo("ping", 4, {htonl(INADDR_LOOPBACK), ntohs(bound.sin_port)}, &sent), OVR_PLATFORM_OK);
    EXPECT_EQ(sent, 4u);
    char buffer[16] = {};
    cpEndpoint from;
    std::uint32_t received = 0;
    ASSERT_EQ(udp->ReceiveFrom(buffer, sizeof(buffer), &from, &received), OVR_PLATFORM_OK);
    EXPECT_EQ(received, 4u);
    EXPECT_STREQ(buffer, "ping");
    EXPECT_EQ(from.port, ntohs(bound.sin_port));
    EXPECT_EQ(udp->Flush(), OVR_PLATFORM_OK);
    socket.Reset();
    WSACleanup();
}
