#include "BlockingHttpGet.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

std::string blockingHttpGet(uint16_t port, const std::string& target, const std::string& extraHeaders)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    std::string out;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        const std::string request =
            "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + extraHeaders + "\r\n";
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
