#include "AgentServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
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

constexpr auto kHealthDeadline = std::chrono::seconds(2);
constexpr std::size_t kMaxHealthChecks = 64;
constexpr std::size_t kMaxHealthRequest = 4096;
constexpr int kAcceptsPerRound = 64;

void SetNonBlocking(int fd)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
}

std::string PeerText(const sockaddr_storage& address)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
        return "[" + std::string(text) + "]:" + std::to_string(ntohs(v6.sin6_port));
    }
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
    inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(v4.sin_port));
}

// A listening socket on a numeric address of either family; -1 with the
// reason in `error`.
int ListenOn(const std::string& address, std::uint16_t port, std::uint16_t* bound, std::string* error)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    addrinfo* found = nullptr;
    if (getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found) {
        *error = "not a numeric IPv4 or IPv6 address: " + address;
        return -1;
    }
    const int fd = socket(found->ai_family, SOCK_STREAM, 0);
    const int on = 1;
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    const bool listening = fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
                           bind(fd, found->ai_addr, found->ai_addrlen) == 0 && listen(fd, 512) == 0 &&
                           getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0;
    freeaddrinfo(found);
    if (!listening) {
        *error = "cannot listen on " + address + " port " + std::to_string(port) + ": " + std::strerror(errno);
        if (fd >= 0)
            close(fd);
        return -1;
    }
    SetNonBlocking(fd);
    *bound = ntohs(local.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6&>(local).sin6_port
                                               : reinterpret_cast<const sockaddr_in&>(local).sin_port);
    return fd;
}

std::string HealthAnswer(bool healthy, std::string error)
{
    std::replace_if(
        error.begin(), error.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    const std::string body = healthy ? "ok\n" : "store failing: " + error + "\n";
    return std::string(healthy ? "HTTP/1.0 200 OK" : "HTTP/1.0 503 Service Unavailable") +
           "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

int PollTimeout(Server::Clock::time_point deadline, Server::Clock::time_point now)
{
    if (deadline == Server::Clock::time_point::max())
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60000));
}

} // namespace

Server::Server(Store& store, std::FILE* events) : writer_(store), events_(events)
{
    if (pipe(wake_) == 0) {
        SetNonBlocking(wake_[0]);
        SetNonBlocking(wake_[1]);
    }
}

Server::~Server()
{
    for (const auto& connection : connections_) {
        if (connection->fd >= 0)
            close(connection->fd);
    }
    for (const auto& check : healthChecks_)
        close(check->fd);
    for (int fd : {listener_, healthListener_, wake_[0], wake_[1]}) {
        if (fd >= 0)
            close(fd);
    }
}

bool Server::Listen(const ServerOptions& options)
{
    options_ = options;
    listener_ = ListenOn(options.address, options.port, &port_, &error_);
    if (listener_ >= 0 && options.health)
        healthListener_ = ListenOn(options.address, options.healthPort, &healthPort_, &error_);
    return listener_ >= 0 && (!options.health || healthListener_ >= 0);
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
    if (!events_)
        return;
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(events_, format, arguments);
    va_end(arguments);
    std::fputc('\n', events_);
}

bool Server::MakeRoom()
{
    Connection* oldest = nullptr;
    for (const auto& connection : connections_) {
        if (connection->fd >= 0 && connection->IsIdle() && (!oldest || connection->lastActivity < oldest->lastActivity))
            oldest = connection.get();
    }
    if (!oldest)
        return false;
    Announce("agent_server closed peer=%s reason=room for a new connection", oldest->peer.c_str());
    Close(*oldest);
    return true;
}

