#include "HttpFileServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <thread>
#include <vector>

namespace publisher {

namespace {

constexpr size_t kMaxHead = 64 * 1024;

bool sendAll(int fd, const char* data, size_t length)
{
    while (length > 0) {
        ssize_t n = ::send(fd, data, length, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

struct Request {
    std::string method, target, version;
    std::string range, connection;
};

// Parses the head (request line and headers). False when malformed.
bool parseHead(const std::string& head, Request& r)
{
    size_t lineEnd = head.find("\r\n");
    std::string line = head.substr(0, lineEnd);
    size_t a = line.find(' '), b = line.rfind(' ');
    if (a == std::string::npos || b == a)
        return false;
    r.method = line.substr(0, a);
    r.target = line.substr(a + 1, b - a - 1);
    r.version = line.substr(b + 1);
    for (size_t pos = lineEnd + 2; pos < head.size();) {
        size_t next = head.find("\r\n", pos);
        if (next == std::string::npos)
            break;
        std::string h = head.substr(pos, next - pos);
        pos = next + 2;
        size_t colon = h.find(':');
        if (colon == std::string::npos)
            continue;
        std::string name = h.substr(0, colon);
        size_t vs = h.find_first_not_of(' ', colon + 1);
        std::string value = vs == std::string::npos ? "" : h.substr(vs);
        if (strcasecmp(name.c_str(), "Range") == 0)
            r.range = value;
        else if (strcasecmp(name.c_str(), "Connection") == 0)
            r.connection = value;
    }
    return true;
}

// "bytes=N-" or "bytes=N-M" against a file of size; false when unusable.
bool parseRange(const std::string& value, uint64_t size, uint64_t& first, uint64_t& last)
{
    if (value.compare(0, 6, "bytes=") != 0)
        return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long f = strtoull(value.c_str() + 6, &end, 10);
    if (errno || end == value.c_str() + 6 || *end != '-')
        return false;
    unsigned long long l = size ? size - 1 : 0;
    if (end[1] != '\0') {
        char* end2 = nullptr;
        l = strtoull(end + 1, &end2, 10);
        if (*end2 != '\0' || l < f)
            return false;
        if (size && l > size - 1)
            l = size - 1;
    }
    first = f;
    last = l;
    return true;
}

} // namespace

bool decodeTargetPath(const std::string& target, std::string& path)
{
    std::string raw = target.substr(0, target.find('?'));
    if (raw.empty() || raw[0] != '/')
        return false;
    path.clear();
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '%' && i + 2 < raw.size() && hexValue(raw[i + 1]) >= 0 && hexValue(raw[i + 2]) >= 0) {
            char c = static_cast<char>(hexValue(raw[i + 1]) * 16 + hexValue(raw[i + 2]));
            if (c == '\0')
                return false;
            path.push_back(c);
            i += 2;
        } else {
            path.push_back(raw[i]);
        }
    }
    // No way out of the served folder.
    for (size_t pos = 0; pos != std::string::npos;) {
        size_t next = path.find('/', pos + 1);
        std::string seg = path.substr(pos + 1, next == std::string::npos ? std::string::npos : next - pos - 1);
        if (seg == "..")
            return false;
        pos = next;
    }
    return true;
}

HttpFileServer::HttpFileServer(ServerOptions options) : options_(std::move(options)) {}

HttpFileServer::~HttpFileServer()
{
    stopping_ = true;
}

uint16_t HttpFileServer::listenOn(uint16_t port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 128) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        return 0;
    }
    std::thread([this, fd] { acceptLoop(fd); }).detach();
    return ntohs(a.sin_port);
}

void HttpFileServer::acceptLoop(int listenFd)
{
    while (!stopping_) {
        int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED || errno == EMFILE || errno == ENFILE)
                continue;
            break;
        }
        std::thread([this, fd] { serveConnection(fd); }).detach();
    }
    ::close(listenFd);
}

