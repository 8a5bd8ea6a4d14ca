#include "EngineTestSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <thread>

#include "LoopbackPort.h"

namespace enginetest {

std::uint16_t FreePort()
{
    return testsupport::freeLoopbackPort();
}

EngineProcess::EngineProcess(std::string driveC, std::map<std::string, std::string> environment)
    : m_driveC(std::move(driveC)), m_environment(std::move(environment))
{}

EngineProcess::~EngineProcess()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
}

bool EngineProcess::Start(std::uint16_t port, const std::vector<std::string>& wrapper)
{
    // Installed as the library installs it: under its name, in a folder of
    // its own (where it also writes its log).
    const std::string program = m_folder.file("QLSDownloadV32.exe");
    std::error_code error;
    std::filesystem::copy_file(ENGINE_PROGRAM, program, std::filesystem::copy_options::overwrite_existing, error);
    if (error) {
        return false;
    }
    m_port = port ? port : FreePort();
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) {
        return false;
    }
    std::vector<std::string> arguments = wrapper;
    arguments.push_back(program);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(ready[1], 3); // dup2 clears close-on-exec on the copy
        ::setenv("MESHDROP_READY_FD", "3", 1);
        ::setenv("MESHDROP_ENGINE_PORT", std::to_string(m_port).c_str(), 1);
        ::setenv("MESHDROP_DRIVE_C", m_driveC.c_str(), 1);
        for (const auto& [name, value] : m_environment) {
            ::setenv(name.c_str(), value.c_str(), 1);
        }
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(ready[1]);
    m_pid = pid;
    // Ready when the engine closed its end (or died).
    pollfd wait{ready[0], POLLIN, 0};
    const bool signalled = ::poll(&wait, 1, 30000) == 1;
    char byte = 0;
    const bool closed = signalled && ::read(ready[0], &byte, 1) == 0;
    ::close(ready[0]);
    // A descriptor closed by a process that died is no readiness.
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        return false;
    }
    return closed;
}

void EngineProcess::Signal(int signal)
{
    if (m_pid > 0) {
        ::kill(m_pid, signal);
    }
}

int EngineProcess::WaitExit(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (m_pid > 0) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return -1;
        }
        // A child's exit has no descriptor to wait on here: check every 20 ms.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

std::string EngineProcess::Log() const
{
    return testsupport::readFile(m_folder.file("QLSDownloadV32.log"));
}

RangeServer::RangeServer(std::string body, std::uint64_t bytesPerSecond, Hook hook)
    : m_body(std::move(body)), m_rate(bytesPerSecond), m_hook(std::move(hook)),
      m_server([this](testsupport::HttpConnection& c, int) { Serve(c); })
{}

void RangeServer::Serve(testsupport::HttpConnection& connection)
{
    if (m_down) {
        connection.close(true);
        return;
    }
    const std::string etag = "\"" + std::to_string(m_body.size()) + "-1\"";
    while (auto request = connection.readRequest()) {
        if (m_down) {
            connection.close(true);
            return;
        }
        long long first = 0;
        long long last = static_cast<long long>(m_body.size()) - 1;
        const std::string range = request->header("Range");
        if (range.rfind("bytes=", 0) == 0) {
            const std::size_t dash = range.find('-');
            first = std::stoll(range.substr(6, dash - 6));
            if (dash + 1 < range.size()) {
                last = std::min(last, std::stoll(range.substr(dash + 1)));
            }
        }
        if (m_hook && m_hook(connection, *request, first, last)) {
            continue;
        }
        if (first > last) {
            connection.respond(416, "Range Not Satisfiable", "",
                               {{"Content-Range", "bytes */" + std::to_string(m_body.size())}});
            continue;
        }
        const std::string head = "HTTP/1.1 206 Partial Content\r\nContent-Length: " + std::to_string(last - first + 1) +
                                 "\r\nContent-Range: bytes " + std::to_string(first) + "-" + std::to_string(last) +
                                 "/" + std::to_string(m_body.size()) + "\r\nETag: " + etag + "\r\n\r\n";
        if (!connection.send(head)) {
            return;
        }
        // The body in pieces, each counted once sent, paced when a rate is set.
        constexpr long long kPiece = 16 * 1024;
        const auto start = std::chrono::steady_clock::now();
        for (long long at = first; at <= last; at += kPiece) {
            if (m_down) {
                connection.close(true);
                return;
            }
            const long long size = std::min(kPiece, last - at + 1);
            if (!connection.send(m_body.substr(static_cast<std::size_t>(at), static_cast<std::size_t>(size)))) {
                return;
            }
            m_sent += static_cast<std::uint64_t>(size);
            if (m_rate) {
                const auto due =
                    start + std::chrono::microseconds((at - first + size) * 1'000'000 / static_cast<long long>(m_rate));
                std::this_thread::sleep_until(due);
            }
        }
    }
}

WebServer::WebServer(Kind kind, std::string root) : m_kind(kind), m_root(std::move(root)) {}

