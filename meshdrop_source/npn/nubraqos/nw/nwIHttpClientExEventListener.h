#pragma once
// What the HTTP client layer tells its user. Every notification carries the
// cookie given to SetListener. They run on the library's worker thread under
// the library lock, from inside socket-window messages: they must not block.
// A listener may detach itself (SetListener(null)) and close the connection
// from inside any of them; nothing is reported after that.

#include <cstdint>

class nwIHttpClientExEventListener {
public:
    // The connection (for HTTPS: the TCP connection) is established.
    virtual void OnConnected(std::uint32_t cookie) = 0;
    // The response head has been parsed: status, length and headers can be read.
    virtual void OnHeaderReceived(std::uint32_t cookie) = 0;
    // Body bytes are available. Answers how many it took (0 to length); bytes
    // not taken are offered again together with later ones. A negative answer
    // or one above `length` fails the connection.
    virtual int OnData(std::uint32_t cookie, const std::uint8_t* data, std::uint32_t length) = 0;
    // Once, after the OnData in which the bytes taken reached a positive
    // Content-Length.
    virtual void OnComplete(std::uint32_t cookie) = 0;
    // The send queue ran empty while a POST body is still expected (or no
    // POST is active).
    virtual void OnSendQueueEmpty(std::uint32_t cookie) = 0;
    // The connection closed; the layer forgets the listener right after.
    virtual void OnClosed(std::uint32_t cookie) = 0;
    // The connect failed, was refused or timed out.
    virtual void OnConnectTimeout(std::uint32_t cookie) = 0;
    // Nothing was received for the idle time-out.
    virtual void OnRecvTimeout(std::uint32_t cookie) = 0;
    // The platform reported the host unreachable (a connect time-out follows).
    virtual void OnHostUnreach(std::uint32_t cookie) = 0;
    virtual ~nwIHttpClientExEventListener() = default;
};
