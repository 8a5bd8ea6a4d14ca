#include "AgentServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <ctime>

#include "nw/nwAgentWire.h"
#include "nw/nwFrame.h"

namespace agent {

namespace {

void SetNonBlocking(int fd)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
}

std::string PeerText(const sockaddr_in& address)
{
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

// The answer frame: one byte, padded.
std::string AnswerFrame(std::uint8_t answer)
{
    std::string frame(nwFrameTotalSize(1), '\0');
    nwFrameHeader header;
    header.messageClass = AGENT_CLASS;
    header.messageType = AGENT_MSG_ANSWER;
    header.payloadLength = nwFrameTotalSize(1) - nwFrameHeader::kSize;
    header.Encode(reinterpret_cast<std::uint8_t*>(frame.data()));
    frame[nwFrameHeader::kSize] = static_cast<char>(answer);
    return frame;
}

} // namespace

Server::Server(Store& store, std::FILE* events) : store_(store), events_(events)
{
    if (pipe(wake_) == 0) {
        SetNonBlocking(wake_[0]);
        SetNonBlocking(wake_[1]);
    }
}

Server::~Server()
{
    for (const auto& connection : connections_) {
        close(connection->fd);
    }
    for (int fd : {listener_, wake_[0], wake_[1]}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

bool Server::Listen(const ServerOptions& options)
{
    options_ = options;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(options.port);
    if (inet_pton(AF_INET, options.address.c_str(), &address.sin_addr) != 1) {
        error_ = "not an IPv4 address: " + options.address;
        return false;
    }
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    socklen_t length = sizeof address;
    if (listener_ < 0 || setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener_, 128) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        error_ = std::string("cannot listen on ") + options.address + ":" + std::to_string(options.port) + ": " +
                 std::strerror(errno);
        return false;
    }
    SetNonBlocking(listener_);
    port_ = ntohs(address.sin_port);
    return true;
}

void Server::Stop()
{
    const char byte = 1;
    if (write(wake_[1], &byte, 1) < 0) {
        // The pipe is full: a stop is pending already.
    }
}

void Server::Announce(const char* format, ...)
{
    if (!events_) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(events_, format, arguments);
    va_end(arguments);
    std::fputc('\n', events_);
    std::fflush(events_);
}

void Server::Accept()
{
    for (;;) {
        sockaddr_in address{};
        socklen_t length = sizeof address;
        const int fd = accept(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        if (fd < 0) {
            return;
        }
        if (static_cast<int>(connections_.size()) >= options_.maxConnections) {
            close(fd);
            continue;
        }
        SetNonBlocking(fd);
        auto connection = std::make_unique<Connection>();
        connection->fd = fd;
        connection->peer = PeerText(address);
        connection->lastActivity = std::chrono::steady_clock::now();
        connections_.push_back(std::move(connection));
    }
}

bool Server::Receive(Connection& connection)
{
    std::uint8_t buffer[FrameReader::kReadSize];
    const ssize_t got = recv(connection.fd, buffer, sizeof buffer, 0);
    if (got < 0) {
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    }
    if (got == 0) {
        if (connection.reader.HasPartialFrame()) {
            Announce("agent_server rejected peer=%s reason=truncated frame", connection.peer.c_str());
        }
        return false;
    }
    connection.lastActivity = std::chrono::steady_clock::now();
    connection.reader.Append(buffer, static_cast<std::size_t>(got));
    return StoreReports(connection) && Flush(connection);
}

bool Server::StoreReports(Connection& connection)
{
    for (;;) {
        Report report;
        switch (connection.reader.Next(&report)) {
        case FrameReader::Status::NeedMore:
            return true;
        case FrameReader::Status::Rejected:
            Announce("agent_server rejected peer=%s reason=%s", connection.peer.c_str(),
                     connection.reader.GetRejection().c_str());
            return false;
        case FrameReader::Status::Report:
            break;
        }
        std::int64_t id = 0;
        if (!store_.Add(report, static_cast<std::int64_t>(std::time(nullptr)), connection.peer, &id)) {
            // No answer: the peer must not take the report for stored.
            Announce("agent_server rejected peer=%s reason=%s", connection.peer.c_str(), store_.GetError().c_str());
            return false;
        }
        Announce("agent_server stored report=%lld records=%zu peer=%s", static_cast<long long>(id),
                 report.records.size(), connection.peer.c_str());
        connection.outbox += AnswerFrame(AGENT_ANSWER_STORED);
        if (connection.outbox.size() > kMaxOutbox) {
            Announce("agent_server rejected peer=%s reason=answers not read", connection.peer.c_str());
            return false;
        }
    }
}

bool Server::Flush(Connection& connection)
{
    while (!connection.outbox.empty()) {
        const ssize_t sent = send(connection.fd, connection.outbox.data(), connection.outbox.size(), MSG_NOSIGNAL);
        if (sent < 0) {
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        }
        connection.outbox.erase(0, static_cast<std::size_t>(sent));
    }
    return true;
}

bool Server::Run()
{
    using Clock = std::chrono::steady_clock;
    const auto idle = std::chrono::seconds(options_.idleSeconds);
    std::vector<pollfd> fds;
    for (;;) {
        fds.assign({{wake_[0], POLLIN, 0}, {listener_, POLLIN, 0}});
        auto deadline = Clock::time_point::max();
        for (const auto& connection : connections_) {
            const short events = static_cast<short>(POLLIN | (connection->outbox.empty() ? 0 : POLLOUT));
            fds.push_back({connection->fd, events, 0});
            deadline = std::min(deadline, connection->lastActivity + idle);
        }
        int timeout = -1;
        if (deadline != Clock::time_point::max()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            timeout = static_cast<int>(std::max<long long>(left.count(), 0));
        }
        if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
            error_ = std::string("poll: ") + std::strerror(errno);
            return false;
        }
        if (fds[0].revents) {
            return true;
        }
        // Connections first, by their place in this round; accepted ones join the next.
        const auto now = Clock::now();
        std::vector<std::unique_ptr<Connection>> kept;
        for (std::size_t i = 0; i < connections_.size(); ++i) {
            Connection& connection = *connections_[i];
            const short revents = fds[i + 2].revents;
            bool open = true;
            if (revents & (POLLIN | POLLHUP | POLLERR)) {
                open = Receive(connection);
            }
            if (open && (revents & POLLOUT)) {
                open = Flush(connection);
            }
            if (open && now - connection.lastActivity >= idle) {
                open = false;
            }
            if (open) {
                kept.push_back(std::move(connections_[i]));
            } else {
                close(connection.fd);
            }
        }
        connections_ = std::move(kept);
        if (fds[1].revents & POLLIN) {
            Accept();
        }
    }
}

} // namespace agent