void Server::Accept(Clock::time_point now)
{
    for (int round = 0; round < kAcceptsPerRound; ++round) {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        const int fd = accept(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        if (fd < 0)
            return;
        const auto open = std::count_if(connections_.begin(), connections_.end(),
                                        [](const auto& connection) { return connection->fd >= 0; });
        if (open >= options_.maxConnections && !MakeRoom()) {
            Announce("agent_server rejected peer=%s reason=connection cap", PeerText(address).c_str());
            close(fd);
            continue;
        }
        SetNonBlocking(fd);
        auto connection = std::make_unique<Connection>();
        connection->id = nextId_++;
        connection->fd = fd;
        connection->peer = PeerText(address);
        connection->lastActivity = now;
        byId_[connection->id] = connection.get();
        connections_.push_back(std::move(connection));
    }
}

void Server::Close(Connection& connection)
{
    if (connection.fd < 0)
        return;
    close(connection.fd);
    connection.fd = -1;
    byId_.erase(connection.id);
    // Reports no batch has taken yet are not stored: the client sends them again.
    pendingRecords_ -= writer_.Cancel(connection.id);
}

bool Server::ReadsFrom(const Connection& connection) const
{
    return connection.pendingReports < kMaxPendingReports && connection.pendingRecords < AGENT_MAX_RECORDS &&
           pendingRecords_ < kMaxPendingRecords;
}

bool Server::Receive(Connection& connection, Clock::time_point now)
{
    std::uint8_t buffer[FrameReader::kReadSize];
    const ssize_t got = recv(connection.fd, buffer, sizeof buffer, 0);
    if (got < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    if (got == 0) {
        if (connection.reader.HasPartialFrame())
            Announce("agent_server rejected peer=%s reason=truncated frame", connection.peer.c_str());
        return false;
    }
    connection.lastActivity = now;
    const bool continuing = connection.reader.HasPartialFrame();
    const std::size_t before = connection.pendingReports;
    connection.reader.Append(buffer, static_cast<std::size_t>(got));
    if (!SubmitReports(connection))
        return false;
    // A frame's time runs from its first byte.
    if (!connection.reader.HasPartialFrame())
        connection.frameStarted = {};
    else if (!continuing || connection.pendingReports > before)
        connection.frameStarted = now;
    return true;
}

bool Server::SubmitReports(Connection& connection)
{
    for (;;) {
        PendingReport pending;
        switch (connection.reader.Next(&pending.report)) {
        case FrameReader::Status::NeedMore:
            return true;
        case FrameReader::Status::Rejected:
            Announce("agent_server rejected peer=%s reason=%s", connection.peer.c_str(),
                     connection.reader.GetRejection().c_str());
            return false;
        case FrameReader::Status::Report:
            break;
        }
        const std::size_t records = pending.report.records.size();
        pending.connection = connection.id;
        pending.peer = connection.peer;
        pending.receivedAt = static_cast<std::int64_t>(std::time(nullptr));
        writer_.Submit(std::move(pending));
        ++connection.pendingReports;
        connection.pendingRecords += records;
        pendingRecords_ += records;
    }
}

bool Server::Flush(Connection& connection)
{
    while (!connection.outbox.empty()) {
        const ssize_t sent = send(connection.fd, connection.outbox.data(), connection.outbox.size(), MSG_NOSIGNAL);
        if (sent < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        connection.outbox.erase(0, static_cast<std::size_t>(sent));
    }
    return true;
}

void Server::TakeStoreResults()
{
    static const std::string answer = nwAgentAnswerFrame(AGENT_ANSWER_STORED);
    const auto now = Clock::now();
    for (const StoreResult& result : writer_.TakeResults()) {
        pendingRecords_ -= result.records;
        const auto found = byId_.find(result.connection);
        if (found == byId_.end())
            continue; // closed meanwhile: its client sends the report again
        Connection& connection = *found->second;
        --connection.pendingReports;
        connection.pendingRecords -= result.records;
        connection.lastActivity = now;
        if (!result.stored) {
            // No answer: the peer must not take the report for stored.
            Announce("agent_server rejected peer=%s reason=%s", connection.peer.c_str(), result.error.c_str());
            Close(connection);
            continue;
        }
        Announce("agent_server stored report=%lld records=%zu peer=%s", static_cast<long long>(result.id),
                 result.records, connection.peer.c_str());
        connection.outbox += answer;
        if (!Flush(connection) || connection.outbox.size() > kMaxOutbox) {
            Announce("agent_server rejected peer=%s reason=answers not read", connection.peer.c_str());
            Close(connection);
        }
    }
}

bool Server::WithinDeadlines(Connection& connection, Clock::time_point now)
{
    if (connection.reader.HasPartialFrame() && now - connection.frameStarted >= kFrameDeadline) {
        Announce("agent_server rejected peer=%s reason=frame not complete within %lld s", connection.peer.c_str(),
                 static_cast<long long>(kFrameDeadline.count()));
        return false;
    }
    return !connection.IsIdle() || now - connection.lastActivity < std::chrono::seconds(options_.idleSeconds);
}

Server::Clock::time_point Server::NextDeadline() const
{
    auto deadline = Clock::time_point::max();
    for (const auto& connection : connections_) {
        if (connection->reader.HasPartialFrame())
            deadline = std::min(deadline, connection->frameStarted + kFrameDeadline);
        else if (connection->IsIdle())
            deadline = std::min(deadline, connection->lastActivity + std::chrono::seconds(options_.idleSeconds));
    }
    for (const auto& check : healthChecks_)
        deadline = std::min(deadline, check->deadline);
    return deadline;
}

void Server::AcceptHealthChecks(Clock::time_point now)
{
    for (;;) {
        const int fd = accept(healthListener_, nullptr, nullptr);
        if (fd < 0)
            return;
        if (healthChecks_.size() >= kMaxHealthChecks) {
            close(fd);
            continue;
        }
        SetNonBlocking(fd);
        auto check = std::make_unique<HealthCheck>();
        check->fd = fd;
        check->outbox = HealthAnswer(writer_.IsHealthy(), writer_.GetLastError());
        check->deadline = now + kHealthDeadline;
        healthChecks_.push_back(std::move(check));
    }
}

bool Server::ServeHealthCheck(HealthCheck& check, short revents, Clock::time_point now)
{
    // The request (if any) is read and dropped, so that closing does not
    // reset the connection before the answer is read.
    if (revents & (POLLIN | POLLHUP | POLLERR)) {
        char buffer[1024];
        const ssize_t got = recv(check.fd, buffer, sizeof buffer, 0);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR))
            return false;
        if (got > 0 && (check.received += static_cast<std::size_t>(got)) > kMaxHealthRequest)
            return false;
    }
    if (!check.outbox.empty() && (revents & POLLOUT)) {
        const ssize_t sent = send(check.fd, check.outbox.data(), check.outbox.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (sent > 0)
            check.outbox.erase(0, static_cast<std::size_t>(sent));
        if (check.outbox.empty())
            shutdown(check.fd, SHUT_WR);
    }
    return now < check.deadline;
}

bool Server::Run()
{
    std::vector<pollfd> fds;
    for (;;) {
        fds.assign({{wake_[0], POLLIN, 0},
                    {writer_.EventFd(), POLLIN, 0},
                    {listener_, POLLIN, 0},
                    {healthListener_, POLLIN, 0}});
        constexpr std::size_t kFirstConnection = 4;
        for (const auto& connection : connections_) {
            const short events =
                static_cast<short>((ReadsFrom(*connection) ? POLLIN : 0) | (connection->outbox.empty() ? 0 : POLLOUT));
            fds.push_back({connection->fd, events, 0});
        }
        const std::size_t firstCheck = fds.size();
        for (const auto& check : healthChecks_)
            fds.push_back({check->fd, static_cast<short>(POLLIN | (check->outbox.empty() ? 0 : POLLOUT)), 0});
        std::fflush(events_);
        if (poll(fds.data(), fds.size(), PollTimeout(NextDeadline(), Clock::now())) < 0 && errno != EINTR) {
            error_ = std::string("poll: ") + std::strerror(errno);
            return false;
        }
        if (fds[0].revents)
            return true;
        const auto now = Clock::now();
        if (fds[1].revents)
            TakeStoreResults();
        // Connections by their place in this round (results may have closed
        // some); accepted ones join the next.
        const std::size_t polled = firstCheck - kFirstConnection;
        for (std::size_t i = 0; i < polled; ++i) {
            Connection& connection = *connections_[i];
            const short revents = fds[kFirstConnection + i].revents;
            if (connection.fd < 0)
                continue;
            bool open = true;
            if (revents & POLLIN)
                open = Receive(connection, now);
            else if (revents & (POLLHUP | POLLERR))
                open = false; // gone while it was not being read
            if (open && (revents & POLLOUT))
                open = Flush(connection);
            if (!open || !WithinDeadlines(connection, now))
                Close(connection);
        }
        for (std::size_t i = 0; i < healthChecks_.size(); ++i) {
            if (!ServeHealthCheck(*healthChecks_[i], fds[firstCheck + i].revents, now)) {
                close(healthChecks_[i]->fd);
                healthChecks_[i]->fd = -1;
            }
        }
        std::erase_if(healthChecks_, [](const auto& check) { return check->fd < 0; });
        std::erase_if(connections_, [](const auto& connection) { return connection->fd < 0; });
        if (fds[2].revents & POLLIN)
            Accept(now);
        if (healthListener_ >= 0 && (fds[3].revents & POLLIN))
            AcceptHealthChecks(now);
    }
}

} // namespace agent
