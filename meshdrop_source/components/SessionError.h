#pragma once
// The error codes the download sessions and the content-length probes report
// to their listeners.

namespace SessionError {
enum : int {
    // The connection attempt failed, was refused or timed out, or the request
    // could not be started at all.
    ConnectTimeout = 3,
    // A status other than 200 (after redirects), a 200 without a positive
    // length, a length that cannot be held in memory, or a redirect without a
    // usable "Location:".
    BadResponse = 4,
    // Nothing was received for the idle time-out.
    RecvTimeout = 5,
    // The peer closed the connection before the response was complete.
    Closed = 6,
    // The host is unreachable.
    HostUnreach = 7,
};
} // namespace SessionError