WebServer::~WebServer()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
    }
}

const char* WebServer::Name(Kind kind)
{
    switch (kind) {
    case Kind::Apache:
        return "Apache";
    case Kind::Lighttpd:
        return "lighttpd";
    case Kind::Python:
        return "Python";
    }
    return "";
}

std::string WebServer::Url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

std::vector<std::string> WebServer::Command()
{
    const std::string& p = m_prefix.path();
    const std::string port = std::to_string(m_port);
    switch (m_kind) {
    case Kind::Apache:
        // Run as root, Apache serves as nobody: the folder must be open to it.
        testsupport::writeFile(p + "/httpd.conf",
                               "ServerRoot \"" + p + "\"\nServerName 127.0.0.1\nListen 127.0.0.1:" + port +
                                   "\nPidFile " + p + "/httpd.pid\nDefaultRuntimeDir " + p + "\nErrorLog " + p +
                                   "/error.log\nLogLevel warn\n"
                                   "LoadModule mpm_event_module /usr/lib/apache2/modules/mod_mpm_event.so\n"
                                   "LoadModule authz_core_module /usr/lib/apache2/modules/mod_authz_core.so\n"
                                   "User nobody\nGroup nogroup\nDocumentRoot \"" +
                                   m_root + "\"\n<Directory \"" + m_root +
                                   "\">\n  Require all granted\n</Directory>\n");
        return {"/usr/sbin/apache2", "-X", "-f", p + "/httpd.conf"};
    case Kind::Lighttpd:
        testsupport::writeFile(p + "/lighttpd.conf", "server.document-root = \"" + m_root +
                                                         "\"\nserver.bind = \"127.0.0.1\"\nserver.port = " + port +
                                                         "\nserver.errorlog = \"" + p + "/error.log\"\n");
        return {"/usr/sbin/lighttpd", "-D", "-f", p + "/lighttpd.conf"};
    case Kind::Python:
        return {"/usr/bin/python3", "-m", "http.server", port, "--bind", "127.0.0.1", "--directory", m_root};
    }
    return {};
}

bool WebServer::Start()
{
    m_port = FreePort();
    std::vector<std::string> command = Command();
    if (::access(command.front().c_str(), X_OK) != 0) {
        m_error = command.front() + " is not installed (scripts/install-deps.sh installs it)";
        return false;
    }
    std::filesystem::permissions(m_root, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                             std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                                             std::filesystem::perms::others_exec);
    // Nothing is allocated between fork and exec: other threads run.
    std::vector<char*> argv;
    for (std::string& argument : command) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    m_pid = pid;
    // Ready once it accepts a connection (or gone).
    const bool up = PollUntil(
        [&] {
            if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
                m_pid = -1;
                return true;
            }
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            address.sin_port = htons(m_port);
            const bool accepted = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
            ::close(fd);
            return accepted;
        },
        std::chrono::seconds(20));
    if (!up || m_pid < 0) {
        m_error = std::string(Name(m_kind)) + " did not start: " + testsupport::readFile(m_prefix.file("error.log"));
        return false;
    }
    return true;
}

void SubmitJob(CDNTestConnection& connection, std::uint32_t jobNumber, const std::vector<TestFile>& files, bool consent,
               bool fileByFile)
{
    connection.Send([&](ovICDNLocalClientLayer& layer) {
        nwCDNRegion region{};
        nwCDNPutField(region.code, sizeof region.code, "TW");
        layer.SendRegion(&region);
        const nwCDNJobMode mode{static_cast<std::uint8_t>(consent ? CDN_MODE_FULL : CDN_MODE_LIMITED), 0, {}};
        layer.SendJobMode(&mode);
        nwCDNJobHeader header{jobNumber, static_cast<std::uint32_t>(files.size()), {}};
        nwCDNPutField(header.serviceId, sizeof header.serviceId, "test-service");
        std::vector<nwCDNJobListItem> items(files.size());
        for (std::size_t i = 0; i < files.size(); ++i) {
            items[i].fields.fileOption = 1;
            items[i].fields.size = files[i].size;
            nwCDNPutField(items[i].fields.folder, sizeof items[i].fields.folder, files[i].folder);
            nwCDNPutField(items[i].fields.fileName, sizeof items[i].fields.fileName, files[i].name);
            items[i].url = files[i].url.c_str();
        }
        if (!fileByFile) {
            const nwCDNJobList list{header, items.data()};
            layer.SendJobList(&list);
            return;
        }
        layer.SendJobHeader(&header);
        for (std::uint32_t i = 0; i < files.size(); ++i) {
            const nwCDNJobItem item{jobNumber, i, items[i].fields, items[i].url};
            layer.SendJobItem(&item);
        }
        layer.SendJobEnd(jobNumber);
    });
}

bool WaitFor(CDNTestConnection& connection, const std::string& kind, int count)
{
    return connection.WaitFor(kind, count, std::chrono::seconds(90));
}

bool PollUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        // The condition is on another process's files: nothing to wait on.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

} // namespace enginetest
