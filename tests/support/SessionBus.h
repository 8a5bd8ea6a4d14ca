#pragma once
// A D-Bus session bus of the test's own: dbus-daemon with a configuration
// that lets every local client own and call any name, listening on a socket
// in a temporary folder. Stopped (SIGTERM to the daemon it started) when the
// object goes away.
#include <sys/types.h>

#include <string>

#include "TempDir.h"

namespace testsupport {

class SessionBus {
public:
    SessionBus();
    ~SessionBus();
    SessionBus(const SessionBus&) = delete;
    SessionBus& operator=(const SessionBus&) = delete;

    // The bus address, as DBUS_SESSION_BUS_ADDRESS takes it; empty when the
    // daemon did not start (error() says why).
    const std::string& address() const { return address_; }
    const std::string& error() const { return error_; }

private:
    TempDir folder_{"meshdrop-bus"};
    pid_t pid_ = -1;
    std::string address_;
    std::string error_;
};

} // namespace testsupport
