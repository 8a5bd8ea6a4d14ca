#pragma once
// A blocking agent client for the agent server's tests: plain sockets,
// independent of the library's reporter, on a numeric address of either
// family.

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "AgentFrames.h"

class AgentTestClient {
public:
    explicit AgentTestClient(uint16_t port, const char* address = "127.0.0.1")
    {
        addrinfo hints{};
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
        addrinfo* found = nullptr;
        if (getaddrinfo(address, std::to_string(port).c_str(), &hints, &found) != 0)
            return;
        m_fd = socket(found->ai_family, SOCK_STREAM, 0);
        if (m_fd >= 0 && connect(m_fd, found->ai_addr, found->ai_addrlen) != 0) {
            close(m_fd);
            m_fd = -1;
        }
        freeaddrinfo(found);
    }
    ~AgentTestClient()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    AgentTestClient(const AgentTestClient&) = delete;
    AgentTestClient& operator=(const AgentTestClient&) = delete;

    bool Connected() const { return m_fd >= 0; }

    bool Send(const std::string& bytes)
    {
        for (size_t sent = 0; sent < bytes.size();) {
            const ssize_t n = send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += static_cast<size_t>(n);
        }
        return true;
    }

    void ShutdownWrite() { shutdown(m_fd, SHUT_WR); }

    // The answer byte of the next answer frame; -1 when the server closed or
    // sent something else.
    int ReadAnswer()
    {
        std::string frame;
        if (!Read(nwFrameTotalSize(1), &frame))
            return -1;
        const auto header = nwFrameHeader::Decode(reinterpret_cast<const uint8_t*>(frame.data()));
        if (header.messageClass != AGENT_CLASS || header.messageType != AGENT_MSG_ANSWER || header.payloadLength != 2)
            return -1;
        return static_cast<uint8_t>(frame[nwFrameHeader::kSize]);
    }

    // Sends one report and reads its answer.
    int Report(const std::vector<nwAgentReportRecord>& records)
    {
        return Send(agenttest::ReportFrame(records)) ? ReadAnswer() : -1;
    }

    // Whether the server closed the connection without sending anything.
    bool ClosedByServer(int timeoutMs = 20000)
    {
        char byte;
        return Wait(timeoutMs) && recv(m_fd, &byte, 1, 0) <= 0;
    }

    // Everything the server sends until it closes (bounded by the time-out).
    std::string ReadToClose(int timeoutMs = 20000)
    {
        std::string all;
        char buffer[4096];
        ssize_t n;
        while (Wait(timeoutMs) && (n = recv(m_fd, buffer, sizeof buffer, 0)) > 0)
            all.append(buffer, static_cast<size_t>(n));
        return all;
    }

private:
    bool Wait(int timeoutMs = 20000)
    {
        pollfd p{m_fd, POLLIN, 0};
        return poll(&p, 1, timeoutMs) > 0;
    }

    bool Read(size_t length, std::string* out)
    {
        out->resize(length);
        for (size_t got = 0; got < length;) {
            if (!Wait())
                return false;
            const ssize_t n = recv(m_fd, out->data() + got, length - got, 0);
            if (n <= 0)
                return false;
            got += static_cast<size_t>(n);
        }
        return true;
    }

    int m_fd = -1;
};
