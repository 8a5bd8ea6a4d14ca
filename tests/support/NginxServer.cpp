#include "NginxServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace testsupport {

namespace {

// The socket address of `address` (either family) and `port`; its length.
socklen_t socketAddress(const std::string& address, uint16_t port, sockaddr_storage* out)
{
    *out = {};
    auto* v6 = reinterpret_cast<sockaddr_in6*>(out);
    if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        return sizeof *v6;
    }
    auto* v4 = reinterpret_cast<sockaddr_in*>(out);
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &v4->sin_addr);
    return sizeof *v4;
}

uint16_t freePort(const std::string& address)
{
    sockaddr_storage a{};
    socklen_t len = socketAddress(address, 0, &a);
    int fd = ::socket(a.ss_family, SOCK_STREAM, 0);
    uint16_t port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), len) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&a)->sin6_port
                                             : reinterpret_cast<sockaddr_in*>(&a)->sin_port);
    ::close(fd);
    return port;
}

bool accepts(const std::string& address, uint16_t port)
{
    sockaddr_storage a{};
    const socklen_t len = socketAddress(address, port, &a);
    int fd = ::socket(a.ss_family, SOCK_STREAM, 0);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), len) == 0;
    ::close(fd);
    return ok;
}

std::string hostText(const std::string& address)
{
    return address.find(':') == std::string::npos ? address : "[" + address + "]";
}

} // namespace

std::string NginxServer::program()
{
    for (const char* p : {"/usr/sbin/nginx", "/usr/bin/nginx", "/usr/local/sbin/nginx"})
        if (access(p, X_OK) == 0)
            return p;
    return {};
}

NginxServer::NginxServer(std::string documentRoot, std::vector<std::string> extraLocations)
    : documentRoot_(std::move(documentRoot)), extraLocations_(std::move(extraLocations))
{}

NginxServer::~NginxServer()
{
    stop();
}

std::string NginxServer::url(const std::string& path) const
{
    return (tls_.certificate.empty() ? "http://" : "https://") + hostText(address_) + ":" + std::to_string(port_) +
           path;
}

bool NginxServer::start()
{
    const std::string nginx = program();
    if (nginx.empty()) {
        error_ = "nginx is not installed (scripts/install-deps.sh installs it)";
        return false;
    }
    // The port is chosen free just before nginx binds it; another process could
    // take it in between, so a few attempts are made.
    for (int attempt = 0; attempt < 5; ++attempt) {
        port_ = freePort(address_);
        const std::string& p = prefix_.path();
        std::ofstream conf(p + "/nginx.conf", std::ios::trunc);
        conf << "daemon off;\n"
                "master_process off;\n"
                "worker_processes 1;\n"
                "pid "
             << p
             << "/nginx.pid;\n"
                "error_log "
             << p
             << "/error.log warn;\n"
                "events { worker_connections 256; }\n"
                "http {\n"
                "  access_log "
             << p
             << "/access.log;\n"
                "  client_body_temp_path "
             << p
             << "/body;\n"
                "  proxy_temp_path "
             << p
             << "/proxy;\n"
                "  fastcgi_temp_path "
             << p
             << "/fastcgi;\n"
                "  uwsgi_temp_path "
             << p
             << "/uwsgi;\n"
                "  scgi_temp_path "
             << p
             << "/scgi;\n"
                "  default_type application/octet-stream;\n"
                "  sendfile on;\n"
                "  keepalive_timeout 30;\n"
                "  server {\n"
                "    listen "
             << hostText(address_) << ":" << port_ << (tls_.certificate.empty() ? "" : " ssl")
             << ";\n"
                "    root "
             << documentRoot_ << ";\n";
        if (!tls_.certificate.empty()) {
            conf << "    ssl_certificate " << tls_.certificate << ";\n"
                 << "    ssl_certificate_key " << tls_.key << ";\n"
                 << "    ssl_protocols " << tls_.protocols << ";\n";
            if (!tls_.ciphers.empty())
                conf << "    ssl_ciphers " << tls_.ciphers << ";\n";
        }
        for (const auto& loc : extraLocations_)
            conf << "    " << loc << "\n";
        conf << "  }\n}\n";
        conf.close();

        pid_t pid = fork();
        if (pid == 0) {
            execl(nginx.c_str(), nginx.c_str(), "-p", p.c_str(), "-c", (p + "/nginx.conf").c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        pid_ = pid;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            if (accepts(address_, port_))
                return true;
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                break; // nginx ended: most likely the port was taken; try another
            }
            // Polling for a foreign process to start listening: there is no
            // event to wait on, so check every 20 ms until the deadline.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        stop();
    }
    std::ifstream log(prefix_.path() + "/error.log");
    error_ = "nginx did not start: " + std::string(std::istreambuf_iterator<char>(log), {});
    return false;
}

void NginxServer::stop()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
    }
}

} // namespace testsupport
