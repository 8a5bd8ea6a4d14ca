#pragma once
// A static-file HTTP/1.1 server: GET and HEAD, keep-alive, "Range: bytes=N-"
// and "bytes=N-M", 404 for anything missing. One thread per connection, at
// most `maxConnections` at once (further clients wait in the listen queue),
// and a connection that sends nothing for `receiveTimeoutSeconds` is closed.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "HttpRequest.h"

namespace publisher {

struct ServerOptions {
    std::string root;         // folder served as "/"
    uint64_t rateLimit = 0;   // bytes per second per connection; 0 = unlimited
    bool logRequests = false; // one line per request on stderr
    unsigned maxConnections = 64;
    unsigned receiveTimeoutSeconds = 30; // also bounds each send
};

class HttpFileServer {
public:
    explicit HttpFileServer(ServerOptions options);
    // Stops accepting; connections being served finish on their own.
    ~HttpFileServer();
    HttpFileServer(const HttpFileServer&) = delete;
    HttpFileServer& operator=(const HttpFileServer&) = delete;

    // Listens on address:port (0 = any free port; an address of either
    // family, "127.0.0.1" or "::1") and serves it on a thread of its own.
    // Returns the bound port, or 0 with errno set (EINVAL for an address
    // that is none).
    uint16_t listenOn(uint16_t port, const std::string& address = "127.0.0.1");

private:
    struct Shared;
    // Shared with the accept and connection threads, which may outlive the server.
    std::shared_ptr<Shared> shared_;
};

} // namespace publisher
