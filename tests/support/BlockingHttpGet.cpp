#include "BlockingHttpGet.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

std::string blockingHttpGet(uint16_t port, const std::string& target, const std::string& extraHeaders)
{
    return blockingHttpGet("127.0.0.1", port, target, extraHeaders);
}

std::string blockingHttpGet(const std::string& address, uint16_t port, const std::string& target,
                            const std::string& extraHeaders)
{
    sockaddr_storage a{};
    socklen_t length = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&a);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&a);
    if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        length = sizeof *v6;
    } else {
        inet_pton(AF_INET, address.c_str(), &v4->sin_addr);
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        length = sizeof *v4;
    }
    const std::string host = a.ss_family == AF_INET6 ? "[" + address + "]" : address;
    int fd = ::socket(a.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::string out;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), length) == 0) {
        const std::string request =
            "GET " + target + " HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n" + extraHeaders + "\r\n";
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        char buf[65536];
        ssize_t n;
        while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0)
            out.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return out;
}

std::string responseBody(const std::string& response)
{
    size_t p = response.find("\r\n\r\n");
    return p == std::string::npos ? std::string() : response.substr(p + 4);
}

} // namespace testsupport
