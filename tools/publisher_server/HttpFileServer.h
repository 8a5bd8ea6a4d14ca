#pragma once
// A static-file HTTP/1.1 server: GET and HEAD, keep-alive, "Range: bytes=N-"
// and "bytes=N-M", 404 for anything missing. One thread per connection, which
// is plenty for a publisher server on loopback.
#include <atomic>
#include <cstdint>
#include <string>

namespace publisher {

struct ServerOptions {
    std::string root;         // folder served as "/"
    uint64_t rateLimit = 0;   // bytes per second per connection; 0 = unlimited
    bool logRequests = false; // one line per request on stderr
};

class HttpFileServer {
public:
    explicit HttpFileServer(ServerOptions options);
    ~HttpFileServer();
    HttpFileServer(const HttpFileServer&) = delete;
    HttpFileServer& operator=(const HttpFileServer&) = delete;

    // Listens on 127.0.0.1:port (0 = any free port) and serves it on a thread
    // of its own. Returns the bound port, or 0 with errno set.
    uint16_t listenOn(uint16_t port);

private:
    void acceptLoop(int listenFd);
    void serveConnection(int fd);

    ServerOptions options_;
    std::atomic<bool> stopping_{false};
};

// "/a%20b/../c" -> false (no ".." segments); decodes %XX; strips the query.
bool decodeTargetPath(const std::string& target, std::string& path);

} // namespace publisher
