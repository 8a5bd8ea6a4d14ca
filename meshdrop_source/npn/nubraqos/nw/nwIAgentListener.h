#pragma once
// What the agent layer tells its user, each with the cookie given to
// SetListener. They run on the library's worker thread under the library
// lock, from inside socket-window messages. A listener may detach itself and
// close the connection from inside any of them.

#include <cstdint>

class nwIAgentListener {
public:
    // The connection to the agent server is established.
    virtual void OnAgentConnected(std::uint32_t cookie) = 0;
    // The server answered a report; `answer` is the answer's first byte.
    virtual void OnAgentReply(std::uint32_t cookie, std::uint8_t answer) = 0;
    // The connection closed; the layer forgets the listener right after.
    virtual void OnAgentClosed(std::uint32_t cookie) = 0;
    // The connect failed, was refused or timed out.
    virtual void OnAgentConnectFailed(std::uint32_t cookie) = 0;
    // Nothing was received for the idle time-out.
    virtual void OnAgentIdleTimeout(std::uint32_t cookie) = 0;
    virtual ~nwIAgentListener() = default;
};
