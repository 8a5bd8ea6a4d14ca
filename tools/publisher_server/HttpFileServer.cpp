#include "HttpFileServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
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

// Serves one connection until the client closes it, asks to, or falls silent.
void serveConnection(const ServerOptions& options, int fd)
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
        if (!parseRequestHead(head, r) || (r.method != "GET" && r.method != "HEAD")) {
            status = 400, reason = "Bad Request";
        } else if (!decodeTargetPath(r.target, path)) {
            status = 404, reason = "Not Found";
        } else {
            file = ::open((options.root + path).c_str(), O_RDONLY | O_CLOEXEC);
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
        if (options.logRequests)
            fprintf(stderr, "publisher_server: %s %s -> %d\n", r.method.c_str(), r.target.c_str(), status);
        bool ok = sendAll(fd, out.data(), out.size());
        if (ok && r.method == "GET") {
            if (!body.empty()) {
                ok = sendAll(fd, body.data(), body.size());
            } else if (bodyLength > 0) {
                // Paced in slices of a tenth of a second when a rate is set.
                const size_t slice = options.rateLimit ? std::max<uint64_t>(1, options.rateLimit / 10) : chunk.size();
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
                    if (options.rateLimit) {
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

} // namespace

struct HttpFileServer::Shared {
    ServerOptions options;
    std::mutex mutex;
    std::condition_variable changed;
    bool stopping = false;
    unsigned busy = 0;          // connection threads running, against the bound
    std::vector<int> listeners; // listening sockets whose accept loop runs

    explicit Shared(ServerOptions o) : options(std::move(o)) {}

    void acceptLoop(const std::shared_ptr<Shared>& self, int listenFd)
    {
        for (;;) {
            {
                // A client beyond the bound waits in the listen queue.
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return stopping || busy < options.maxConnections; });
                if (stopping)
                    break;
            }
            int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno == EINTR || errno == ECONNABORTED || errno == EMFILE || errno == ENFILE)
                    continue;
                break;
            }
            timeval timeout{static_cast<time_t>(options.receiveTimeoutSeconds), 0};
            setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
            setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
            {
                std::lock_guard<std::mutex> lock(mutex);
                ++busy;
            }
            std::thread([self, fd] {
                serveConnection(self->options, fd);
                std::lock_guard<std::mutex> lock(self->mutex);
                --self->busy;
                self->changed.notify_all();
            }).detach();
        }
        std::lock_guard<std::mutex> lock(mutex);
        listeners.erase(std::remove(listeners.begin(), listeners.end(), listenFd), listeners.end());
        ::close(listenFd);
    }
};

HttpFileServer::HttpFileServer(ServerOptions options) : shared_(std::make_shared<Shared>(std::move(options)))
{
    if (shared_->options.maxConnections == 0)
        shared_->options.maxConnections = 1;
}

HttpFileServer::~HttpFileServer()
{
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->stopping = true;
    // Wakes an accept loop blocked in accept(); it closes its socket itself.
    for (int fd : shared_->listeners)
        ::shutdown(fd, SHUT_RDWR);
    shared_->changed.notify_all();
}

uint16_t HttpFileServer::listenOn(uint16_t port, const std::string& address)
{
    sockaddr_storage a{};
    socklen_t len = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&a);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&a);
    if (inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        len = sizeof *v4;
    } else if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        len = sizeof *v6;
    } else {
        errno = EINVAL;
        return 0;
    }
    int fd = ::socket(a.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (a.ss_family == AF_INET6)
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one); // this address only
    const socklen_t size = len;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), size) != 0 || ::listen(fd, 128) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        return 0;
    }
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->listeners.push_back(fd);
    }
    std::thread([shared = shared_, fd] { shared->acceptLoop(shared, fd); }).detach();
    return ntohs(a.ss_family == AF_INET6 ? v6->sin6_port : v4->sin_port);
}

} // namespace publisher
