#pragma once
// An IP address of either family as the network library passes it around:
// the family and the address bytes in network order (4 for IPv4, 16 for
// IPv6). A 32-bit IPv4 address in network byte order converts to it, so that
// code written for IPv4 addresses reads as before.

#include <winsock2.h>

#include <cstdint>
#include <string>

class cpAddress {
public:
    cpAddress() = default;
    // An IPv4 address in network byte order (0 is the unset address).
    // Implicit, so that code written for IPv4 numbers passes them as they are.
    cpAddress(std::uint32_t ipv4NetworkOrder);
    static cpAddress FromIPv6(const in6_addr& address);
    // An address from a socket address of either family; false for another family.
    static bool FromSockaddr(const sockaddr* address, int length, cpAddress* out, std::uint16_t* port);
    // A literal ("127.0.0.1", "::1"; no brackets, no zone); false for anything else.
    static bool Parse(const char* text, cpAddress* out);

    int Family() const { return m_family; }
    bool IsIPv6() const { return m_family == AF_INET6; }
    // Any address but the family's all-zero one.
    bool IsSet() const;
    // The IPv4 address in network byte order (0 for an IPv6 address).
    std::uint32_t IPv4() const;
    const std::uint8_t* Bytes() const { return m_bytes; }

    // The platform's socket address for this address and `port` (host
    // order); answers the length that was written.
    int ToSockaddr(std::uint16_t port, sockaddr_storage* out) const;
    // "127.0.0.1", "::1".
    std::string ToString() const;

    bool operator==(const cpAddress& other) const;
    bool operator!=(const cpAddress& other) const { return !(*this == other); }

private:
    int m_family = AF_INET;
    std::uint8_t m_bytes[16] = {};
};
