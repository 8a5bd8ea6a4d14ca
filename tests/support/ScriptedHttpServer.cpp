#include "ScriptedHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <strings.h>

namespace testsupport {

namespace {
thread_local ScriptedHttpServer* tlsServer = nullptr; // the server whose handler runs on this thread
constexpr size_t kMaxHead = 64 * 1024;

// Waits until fd is readable; false on time-out or when the server is being
// destroyed (its stop descriptor became readable), so handlers end promptly.
bool waitReadable(int fd, std::chrono::milliseconds timeout)
{
    pollfd p[2] = {{fd, POLLIN, 0}, {tlsServer ? tlsServer->stopFd() : -1, POLLIN, 0}};
    int n = poll(p, 2, static_cast<int>(timeout.count()));
    return n > 0 && p[0].revents != 0 && p[1].revents == 0;
}
} // namespace

std::string HttpRequest::header(const std::string& name) const
{
    for (const auto& [n, v] : headers)
        if (strcasecmp(n.c_str(), name.c_str()) == 0)
            return v;
    return {};
}

bool HttpRequest::hasHeader(const std::string& name) const
{
    return std::any_of(headers.begin(), headers.end(),
                       [&](const auto& h) { return strcasecmp(h.first.c_str(), name.c_str()) == 0; });
}

long long parseRangeStart(const std::string& rangeHeader)
{
    const std::string prefix = "bytes=";
    if (rangeHeader.compare(0, prefix.size(), prefix) != 0)
        return -1;
    size_t dash = rangeHeader.find('-', prefix.size());
    if (dash == std::string::npos || dash == prefix.size())
        return -1;
    long long v = 0;
    for (size_t i = prefix.size(); i < dash; ++i) {
        if (rangeHeader[i] < '0' || rangeHeader[i] > '9')
            return -1;
        v = v * 10 + (rangeHeader[i] - '0');
    }
    return v;
}

HttpConnection::HttpConnection(int fd) : fd_(fd) {}

HttpConnection::~HttpConnection()
{
    close();
}

std::optional<HttpRequest> HttpConnection::readRequest(std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        size_t end = pending_.find("\r\n\r\n");
        if (end != std::string::npos) {
            HttpRequest r;
            r.rawHead = pending_.substr(0, end + 4);
            pending_.erase(0, end + 4);
            size_t lineEnd = r.rawHead.find("\r\n");
            std::string line = r.rawHead.substr(0, lineEnd);
            size_t sp1 = line.find(' ');
            size_t sp2 = line.rfind(' ');
            if (sp1 != std::string::npos) {
                r.method = line.substr(0, sp1);
                r.target = line.substr(sp1 + 1, (sp2 > sp1 ? sp2 : line.size()) - sp1 - 1);
            }
            size_t pos = lineEnd + 2;
            while (pos < end) {
                size_t next = r.rawHead.find("\r\n", pos);
                std::string h = r.rawHead.substr(pos, next - pos);
                size_t colon = h.find(':');
                if (colon != std::string::npos) {
                    size_t vs = colon + 1;
                    while (vs < h.size() && h[vs] == ' ')
                        ++vs;
                    r.headers.emplace_back(h.substr(0, colon), h.substr(vs));
                }
                pos = next + 2;
            }
            if (tlsServer)
                tlsServer->record(r);
            return r;
        }
        if (fd_ < 0 || pending_.size() > kMaxHead)
            return std::nullopt;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        if (!waitReadable(fd_, left))
            return std::nullopt;
        char buf[4096];
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0)
            return std::nullopt;
        pending_.append(buf, static_cast<size_t>(n));
    }
}

