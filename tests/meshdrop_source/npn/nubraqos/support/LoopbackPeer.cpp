#include "LoopbackPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

LoopbackPeer::LoopbackPeer(int family)
{
    m_listener = ::socket(family, SOCK_STREAM, 0);
    sockaddr_storage address{};
    socklen_t length = 0;
    if (family == AF_INET6) {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
        v6->sin6_family = AF_INET6;
        v6->sin6_addr = in6addr_loopback;
        length = sizeof(*v6);
    } else {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
        v4->sin_family = AF_INET;
        v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof(*v4);
    }
    if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(m_listener, 128) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return;
    }
    m_port = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                                      : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

LoopbackPeer::~LoopbackPeer()
{
    CloseAll();
}

std::uint32_t LoopbackPeer::LoopbackAddress()
{
    return htonl(INADDR_LOOPBACK);
}

bool LoopbackPeer::WaitReadable(int fd, std::chrono::milliseconds timeout)
{
    pollfd p{fd, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&p, 1, static_cast<int>(timeout.count()));
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

bool LoopbackPeer::Accept(std::chrono::milliseconds timeout)
{
    if (m_listener < 0 || !WaitReadable(m_listener, timeout)) {
        return false;
    }
    m_connection = ::accept(m_listener, nullptr, nullptr);
    return m_connection >= 0;
}

bool LoopbackPeer::SendAll(const void* data, std::size_t length)
{
    const auto* bytes = static_cast<const char*>(data);
    while (length > 0) {
        const ssize_t n = ::send(m_connection, bytes, length, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

bool LoopbackPeer::ReadExactly(std::size_t length, std::string* out, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string got;
    char chunk[65536];
    while (got.size() < length) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !WaitReadable(m_connection, left)) {
            return false;
        }
        const std::size_t want = std::min(sizeof(chunk), length - got.size());
        const ssize_t n = ::recv(m_connection, chunk, want, 0);
        if (n <= 0) {
            return false;
        }
        got.append(chunk, static_cast<std::size_t>(n));
    }
    if (out) {
        *out = std::move(got);
    }
    return true;
}

bool LoopbackPeer::WaitForClose(std::chrono::milliseconds timeout)
{
    char chunk[4096];
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !WaitReadable(m_connection, left)) {
            return false;
        }
        const ssize_t n = ::recv(m_connection, chunk, sizeof(chunk), 0);
        if (n <= 0) {
            return true;
        }
    }
}

void LoopbackPeer::ShutdownConnection()
{
    if (m_connection >= 0)
        ::shutdown(m_connection, SHUT_RDWR);
}

void LoopbackPeer::CloseConnection()
{
    if (m_connection >= 0) {
        ::shutdown(m_connection, SHUT_RDWR);
        ::close(m_connection);
        m_connection = -1;
    }
}

void LoopbackPeer::CloseAll()
{
    CloseConnection();
    if (m_listener >= 0) {
        ::close(m_listener);
        m_listener = -1;
    }
}

std::uint64_t LoopbackPeer::DrainFrom(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    std::uint64_t total = 0;
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
        static char buffer[64 * 1024];
        for (;;) {
            const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
            if (n <= 0) {
                break;
            }
            total += static_cast<std::uint64_t>(n);
        }
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return total;
}
