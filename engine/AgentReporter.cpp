#include "AgentReporter.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "EngineLog.h"
#include "Job.h"
#include "nw/nwFrame.h"

// The agent server's host, the same build setting as the library's.
#ifndef QLS_AGENT_HOST
#define QLS_AGENT_HOST "127.0.0.1"
#endif

namespace engine {

namespace {

// An answer frame is 16 bytes; more than this unread means a broken peer.
constexpr std::size_t kMaxInbox = 64 * 1024;

int MillisecondsUntil(std::chrono::steady_clock::time_point now, std::chrono::steady_clock::time_point then)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(then - now).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60000));
}

} // namespace

AgentSettings DefaultAgentSettings()
{
    AgentSettings settings;
    settings.host = QLS_AGENT_HOST;
    settings.port = nwAgentServerPort();
    return settings;
}

std::vector<nwAgentReportRecord> MakeJobReport(const Job& job)
{
    std::vector<nwAgentReportRecord> records;
    for (const auto& file : job.Files()) {
        if (file->fetched > 0)
            records.push_back(nwMakeAgentRecord(job.ServiceId(), file->Order().urlEntry, file->fetched));
    }
    return records;
}

AgentReporter::AgentReporter(AgentSettings settings)
    : m_settings(std::move(settings)), m_wakeFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), m_queue(m_settings.delays)
{
    m_thread = std::thread(&AgentReporter::Run, this);
}

AgentReporter::~AgentReporter()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_stopping = true;
    Wake();
    m_drained.wait_for(lock, kDrainTimeout, [&] { return m_queue.IsEmpty() || m_failedWhileStopping; });
    if (!m_queue.IsEmpty())
        Log("agent server %s port %u: %zu reports not delivered", m_settings.host.c_str(), m_settings.port,
            m_queue.GetPendingCount());
    m_quit = true;
    lock.unlock();
    Wake();
    m_thread.join();
    if (m_fd >= 0)
        ::close(m_fd);
    ::close(m_wakeFd);
}

void AgentReporter::Wake()
{
    const std::uint64_t one = 1;
    if (::write(m_wakeFd, &one, sizeof one) < 0) {
        // The counter is full: the thread wakes anyway.
    }
}

void AgentReporter::Report(const std::vector<nwAgentReportRecord>& records)
{
    if (records.empty() || m_settings.port == 0)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const std::size_t dropped : m_queue.Add(records.data(), static_cast<std::uint32_t>(records.size())))
        Log("agent reports: queue full, a report of %zu files dropped", dropped);
    Wake();
}

std::size_t AgentReporter::GetPendingCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_queue.GetPendingCount();
}

bool AgentReporter::Connect(Clock::time_point now)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (::getaddrinfo(m_settings.host.c_str(), std::to_string(m_settings.port).c_str(), &hints, &found) == 0) {
        // The first address a connect can start on; a refusal shows later.
        for (const addrinfo* address = found; address && m_fd < 0; address = address->ai_next) {
            m_fd = ::socket(address->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (m_fd >= 0 && ::connect(m_fd, address->ai_addr, address->ai_addrlen) != 0 && errno != EINPROGRESS) {
                ::close(m_fd);
                m_fd = -1;
            }
        }
        ::freeaddrinfo(found);
    }
    if (m_fd < 0) {
        Disconnect(true, now);
        return false;
    }
    m_connecting = true;
    m_deadline = now + kConnectTimeout;
    return true;
}

void AgentReporter::Disconnect(bool failed, Clock::time_point now)
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_connecting = false;
    m_outbox.clear();
    m_inbox.clear();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!failed || m_queue.IsEmpty())
        return;
    const std::uint32_t delayMs = m_queue.OnConnectionLost();
    m_retryAt = now + std::chrono::milliseconds(delayMs);
    Log("agent server %s port %u not reached: %zu reports kept, next try in %u ms", m_settings.host.c_str(),
        m_settings.port, m_queue.GetPendingCount(), delayMs);
    if (m_stopping) {
        m_failedWhileStopping = true;
        m_drained.notify_all();
    }
}

