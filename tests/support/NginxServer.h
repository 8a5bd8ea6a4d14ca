#pragma once
// A real nginx serving a folder on 127.0.0.1, started from a generated
// configuration in its own temporary prefix and stopped with the object.
#include <cstdint>
#include <string>
#include <vector>

#include "TempDir.h"

namespace testsupport {

class NginxServer {
public:
    // extraLocations: nginx "location" blocks added to the server, for example
    //   "location = /old.bin { return 302 /new.bin; }"
    explicit NginxServer(std::string documentRoot, std::vector<std::string> extraLocations = {});
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    // Serves over TLS with this certificate and key (PEM files) and only
    // these protocols; `ciphers`, when given, replaces nginx's cipher list
    // (for example "DEFAULT@SECLEVEL=0" to allow TLS 1.0). Call before start().
    struct Tls {
        std::string certificate;
        std::string key;
        std::string protocols = "TLSv1.2 TLSv1.3";
        std::string ciphers;
    };
    void useTls(Tls tls) { tls_ = std::move(tls); }
    // Listens on this address instead of 127.0.0.1 ("::1" for IPv6 only).
    // Call before start().
    void listenOn(std::string address) { address_ = std::move(address); }

    // Starts nginx and waits until it accepts connections; false with a reason
    // in error() when nginx is missing or does not come up.
    bool start();
    void stop();

    uint16_t port() const { return port_; }
    // "http://127.0.0.1:<port>" + path, or "https://..." with TLS ("[::1]"
    // for an IPv6 address).
    std::string url(const std::string& path) const;
    const std::string& error() const { return error_; }

    // The nginx program, or empty when it is not installed.
    static std::string program();

private:
    std::string documentRoot_;
    std::vector<std::string> extraLocations_;
    Tls tls_;
    std::string address_ = "127.0.0.1";
    TempDir prefix_{"meshdrop-nginx"};
    uint16_t port_ = 0;
    int pid_ = -1;
    std::string error_;
};

} // namespace testsupport
