#include "cp/cpAddress.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>

cpAddress::cpAddress(std::uint32_t ipv4NetworkOrder)
{
    std::memcpy(m_bytes, &ipv4NetworkOrder, sizeof(ipv4NetworkOrder));
}

cpAddress cpAddress::FromIPv6(const in6_addr& address)
{
    cpAddress made;
    made.m_family = AF_INET6;
    std::memcpy(made.m_bytes, &address, sizeof(made.m_bytes));
    return made;
}

bool cpAddress::FromSockaddr(const sockaddr* address, int length, cpAddress* out, std::uint16_t* port)
{
    if (!address || !out) {
        return false;
    }
    if (address->sa_family == AF_INET && length >= static_cast<int>(sizeof(sockaddr_in))) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
        *out = cpAddress(v4->sin_addr.s_addr);
        if (port) {
            *port = ntohs(v4->sin_port);
        }
        return true;
    }
    if (address->sa_family == AF_INET6 && length >= static_cast<int>(sizeof(sockaddr_in6))) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
        *out = FromIPv6(v6->sin6_addr);
        if (port) {
            *port = ntohs(v6->sin6_port);
        }
        return true;
    }
    return false;
}

bool cpAddress::Parse(const char* text, cpAddress* out)
{
    if (!text || !out) {
        return false;
    }
    in_addr v4{};
    if (inet_pton(AF_INET, text, &v4) == 1) {
        *out = cpAddress(v4.s_addr);
        return true;
    }
    in6_addr v6{};
    if (inet_pton(AF_INET6, text, &v6) == 1) {
        *out = FromIPv6(v6);
        return true;
    }
    return false;
}

bool cpAddress::IsSet() const
{
    const int length = IsIPv6() ? 16 : 4;
    return std::any_of(m_bytes, m_bytes + length, [](std::uint8_t b) { return b != 0; });
}

std::uint32_t cpAddress::IPv4() const
{
    std::uint32_t address = 0;
    if (!IsIPv6()) {
        std::memcpy(&address, m_bytes, sizeof(address));
    }
    return address;
}

int cpAddress::ToSockaddr(std::uint16_t port, sockaddr_storage* out) const
{
    *out = {};
    if (IsIPv6()) {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(out);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        std::memcpy(&v6->sin6_addr, m_bytes, sizeof(v6->sin6_addr));
        return static_cast<int>(sizeof(sockaddr_in6));
    }
    auto* v4 = reinterpret_cast<sockaddr_in*>(out);
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    std::memcpy(&v4->sin_addr, m_bytes, sizeof(v4->sin_addr));
    return static_cast<int>(sizeof(sockaddr_in));
}

std::string cpAddress::ToString() const
{
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(m_family, m_bytes, text, sizeof(text));
    return text;
}

bool cpAddress::operator==(const cpAddress& other) const
{
    return m_family == other.m_family && std::memcmp(m_bytes, other.m_bytes, sizeof(m_bytes)) == 0;
}
