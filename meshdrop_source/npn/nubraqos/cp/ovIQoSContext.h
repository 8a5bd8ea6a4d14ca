#pragma once
// The interface of a connection context: one socket with its send queue,
// receive buffer, time-outs, bandwidth action and stack of protocol layers.
// Unless stated otherwise the operations answer OVR_PLATFORM_OK.

#include <cstdint>
#include <memory>
#include <vector>

#include "cp/cpSocketRecord.h"
#include "nw/nwCStreamDispatcher.h"
#include "nw/nwIQoSNetStack.h"
#include "ov/ovIUnknown.h"

class cpCQoSQuota;

// Action kinds.
enum : int {
    QOS_ACTION_HIGH = 1,
    QOS_ACTION_LOW_SERVER = 2,
    QOS_ACTION_LOW_SERVER_RECEIVE_ONLY = 3,
    QOS_ACTION_LOW_SERVER_SEND_ONLY = 4,
    QOS_ACTION_OWN = 5,
    QOS_ACTION_OWN_RECEIVE_ONLY = 6,
    QOS_ACTION_OWN_SEND_ONLY = 7,
};

// Quota directions.
enum : int { QOS_DIRECTION_RECEIVE = 0, QOS_DIRECTION_SEND = 1 };

// Options (values in seconds).
enum : int { QOS_OPTION_CONNECT_TIMEOUT = 1, QOS_OPTION_IDLE_TIMEOUT = 4, QOS_OPTION_TIMER = 64 };

// States.
enum : int {
    QOS_STATE_NEW = 0,
    QOS_STATE_OPENING = 1,
    QOS_STATE_OPEN = 2,
    QOS_STATE_CONNECTING = 3,
    QOS_STATE_CONNECTED = 4,
    QOS_STATE_FAILED = 5,
    QOS_STATE_SENDING = 6,
    QOS_STATE_RECEIVING = 7,
    QOS_STATE_IDLE = 8,
    QOS_STATE_CLOSING = 9,
    QOS_STATE_CLOSED = 10,
};

class ovIQoSContext : public ovIUnknown {
public:
    // Only in state 0: registers a new non-blocking TCP socket (or `record`,
    // an accepted one) with the bandwidth manager and chooses the action.
    virtual OVRESULT Open(int actionKind, std::uint32_t mask, cpSocketRecord* record) = 0;
    virtual OVRESULT SetQuota(int direction, const std::uint32_t* bytesPerSecond) = 0;
    virtual OVRESULT SetAction(int kind) = 0;
    virtual OVRESULT SetEventMask(std::uint32_t mask) = 0;
    virtual OVRESULT AddEventMask(std::uint32_t bits) = 0;
    virtual OVRESULT RemoveEventMask(std::uint32_t bits) = 0;
    virtual OVRESULT SetOption(int option, const std::uint32_t* value) = 0;
    virtual OVRESULT GetState(int* state) = 0;
    // Only in state 2. The same as ConnectEndpoints with this one endpoint.
    virtual OVRESULT Connect(const cpEndpoint& endpoint) = 0;
    // The same as Connect.
    virtual OVRESULT ConnectEndpoint(const cpEndpoint& endpoint) = 0;
    virtual OVRESULT WriteFromLayer(nwIQoSNetStack* layer, const nwBuffer& buffer) = 0;
    virtual OVRESULT AddLayer(std::uint32_t classId, bool atBottom) = 0;
    virtual OVRESULT FindLayer(std::uint32_t classId, ovIUnknown** out) = 0;
    virtual OVRESULT Rearm() = 0;
    virtual OVRESULT RegisterStreamHandler(std::uint16_t messageClass, std::uint32_t messageType,
                                           nwFramedHandler handler, void* user) = 0;
    virtual OVRESULT SetRemoteEndpoint(const cpEndpoint& endpoint) = 0;
    virtual OVRESULT GetRemoteEndpoint(cpEndpoint* endpoint) = 0;
    virtual OVRESULT Close() = 0;
    // Posts event 0x20.
    virtual OVRESULT Fail() = 0;
    // The top layer's own interface, null without layers.
    virtual ovIUnknown* GetTopLayer() = 0;
    // OnConnected of the layers above `layer`, upwards until one answers false.
    virtual OVRESULT ConnectedFromLayer(nwIQoSNetStack* layer) = 0;
    virtual int ReceiveFromLayer(nwIQoSNetStack* layer, const std::uint8_t* data, std::uint32_t length) = 0;
    virtual OVRESULT GetSendBuffer(const std::uint8_t** data, std::uint32_t* length) = 0;
    virtual OVRESULT Enqueue(const void* data, std::uint32_t length) = 0;
    virtual OVRESULT GetReceiveRate(std::uint32_t* bytesPerSecond) = 0;
    virtual OVRESULT GetSendRate(std::uint32_t* bytesPerSecond) = 0;
    virtual OVRESULT Reserved() = 0;
    virtual OVRESULT GetQueuedBytes(std::uint32_t* bytes) = 0;
    virtual OVRESULT GetHostName(const char** name) = 0;
    virtual OVRESULT SetHostName(const char* name) = 0;
    virtual OVRESULT MarkAddressWorking() = 0;
    virtual OVRESULT MarkAddressFailed() = 0;
    // Puts a direction of the action's own quota on `quota`, shared with
    // other contexts (the connections of one download that follow each
    // other), so that they move no more than its bytes per second together.
    // OVR_PLATFORM_FAIL without an action that has own quotas.
    virtual OVRESULT ShareQuota(int direction, std::shared_ptr<cpCQoSQuota> quota) = 0;
    // Only in state 2: connects to the first of `endpoints` that answers,
    // trying them in order (cpCConnectAttempts): the next starts when one
    // fails or has not connected within its head start. An address that
    // fails is marked failed in the host cache (with the host name set and
    // mask bit 0x01); the connect time-out covers the whole sequence. When
    // every address has failed, the context ends as one failed connect does
    // (event 0x01, or 0x20 when the platform refused the connect call, and
    // OnUnreachable when the last one was unreachable). OVR_PLATFORM_FAIL
    // for an empty list.
    virtual OVRESULT ConnectEndpoints(const std::vector<cpEndpoint>& endpoints) = 0;
};
