#include "ByteByByteRelay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

namespace {

sockaddr_in loopback(uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

} // namespace

ByteByByteRelay::ByteByByteRelay(uint16_t serverPort) : serverPort_(serverPort)
{
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(0);
    socklen_t size = sizeof address;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), size);
    ::listen(listener_, 1);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { run(); });
}

ByteByByteRelay::~ByteByByteRelay()
{
    stop_ = true;
    thread_.join();
    ::close(listener_);
}

void ByteByByteRelay::run()
{
    pollfd waiting{listener_, POLLIN, 0};
    while (!stop_ && ::poll(&waiting, 1, 100) == 0) {}
    if (stop_)
        return;
    const int client = ::accept(listener_, nullptr, nullptr);
    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = loopback(serverPort_);
    const int one = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (client >= 0 && ::connect(server, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        pump(client, server);
    ::close(server);
    if (client >= 0)
        ::close(client);
}

void ByteByByteRelay::pump(int client, int server)
{
    char buffer[16384];
    while (!stop_) {
        pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        if (::poll(fds, 2, 100) <= 0)
            continue;
        if (fds[0].revents) {
            const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0 || ::send(server, buffer, static_cast<size_t>(n), MSG_NOSIGNAL) != n)
                return;
        }
        if (fds[1].revents) {
            const ssize_t n = ::recv(server, buffer, sizeof buffer, 0);
            if (n <= 0)
                return;
            for (ssize_t i = 0; i < n; ++i) {
                if (::send(client, buffer + i, 1, MSG_NOSIGNAL) != 1)
                    return;
            }
        }
    }
}

} // namespace testsupport