void HttpFileServer::serveConnection(int fd)
{
    std::string buffered;
    std::vector<char> chunk(64 * 1024);
    for (;;) {
        size_t headEnd;
        while ((headEnd = buffered.find("\r\n\r\n")) == std::string::npos) {
            if (buffered.size() > kMaxHead) {
                ::close(fd);
                return;
            }
            ssize_t n = ::recv(fd, chunk.data(), chunk.size(), 0);
            if (n <= 0) {
                ::close(fd);
                return;
            }
            buffered.append(chunk.data(), static_cast<size_t>(n));
        }
        std::string head = buffered.substr(0, headEnd + 4);
        buffered.erase(0, headEnd + 4);

        Request r;
        std::string path;
        int status = 200;
        std::string reason = "OK";
        int file = -1;
        struct stat st {};
        if (!parseHead(head, r) || (r.method != "GET" && r.method != "HEAD")) {
            status = 400, reason = "Bad Request";
        } else if (!decodeTargetPath(r.target, path)) {
            status = 404, reason = "Not Found";
        } else {
            file = ::open((options_.root + path).c_str(), O_RDONLY | O_CLOEXEC);
            if (file < 0 || fstat(file, &st) != 0 || !S_ISREG(st.st_mode)) {
                status = 404, reason = "Not Found";
            }
        }
        const bool keepAlive = r.version == "HTTP/1.1" && strcasecmp(r.connection.c_str(), "close") != 0;
        uint64_t size = status == 200 ? static_cast<uint64_t>(st.st_size) : 0;
        uint64_t first = 0, last = size ? size - 1 : 0;
        std::string extra;
        if (status == 200 && !r.range.empty()) {
            if (parseRange(r.range, size, first, last) && first < size) {
                status = 206, reason = "Partial Content";
                extra = "Content-Range: bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
                        std::to_string(size) + "\r\n";
            } else if (parseRange(r.range, size, first, last)) {
                status = 416, reason = "Range Not Satisfiable";
                extra = "Content-Range: bytes */" + std::to_string(size) + "\r\n";
            }
        }
        uint64_t bodyLength = (status == 200 || status == 206) && size ? last - first + 1 : 0;
        std::string body;
        if (status >= 400)
            body = std::to_string(status) + " " + reason + "\n", bodyLength = body.size();
        std::string out = "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n" +
                          "Server: publisher_server\r\n" + "Content-Length: " + std::to_string(bodyLength) + "\r\n" +
                          (status < 400 ? "Content-Type: application/octet-stream\r\nAccept-Ranges: bytes\r\n" : "") +
                          extra + (keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n") + "\r\n";
        if (options_.logRequests)
            fprintf(stderr, "publisher_server: %s %s -> %d\n", r.method.c_str(), r.target.c_str(), status);
        bool ok = sendAll(fd, out.data(), out.size());
        if (ok && r.method == "GET") {
            if (!body.empty()) {
                ok = sendAll(fd, body.data(), body.size());
            } else if (bodyLength > 0) {
                // Paced in slices of a tenth of a second when a rate is set.
                const size_t slice = options_.rateLimit ? std::max<uint64_t>(1, options_.rateLimit / 10) : chunk.size();
                auto next = std::chrono::steady_clock::now();
                for (uint64_t off = first; ok && off <= last;) {
                    size_t want = static_cast<size_t>(
                        std::min<uint64_t>({uint64_t{chunk.size()}, uint64_t{slice}, last - off + 1}));
                    ssize_t n = ::pread(file, chunk.data(), want, static_cast<off_t>(off));
                    if (n <= 0) {
                        ok = false;
                        break;
                    }
                    ok = sendAll(fd, chunk.data(), static_cast<size_t>(n));
                    off += static_cast<uint64_t>(n);
                    if (options_.rateLimit) {
                        next += std::chrono::microseconds(100000) * n / static_cast<long>(slice);
                        std::this_thread::sleep_until(next);
                    }
                }
            }
        }
        if (file >= 0)
            ::close(file);
        if (!ok || !keepAlive || status == 400) {
            ::close(fd);
            return;
        }
    }
}

} // namespace publisher
