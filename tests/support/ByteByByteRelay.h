#pragma once
// Relays one connection on 127.0.0.1 to a server, handing the server's bytes
// to the client one byte per write (with TCP_NODELAY), so that the client
// receives the server's records in many small pieces.
#include <atomic>
#include <cstdint>
#include <thread>

namespace testsupport {

class ByteByByteRelay {
public:
    explicit ByteByByteRelay(uint16_t serverPort);
    ~ByteByByteRelay();
    ByteByByteRelay(const ByteByByteRelay&) = delete;
    ByteByByteRelay& operator=(const ByteByByteRelay&) = delete;

    uint16_t port() const { return port_; }

private:
    void run();
    void pump(int client, int server);

    uint16_t serverPort_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace testsupport
