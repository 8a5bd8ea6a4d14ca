#pragma once
// A second user beside the test's own, for the checks that tell the player's
// processes from another account's: programs run as uid 65534 through
// setpriv (the tests run as root in CI). A listener of that user, and a
// client of that user that sends bytes and counts what comes back.
#include <sys/types.h>

#include <cstdint>
#include <string>

namespace testsupport {

inline constexpr unsigned kForeignUid = 65534;

// Why the second user cannot be had here (empty when it can): it takes root
// to act as another user.
std::string foreignUserUnavailable();

// A listener of the second user on 127.0.0.1: accepts connections one after
// the other, reads each until its peer closes, and closes it.
class ForeignListener {
public:
    // port 0: a free port of its own choice.
    explicit ForeignListener(uint16_t port = 0);
    ~ForeignListener();
    ForeignListener(const ForeignListener&) = delete;
    ForeignListener& operator=(const ForeignListener&) = delete;

    // 0 when it did not start.
    uint16_t port() const { return port_; }

private:
    pid_t pid_ = -1;
    uint16_t port_ = 0;
};

struct ForeignExchange {
    bool connected = false;
    bool closedByPeer = false; // false: still open when the time ran out
    size_t received = 0;
};

// Connects as the second user to 127.0.0.1:port, sends `bytes`, and reads
// until the peer closes or `seconds` have passed.
ForeignExchange foreignClientExchange(uint16_t port, const std::string& bytes, int seconds);

} // namespace testsupport
