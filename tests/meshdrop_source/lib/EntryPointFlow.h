#pragma once
// Helpers for flows that the client starts through an entry point and that
// end with one of two events: the network ones, with loopback servers.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

#include "TestClientWindow.h"

// A loopback port on which nothing listens.
inline uint16_t ClosedLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

// Pumps the window until `outcome` has arrived once more than now, then takes
// what is queued as well; false when it did not come or `other` came too.
// Call it right after the entry point: events raised inside that call are
// queued, not yet counted.
inline bool PumpUntilOutcome(TestClientWindow& window, UINT outcome, UINT other)
{
    const size_t others = window.Count(other);
    const bool arrived = window.PumpUntil(outcome, window.Count(outcome) + 1);
    window.Drain();
    return arrived && window.Count(other) == others;
}

// The codes of the job's queued notices, popped oldest first.
inline std::vector<uint32_t> PopNoticeCodes(MeshdropJobHandle job)
{
    std::vector<uint32_t> codes;
    for (;;) {
        NoticeInfo notice{MESHDROPLIB_NOTICE_NONE, nullptr};
        if (MeshdropLib_PopNotice(job, &notice) != MESHDROPLIB_OK || notice.code == MESHDROPLIB_NOTICE_NONE)
            return codes;
        codes.push_back(notice.code);
    }
}
