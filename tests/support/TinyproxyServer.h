#pragma once
// A real tinyproxy on 127.0.0.1, started from a generated configuration and
// stopped with the object. It can resolve names of its own ("127.0.0.1
// origin.meshdrop.test") in a mount namespace whose /etc/hosts only it sees:
// an origin named so is then reachable through the proxy and in no other
// way. Needs the tinyproxy program and, for those names, the right to make
// mount namespaces (root).
#include <cstdint>
#include <string>
#include <vector>

#include "TempDir.h"

namespace testsupport {

class TinyproxyServer {
public:
    struct Options {
        std::string hostsLines; // /etc/hosts lines only the proxy sees; empty for none
        std::string user;       // Basic credentials the proxy requires; empty for none
        std::string password;
    };

    explicit TinyproxyServer(Options options);
    ~TinyproxyServer();
    TinyproxyServer(const TinyproxyServer&) = delete;
    TinyproxyServer& operator=(const TinyproxyServer&) = delete;

    // Starts tinyproxy and waits until it accepts connections; false with a
    // reason in error().
    bool start();
    void stop();

    uint16_t port() const { return port_; }
    // "http://[user:password@]127.0.0.1:<port>"
    std::string url(bool withCredentials = true) const;
    // The requests the proxy has logged ("GET http://..." or "CONNECT host:port").
    std::vector<std::string> requests() const;
    const std::string& error() const { return error_; }

    static std::string program();

private:
    Options options_;
    TempDir dir_{"meshdrop-tinyproxy"};
    uint16_t port_ = 0;
    int pid_ = -1;
    std::string error_;
};

} // namespace testsupport
