#include "ControlConnection.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace engine {

namespace {
constexpr std::size_t kReadChunk = 64 * 1024;
// Read from one client per round of the loop: the rest waits for the next
// round, so that a client that floods the engine with requests cannot hold
// up the other clients and the transfers.
constexpr std::size_t kReadBudget = 4 * kReadChunk;
constexpr std::size_t kMaxUnsent = 8 * 1024 * 1024;
} // namespace

ControlConnection::ControlConnection(int fd, std::uint64_t id) : m_fd(fd), m_id(id) {}

ControlConnection::~ControlConnection()
{
    ::close(m_fd);
}

bool ControlConnection::Receive(std::vector<Command>* commands)
{
    for (std::size_t budget = kReadBudget; budget > 0; budget -= kReadChunk) {
        const std::size_t held = m_in.size();
        m_in.resize(held + kReadChunk);
        const ssize_t n = ::recv(m_fd, m_in.data() + held, kReadChunk, 0);
        m_in.resize(held + (n > 0 ? static_cast<std::size_t>(n) : 0));
        if (n == 0) {
            return false;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                return false;
            }
            break;
        }
        // Frames are taken out as they complete, so the buffer holds at most
        // one frame of the bounded size plus one read.
        std::size_t position = 0;
        FrameView frame;
        for (;;) {
            const FrameStatus status = NextFrame(m_in.data() + position, m_in.size() - position, &frame);
            if (status == FrameStatus::Broken) {
                return false;
            }
            if (status == FrameStatus::Incomplete) {
                break;
            }
            Command command;
            if (!ParseCommand(frame, &command)) {
                return false;
            }
            commands->push_back(std::move(command));
            position += frame.frameSize;
        }
        m_in.erase(m_in.begin(), m_in.begin() + static_cast<std::ptrdiff_t>(position));
    }
    return true;
}

void ControlConnection::Queue(const std::vector<std::uint8_t>& bytes)
{
    if (m_broken) {
        return;
    }
    if (m_out.size() - m_outSent + bytes.size() > kMaxUnsent) {
        m_broken = true;
        return;
    }
    m_out.insert(m_out.end(), bytes.begin(), bytes.end());
    if (!Flush()) {
        m_broken = true;
    }
}

bool ControlConnection::Flush()
{
    while (m_outSent < m_out.size()) {
        const ssize_t n = ::send(m_fd, m_out.data() + m_outSent, m_out.size() - m_outSent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                return false;
            }
            if (m_outSent > kReadChunk) {
                // Drop what left, so a client that reads slowly but steadily
                // does not make the buffer grow.
                m_out.erase(m_out.begin(), m_out.begin() + static_cast<std::ptrdiff_t>(m_outSent));
                m_outSent = 0;
            }
            return true;
        }
        m_outSent += static_cast<std::size_t>(n);
    }
    m_out.clear();
    m_outSent = 0;
    return true;
}

} // namespace engine
