#pragma once
// The connect attempts of one connection context to the addresses of its
// host, in the simple form of "Happy Eyeballs": the addresses are tried in
// the order given (the host cache already lets the families take turns); the
// next attempt starts when the previous one fails, or after a head start of
// kHeadStartMs while it is still pending, and the first that connects wins.
// The context's own socket serves the first attempt of its family; the other
// attempts use sockets of their own whose connect notices reach the
// context's slot of the hidden window, and the winner takes the context's
// socket's place. The whole sequence runs within the context's connect
// time-out, which the context keeps. Runs on the library thread under the
// library lock, like the context.

#include <cstdint>
#include <vector>

#include "cp/cpSocketRecord.h"
#include "ov/ovSmartPtr.h"

// How the attempts end, told to the context.
class cpIConnectAttemptsListener {
public:
    // `socket` connected to `endpoint` (the attempts have ended; the other
    // pending ones are closed).
    virtual void OnAttemptConnected(SOCKET socket, const cpEndpoint& endpoint) = 0;
    // The attempt to `endpoint` failed; the next one starts right after.
    virtual void OnAttemptFailed(const cpEndpoint& endpoint) = 0;
    // Every address failed; `lastFailure` is how the last one did.
    virtual void OnAttemptsExhausted(int lastFailure) = 0;

protected:
    ~cpIConnectAttemptsListener() = default;
};

class cpCConnectAttempts {
public:
    // How an attempt failed.
    enum : int {
        FAILED_AT_ONCE = 0, // the platform refused the connect call itself
        REFUSED = 1,
        UNREACHABLE = 2,
    };

    static constexpr std::uint32_t kHeadStartMs = 250;

    explicit cpCConnectAttempts(cpIConnectAttemptsListener* listener) : m_listener(listener) {}
    ~cpCConnectAttempts() { Cancel(nullptr); }
    cpCConnectAttempts(const cpCConnectAttempts&) = delete;
    cpCConnectAttempts& operator=(const cpCConnectAttempts&) = delete;

    // Starts the attempts on `record`'s slot. The listener may hear of the
    // outcome before this returns (a connect that completes or fails at once).
    void Begin(cpSocketRecord* record, std::vector<cpEndpoint> endpoints);
    bool IsActive() const { return !m_pending.empty() || m_next < m_endpoints.size(); }
    // Whether a connect notice of `socket` belongs to a pending attempt.
    bool IsPending(SOCKET socket) const;
    // A connect notice of a pending attempt: connected (CP_SOCKET_EVENT_CONNECTED),
    // refused or unreachable.
    void OnSocketEvent(SOCKET socket, int kind);
    // Ends every pending attempt (closing the sockets of their own); the
    // endpoints they were trying go to `abandoned` when given.
    void Cancel(std::vector<cpEndpoint>* abandoned);

private:
    struct Attempt {
        SOCKET socket = INVALID_SOCKET;
        cpEndpoint endpoint;
        bool ownSocket = false; // not the record's
    };

    void StartNext();
    // Starts the attempt to `endpoint`; false when it failed at once.
    bool Start(const cpEndpoint& endpoint);
    void Close(const Attempt& attempt);
    void StartHeadStart();
    void StopHeadStart();
    static void OnHeadStart(void* self);

    cpIConnectAttemptsListener* m_listener;
    cpSocketRecord* m_record = nullptr;
    std::vector<cpEndpoint> m_endpoints;
    std::size_t m_next = 0;
    std::vector<Attempt> m_pending;
    bool m_recordUsed = false;
    int m_lastFailure = FAILED_AT_ONCE;
    ovSmartPtr m_headStart;
};