void AgentReporter::FillOutbox()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    while (const nwAgentReportQueue::Entry* entry = m_queue.TakeNextToSend())
        m_outbox += nwAgentReportFrame(entry->data(), static_cast<std::uint32_t>(entry->size()));
}

bool AgentReporter::Receive()
{
    char buffer[4096];
    const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, 0);
    if (got < 0)
        return errno == EAGAIN || errno == EINTR;
    if (got == 0 || m_inbox.size() + static_cast<std::size_t>(got) > kMaxInbox)
        return false;
    m_inbox.append(buffer, static_cast<std::size_t>(got));
    std::size_t used = 0;
    while (m_inbox.size() - used >= nwFrameHeader::kSize) {
        const nwFrameHeader header =
            nwFrameHeader::Decode(reinterpret_cast<const std::uint8_t*>(m_inbox.data() + used));
        if (header.messageClass != AGENT_CLASS || header.messageType != AGENT_MSG_ANSWER || header.payloadLength == 0 ||
            header.payloadLength > kMaxInbox)
            return false;
        if (m_inbox.size() - used < nwFrameHeader::kSize + header.payloadLength)
            break;
        used += nwFrameHeader::kSize + header.payloadLength;
        std::lock_guard<std::mutex> lock(m_mutex);
        // Answers come in the order the reports were sent.
        m_queue.OnAnswer();
        if (m_queue.IsEmpty())
            m_drained.notify_all();
    }
    m_inbox.erase(0, used);
    m_deadline = Clock::now() + kIdleTimeout;
    return true;
}

bool AgentReporter::Send()
{
    const ssize_t sent = ::send(m_fd, m_outbox.data(), m_outbox.size(), MSG_NOSIGNAL);
    if (sent < 0)
        return errno == EAGAIN || errno == EINTR;
    m_outbox.erase(0, static_cast<std::size_t>(sent));
    return true;
}

void AgentReporter::Run()
{
    for (;;) {
        Clock::time_point now = Clock::now();
        bool pending = false;
        bool tryNow = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_quit)
                return;
            pending = !m_queue.IsEmpty();
            // Leaving, the engine does not wait for a retry's delay.
            tryNow = now >= m_retryAt || (m_stopping && !m_failedWhileStopping);
        }
        if (m_fd < 0 && pending && tryNow)
            Connect(now);
        if (m_fd >= 0 && !m_connecting)
            FillOutbox();

        pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {m_fd, 0, 0}};
        int timeout = -1;
        if (m_fd >= 0) {
            fds[1].events = static_cast<short>(m_connecting ? POLLOUT : POLLIN | (m_outbox.empty() ? 0 : POLLOUT));
            timeout = MillisecondsUntil(now, m_deadline);
        } else if (pending) {
            timeout = MillisecondsUntil(now, m_retryAt);
        }
        ::poll(fds, m_fd >= 0 ? 2 : 1, timeout);
        if (fds[0].revents) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t n = ::read(m_wakeFd, &count, sizeof count);
        }
        now = Clock::now();
        if (m_fd < 0)
            continue;
        const short revents = fds[1].revents;
        if (m_connecting) {
            int error = 0;
            socklen_t length = sizeof error;
            if (revents) {
                ::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &length);
                m_connecting = false;
                m_deadline = now + kIdleTimeout;
                if (error != 0)
                    Disconnect(true, now);
            } else if (now >= m_deadline) {
                Disconnect(true, now);
            }
            continue;
        }
        bool open = true;
        if (revents & (POLLIN | POLLHUP | POLLERR))
            open = Receive();
        if (open && (revents & POLLOUT))
            open = Send();
        bool empty = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            empty = m_queue.IsEmpty();
        }
        if (!open || (!empty && now >= m_deadline))
            Disconnect(true, now);
        else if (empty)
            Disconnect(false, now); // everything answered
    }
}

} // namespace engine
