#pragma once
// The other end of a test connection: a plain blocking POSIX socket on
// 127.0.0.1 (or ::1), independent of the Win32 layer under test. The
// constructor listens on a free port; Accept() waits for the connection.

#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <string>

class LoopbackPeer {
public:
    // On 127.0.0.1, or on ::1 with AF_INET6 (Port() is 0 when the machine has
    // no IPv6 loopback).
    explicit LoopbackPeer(int family = AF_INET);
    ~LoopbackPeer();
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    // Port in host order, 0 when listening failed.
    std::uint16_t Port() const { return m_port; }
    // 127.0.0.1 in network byte order.
    static std::uint32_t LoopbackAddress();

    bool Accept(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    bool SendAll(const void* data, std::size_t length);
    bool SendAll(const std::string& data) { return SendAll(data.data(), data.size()); }
    // Reads exactly `length` bytes, or fails after the timeout or on close.
    bool ReadExactly(std::size_t length, std::string* out,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Waits until the peer closes (read returns 0 or a reset).
    bool WaitForClose(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Ends the connection both ways without closing the descriptor, so that a
    // sender blocked in another thread wakes up; close once it has returned.
    void ShutdownConnection();
    void CloseConnection();
    // A plain blocking client: connects to 127.0.0.1:port and reads until the
    // other side closes; answers the bytes read.
    static std::uint64_t DrainFrom(std::uint16_t port);
    // Closes the listener too: a later connect is refused.
    void CloseAll();

private:
    bool WaitReadable(int fd, std::chrono::milliseconds timeout);

    int m_listener = -1;
    int m_connection = -1;
    std::uint16_t m_port = 0;
};
