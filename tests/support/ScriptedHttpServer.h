#pragma once
// An HTTP/1.1 server on 127.0.0.1 whose every connection is handled by a test's
// own function, so that a test can answer exactly as a faulty server would: a
// head split across writes, a body in pieces, an early close, a stall, a
// redirect without Location, no Content-Length...
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

struct HttpRequest {
    std::string method;
    std::string target;                                       // as sent on the request line
    std::string rawHead;                                      // everything up to and including the blank line
    std::vector<std::pair<std::string, std::string>> headers; // in order, names as sent

    // Value of the first header whose name matches case-insensitively, or empty.
    std::string header(const std::string& name) const;
    bool hasHeader(const std::string& name) const;
};

// One accepted connection, handed to the test's handler on its own thread.
class HttpConnection {
public:
    explicit HttpConnection(int fd);
    ~HttpConnection();
    HttpConnection(const HttpConnection&) = delete;
    HttpConnection& operator=(const HttpConnection&) = delete;

    // Reads one request head (bytes up to the blank line). Empty when the peer
    // closed or nothing complete arrived within the timeout.
    std::optional<HttpRequest> readRequest(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Writes all bytes; false when the peer is gone.
    bool send(const std::string& bytes);
    // A complete response with Content-Length (unless the headers give their own).
    bool respond(int status, const std::string& reason, const std::string& body,
                 const std::vector<std::pair<std::string, std::string>>& headers = {});
    // Waits until the peer closes the connection (or the timeout passes);
    // true when it closed. Used to stall a client until its own time-out ends it.
    bool waitForPeerClose(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    // Closes at once; with reset, the close sends an RST instead of a FIN.
    void close(bool reset = false);

private:
    int fd_;
    std::string pending_; // bytes read past the last request head
};

class ScriptedHttpServer {
public:
    using Handler = std::function<void(HttpConnection&, int connectionIndex)>;

    // Starts listening on an ephemeral port of 127.0.0.1 at once (of ::1
    // with AF_INET6; port() is 0 when the machine has no IPv6 loopback).
    explicit ScriptedHttpServer(Handler handler, int family = AF_INET);
    ~ScriptedHttpServer(); // stops accepting, waits for the handlers to return
    ScriptedHttpServer(const ScriptedHttpServer&) = delete;
    ScriptedHttpServer& operator=(const ScriptedHttpServer&) = delete;

    uint16_t port() const { return port_; }
    // "http://127.0.0.1:<port>" + path (or "http://[::1]:<port>" + path)
    std::string url(const std::string& path) const;

    // Connections accepted so far.
    int connectionCount() const;
    // Requests read so far through HttpConnection::readRequest, in arrival order.
    std::vector<HttpRequest> requests() const;
    // Waits until at least n connections were accepted.
    bool waitForConnections(int n, std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;

    // Serves a fixed body for every request: 200 with Content-Length, honouring
    // "Range: bytes=N-" with 206. The handler most tests need.
    static Handler serveBody(std::string body);

    // Readable once the server is being destroyed.
    int stopFd() const { return wakeFd_; }

private:
    friend class HttpConnection;
    void acceptLoop();
    void record(const HttpRequest& r);

    Handler handler_;
    int listenFd_ = -1;
    int wakeFd_ = -1;
    uint16_t port_ = 0;
    int family_ = AF_INET;
    std::thread acceptThread_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::thread> workers_;
    std::vector<HttpRequest> requests_;
    int connections_ = 0;
};

// Parses "bytes=N-" (the only form the downloader sends); -1 when absent or another form.
long long parseRangeStart(const std::string& rangeHeader);

} // namespace testsupport
