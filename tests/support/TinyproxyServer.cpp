#include "TinyproxyServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "PrivateHosts.h"

namespace testsupport {

namespace {

uint16_t freeLoopbackPort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    uint16_t port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

bool accepts(uint16_t port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

} // namespace

std::string TinyproxyServer::program()
{
    for (const char* p : {"/usr/bin/tinyproxy", "/usr/sbin/tinyproxy", "/usr/local/bin/tinyproxy"})
        if (access(p, X_OK) == 0)
            return p;
    return {};
}

TinyproxyServer::TinyproxyServer(Options options) : options_(std::move(options)) {}

TinyproxyServer::~TinyproxyServer()
{
    stop();
}

std::string TinyproxyServer::url(bool withCredentials) const
{
    const std::string credentials =
        withCredentials && !options_.user.empty() ? options_.user + ":" + options_.password + "@" : "";
    return "http://" + credentials + "127.0.0.1:" + std::to_string(port_);
}

bool TinyproxyServer::start()
{
    const std::string tinyproxy = program();
    if (tinyproxy.empty()) {
        error_ = "tinyproxy is not installed (scripts/install-deps.sh installs it)";
        return false;
    }
    if (!options_.hostsLines.empty() && getuid() != 0) {
        error_ = "the proxy's own host names need a mount namespace, which only root may make";
        return false;
    }
    const std::string hosts = dir_.file("hosts");
    writeFile(hosts, readFile("/etc/hosts") + "\n" + options_.hostsLines + "\n");
    // The port is chosen free just before tinyproxy binds it; another process
    // could take it in between, so a few attempts are made.
    for (int attempt = 0; attempt < 5; ++attempt) {
        port_ = freeLoopbackPort();
        std::ofstream conf(dir_.file("tinyproxy.conf"), std::ios::trunc);
        conf << "Port " << port_ << "\nListen 127.0.0.1\nTimeout 60\nMaxClients 64\nAllow 127.0.0.1\n"
             << "LogLevel Connect\nLogFile \"" << dir_.file("tinyproxy.log") << "\"\n"
             << "DisableViaHeader Yes\n";
        if (!options_.user.empty())
            conf << "BasicAuth " << options_.user << " " << options_.password << "\n";
        conf.close();
        const std::string command = tinyproxy + " -d -c " + dir_.file("tinyproxy.conf");
        const std::string line = options_.hostsLines.empty() ? "exec " + command : commandWithHosts(hosts, command);
        pid_t pid = fork();
        if (pid == 0) {
            // Its own process group, so that nothing of it outlives stop().
            setpgid(0, 0);
            execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        pid_ = pid;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            if (accepts(port_))
                return true;
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                break; // most likely the port was taken; try another
            }
            // Polling for a foreign process to start listening: there is no
            // event to wait on, so check every 20 ms until the deadline.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        stop();
    }
    error_ = "tinyproxy did not start: " + readFile(dir_.file("tinyproxy.log"));
    return false;
}

void TinyproxyServer::stop()
{
    if (pid_ > 0) {
        kill(-pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
    }
}

std::vector<std::string> TinyproxyServer::requests() const
{
    std::vector<std::string> found;
    std::istringstream log(readFile(dir_.file("tinyproxy.log")));
    const std::string marker = "]: Request (file descriptor ";
    for (std::string line; std::getline(log, line);) {
        const size_t at = line.find(marker);
        const size_t text = at == std::string::npos ? at : line.find("): ", at);
        if (text != std::string::npos)
            found.push_back(line.substr(text + 3));
    }
    return found;
}

} // namespace testsupport