bool HttpConnection::send(const std::string& bytes)
{
    size_t off = 0;
    while (off < bytes.size()) {
        if (fd_ < 0)
            return false;
        ssize_t n = ::send(fd_, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        off += static_cast<size_t>(n);
    }
    return true;
}

bool HttpConnection::respond(int status, const std::string& reason, const std::string& body,
                             const std::vector<std::pair<std::string, std::string>>& headers)
{
    std::string head = "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n";
    bool hasLength = false;
    for (const auto& [n, v] : headers) {
        head += n + ": " + v + "\r\n";
        hasLength |= strcasecmp(n.c_str(), "Content-Length") == 0;
    }
    if (!hasLength)
        head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    head += "\r\n";
    return send(head + body);
}

bool HttpConnection::waitForPeerClose(std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (fd_ >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        if (!waitReadable(fd_, left))
            return false;
        char buf[4096];
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0)
            return true;
    }
    return true;
}

void HttpConnection::close(bool reset)
{
    if (fd_ < 0)
        return;
    if (reset) {
        linger l{1, 0};
        setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    ::close(fd_);
    fd_ = -1;
}

ScriptedHttpServer::ScriptedHttpServer(Handler handler, int family) : handler_(std::move(handler)), family_(family)
{
    listenFd_ = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_storage a{};
    socklen_t len = 0;
    if (family == AF_INET6) {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&a);
        v6->sin6_family = AF_INET6;
        v6->sin6_addr = in6addr_loopback;
        len = sizeof *v6;
    } else {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&a);
        v4->sin_family = AF_INET;
        v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        len = sizeof *v4;
    }
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), len) == 0 && ::listen(listenFd_, 64) == 0) {
        getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&a)->sin6_port
                                         : reinterpret_cast<sockaddr_in*>(&a)->sin_port);
    }
    wakeFd_ = eventfd(0, EFD_CLOEXEC);
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

ScriptedHttpServer::~ScriptedHttpServer()
{
    uint64_t one = 1;
    [[maybe_unused]] ssize_t w = ::write(wakeFd_, &one, sizeof one);
    acceptThread_.join();
    for (auto& t : workers_)
        t.join();
    ::close(listenFd_);
    ::close(wakeFd_);
}

std::string ScriptedHttpServer::url(const std::string& path) const
{
    return (family_ == AF_INET6 ? "http://[::1]:" : "http://127.0.0.1:") + std::to_string(port_) + path;
}

int ScriptedHttpServer::connectionCount() const
{
    std::lock_guard lock(mutex_);
    return connections_;
}

std::vector<HttpRequest> ScriptedHttpServer::requests() const
{
    std::lock_guard lock(mutex_);
    return requests_;
}

bool ScriptedHttpServer::waitForConnections(int n, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return connections_ >= n; });
}

void ScriptedHttpServer::record(const HttpRequest& r)
{
    std::lock_guard lock(mutex_);
    requests_.push_back(r);
    changed_.notify_all();
}

void ScriptedHttpServer::acceptLoop()
{
    for (;;) {
        pollfd p[2] = {{listenFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (poll(p, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (p[1].revents)
            return;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        int index;
        {
            std::lock_guard lock(mutex_);
            index = connections_++;
            changed_.notify_all();
        }
        workers_.emplace_back([this, fd, index] {
            tlsServer = this;
            HttpConnection c(fd);
            handler_(c, index);
        });
    }
}

ScriptedHttpServer::Handler ScriptedHttpServer::serveBody(std::string body)
{
    return [body = std::move(body)](HttpConnection& c, int) {
        while (auto r = c.readRequest()) {
            const bool closeAfter = strcasecmp(r->header("Connection").c_str(), "close") == 0;
            long long start = parseRangeStart(r->header("Range"));
            if (start < 0) {
                if (!c.respond(200, "OK", body))
                    return;
            } else if (static_cast<size_t>(start) >= body.size()) {
                if (!c.respond(416, "Range Not Satisfiable", ""))
                    return;
            } else {
                std::string part = body.substr(static_cast<size_t>(start));
                std::string range = "bytes " + std::to_string(start) + "-" + std::to_string(body.size() - 1) + "/" +
                                    std::to_string(body.size());
                if (!c.respond(206, "Partial Content", part, {{"Content-Range", range}}))
                    return;
            }
            if (closeAfter)
                return;
        }
    };
}

} // namespace testsupport
