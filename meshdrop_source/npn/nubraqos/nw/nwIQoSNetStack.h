#pragma once
// The layer interface that a connection context drives. Layers sit in the
// context's array (index 0 the top, nearest the application; the last index
// the bottom, nearest the socket): incoming bytes travel up, outgoing bytes
// travel down and leave through the context's send queue.

#include <cstdint>

#include "cp/cpSocketRecord.h"
#include "ov/ovIUnknown.h"

class ovIQoSContext;

// A span of bytes handed between layers; the receiver copies what it keeps.
struct nwBuffer {
    const std::uint8_t* data = nullptr;
    std::uint32_t length = 0;
};

// Context events and accounting bits of the event mask.
inline constexpr std::uint32_t QOS_CONNECT_FAILED = 0x01;
inline constexpr std::uint32_t QOS_SEND_QUEUE_EMPTY = 0x02;
inline constexpr std::uint32_t QOS_IDLE_TIMEOUT = 0x04;
inline constexpr std::uint32_t QOS_COUNT_RECEIVED = 0x08;
inline constexpr std::uint32_t QOS_COUNT_SENT = 0x10;
inline constexpr std::uint32_t QOS_FAILED = 0x20;
inline constexpr std::uint32_t QOS_TIMER = 0x40;

class nwIQoSNetStack : public ovIUnknown {
public:
    // Ask the context for its measured rates.
    virtual OVRESULT GetReceiveRate(std::uint32_t* bytesPerSecond);
    virtual OVRESULT GetSendRate(std::uint32_t* bytesPerSecond);
    // Data written by the layer above, to be processed and passed down.
    virtual OVRESULT OnSend(const nwBuffer& buffer) = 0;
    // Asks the context to close (nothing when detached).
    virtual OVRESULT Close();
    // The socket is connected; false stops the notice from going further up.
    virtual bool OnConnected() = 0;
    virtual bool OnUnreachable() = 0;
    // A context event whose bit is in the mask; false stops it going further up.
    virtual bool OnEvent(std::uint32_t event, std::uint32_t value) = 0;
    // Bytes from below: answers how many were consumed, 0 to wait for more,
    // negative to fail the connection.
    virtual int OnReceive(const std::uint8_t* data, std::uint32_t length) = 0;
    virtual void OnClosed() = 0;
    virtual OVRESULT SetEventMask(std::uint32_t mask);
    virtual OVRESULT AddEventMask(std::uint32_t bits);
    virtual OVRESULT RemoveEventMask(std::uint32_t bits);
    virtual OVRESULT Connect(const cpEndpoint& endpoint);
    // Calls OnConnected of the layer above.
    virtual OVRESULT PassConnectedUp();
    // Calls OnReceive of the layer above and answers its result (0 when detached).
    virtual int PassUp(const std::uint8_t* data, std::uint32_t length);
    // Hands the bytes to OnSend of the layer below, or to the send queue from the bottom.
    virtual OVRESULT WriteDown(const nwBuffer& buffer);

    // Forwarded to the context; OVR_PLATFORM_FAIL while detached.
    OVRESULT FindLayer(std::uint32_t classId, ovIUnknown** out);
    OVRESULT AddLayer(std::uint32_t classId, bool atBottom);
    OVRESULT GetRemoteEndpoint(cpEndpoint* endpoint);
    OVRESULT SetRemoteEndpoint(const cpEndpoint& endpoint);
    OVRESULT GetHostName(const char** name);
    OVRESULT SetHostName(const char* name);

    // Set by the context when it takes the layer (null detaches).
    void SetContext(ovIQoSContext* context) { m_context = context; }
    ovIQoSContext* GetContext() const { return m_context; }

protected:
    ovIQoSContext* m_context = nullptr;
};
