#pragma once
// An engine update list address that accepts the connection and never
// answers, for the life of the object: the engine downloader that the
// library makes at initialisation then waits quietly (its update's first
// time-out is seconds away), so a test can look at the library without the
// engine fallback's events and log lines, or replace that downloader before
// it has done anything.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

class SilentUpdateList {
public:
    SilentUpdateList()
    {
        const char* previous = std::getenv(kVariable);
        m_previous = previous != nullptr ? previous : "";
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        // The kernel completes the connections in the backlog; nobody reads.
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(m_fd, 16) == 0 &&
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            setenv(kVariable, ("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/list.xml").c_str(), 1);
    }
    ~SilentUpdateList()
    {
        ::close(m_fd);
        setenv(kVariable, m_previous.c_str(), 1);
    }
    SilentUpdateList(const SilentUpdateList&) = delete;
    SilentUpdateList& operator=(const SilentUpdateList&) = delete;

private:
    static constexpr const char* kVariable = "MESHDROP_UPDATE_LIST_URL";
    int m_fd = -1;
    std::string m_previous;
};
