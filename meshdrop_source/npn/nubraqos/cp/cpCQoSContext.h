#pragma once
// A connection context (class OVCLS_QOS_CONTEXT): one non-blocking socket,
// its send queue and receive buffer, a stack of protocol layers, a connect
// timer, idle counting, rate measurement and a bandwidth action. Driven on the
// library thread under the library lock: socket notices and posted events
// arrive through the bandwidth manager, sessions call in between Lock/Unlock.

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "cp/cpCConnectAttempts.h"
#include "cp/cpCQoSContextAction.h"
#include "cp/cpClock.h"
#include "cp/cpQoSContextIo.h"
#include "cp/ovIQoSContext.h"
#include "ov/ovCPtrList.h"
#include "ov/ovSmartPtr.h"

// Contexts alive in the process, for the tests' leak check.
int cpCQoSContextLiveCountForTesting();

class cpCQoSContext : public ovTAtomicRefCounted<ovIQoSContext>,
                      private cpIConnectAttemptsListener {
public:
    cpCQoSContext();
    ~cpCQoSContext() override;
    cpCQoSContext(const cpCQoSContext&) = delete;
    cpCQoSContext& operator=(const cpCQoSContext&) = delete;

    // Forwarded to the top layer; OVR_NOT_IMPLEMENTED without layers.
    OVRESULT QueryInterface(std::uint32_t interfaceId, void** out) override;

    OVRESULT Open(int actionKind, std::uint32_t mask, cpSocketRecord* record) override;
    OVRESULT SetQuota(int direction, const std::uint32_t* bytesPerSecond) override;
    OVRESULT ShareQuota(int direction, std::shared_ptr<cpCQoSQuota> quota) override;
    OVRESULT ConnectEndpoints(const std::vector<cpEndpoint>& endpoints) override;
    OVRESULT SetAction(int kind) override;
    OVRESULT SetEventMask(std::uint32_t mask) override;
    OVRESULT AddEventMask(std::uint32_t bits) override;
    OVRESULT RemoveEventMask(std::uint32_t bits) override;
    OVRESULT SetOption(int option, const std::uint32_t* value) override;
    OVRESULT GetState(int* state) override;
    OVRESULT Connect(const cpEndpoint& endpoint) override;
    OVRESULT ConnectEndpoint(const cpEndpoint& endpoint) override;
    OVRESULT WriteFromLayer(nwIQoSNetStack* layer, const nwBuffer& buffer) override;
    OVRESULT AddLayer(std::uint32_t classId, bool atBottom) override;
    OVRESULT FindLayer(std::uint32_t classId, ovIUnknown** out) override;
    OVRESULT Rearm() override;
    OVRESULT RegisterStreamHandler(std::uint16_t messageClass, std::uint32_t messageType, nwFramedHandler handler,
                                   void* user) override;
    OVRESULT SetRemoteEndpoint(const cpEndpoint& endpoint) override;
    OVRESULT GetRemoteEndpoint(cpEndpoint* endpoint) override;
    OVRESULT Close() override;
    OVRESULT Fail() override;
    ovIUnknown* GetTopLayer() override;
    OVRESULT ConnectedFromLayer(nwIQoSNetStack* layer) override;
    int ReceiveFromLayer(nwIQoSNetStack* layer, const std::uint8_t* data, std::uint32_t length) override;
    OVRESULT GetSendBuffer(const std::uint8_t** data, std::uint32_t* length) override;
    OVRESULT Enqueue(const void* data, std::uint32_t length) override;
    OVRESULT GetReceiveRate(std::uint32_t* bytesPerSecond) override;
    OVRESULT GetSendRate(std::uint32_t* bytesPerSecond) override;
    OVRESULT Reserved() override;
    OVRESULT GetQueuedBytes(std::uint32_t* bytes) override;
    OVRESULT GetHostName(const char** name) override;
    OVRESULT SetHostName(const char* name) override;
    OVRESULT MarkAddressWorking() override;
    OVRESULT MarkAddressFailed() override;

    // Called by the bandwidth manager under the lock: a notice of the
    // context's socket, or the connect notice of an attempt's socket.
    void OnSocketEvent(int kind);
    void OnAttemptEvent(SOCKET socket, int kind);
    // Whether notices of `socket` concern this context: its own socket, or
    // that of a pending connect attempt.
    bool UsesSocket(SOCKET socket) const;
    bool IsAttemptSocket(SOCKET socket) const { return m_attempts.IsPending(socket); }
    void OnContextEvent();
    // One second passed: counts idle seconds and refills the action's budget.
    void OnTick(cpQoSStats* stats);
    // The budget wake fired: a direction stopped on an own quota resumes.
    void OnBudgetWake();

    cpSocketRecord* GetRecord() const { return m_io.record; }
    // The number given to this context when it was opened; posted events
    // carry it (0 before Open).
    std::uint64_t GetGeneration() const { return m_generation; }
    cpCQoSContextAction* GetAction() const { return m_action.get(); }
    std::uint32_t GetIdleCounter() const { return m_idleCounter; }
    std::uint32_t GetReceivedHeld() const { return m_io.receive.Held(); }
    int GetLayerCount() const { return static_cast<int>(m_layers.size()); }
    // The layer at `index` (0 = top) through its own interface, or null.
    ovIUnknown* GetLayerAt(int index) const
    {
        return index >= 0 && index < GetLayerCount() ? m_layers[static_cast<std::size_t>(index)].object.Get() : nullptr;
    }

    static constexpr std::uint32_t kDefaultIdleTimeout = 60;
    static constexpr std::uint32_t kDefaultConnectTimeout = 5;
    static constexpr std::uint32_t kHostNameMax = 255;

private:
    struct Layer {
        ovSmartPtr object;               // the layer's own interface
        nwIQoSNetStack* stack = nullptr; // its stack view
        std::uint32_t classId = 0;
    };
    struct RateCounter {
        cpTime start;
        bool started = false;
        std::uint64_t bytes = 0;

        void Add(std::uint32_t n);
        std::uint32_t TakeRate();
    };

    // cpIConnectAttemptsListener
    void OnAttemptConnected(SOCKET socket, const cpEndpoint& endpoint) override;
    void OnAttemptFailed(const cpEndpoint& endpoint) override;
    void OnAttemptsExhausted(int lastFailure) override;
    void NotifyUnreachable();

    int IndexOf(const nwIQoSNetStack* layer) const;
    OVRESULT TakeRate(std::uint32_t maskBit, RateCounter& counter, std::uint32_t* bytesPerSecond);
    // Host name, address and port are all set (needed to mark the host cache).
    bool HasAddress() const;
    std::vector<Layer> SnapshotLayers() const { return m_layers; }
    void PostEvent(std::uint32_t event);
    void DeliverEvent(std::uint32_t event);
    void OnReadable();
    void OnConnected();
    void DeliverReceived();
    void LoadNextBlock();
    bool SendQueued();
    void StartConnectTimer();
    void StopConnectTimer();
    static void OnConnectTimer(void* context);
    // A direction stopped on an own quota resumes the moment budget comes
    // back (see cpCQoSQuota), not only at the manager's tick: a wake later
    // than that loses the time between from every second of a transfer.
    void ScheduleBudgetWake();
    void FreeSendQueue();

    cpQoSContextIo m_io;
    std::uint32_t m_idleTimeout = kDefaultIdleTimeout;
    std::uint32_t m_connectTimeout = kDefaultConnectTimeout;
    std::uint32_t m_mask = 0;
    int m_state = QOS_STATE_NEW;
    ovCPtrList m_sendQueue;
    std::uint32_t m_idleCounter = 0;
    std::uint32_t m_tickCount = 0;
    std::vector<Layer> m_layers;
    ovSmartPtr m_connectTimer;
    ovSmartPtr m_dispatcher;
    std::unique_ptr<cpCQoSContextAction> m_action;
    cpEndpoint m_remote;
    RateCounter m_sendRate;
    RateCounter m_receiveRate;
    int m_connected = 0;
    char m_hostName[kHostNameMax + 1] = {};
    std::deque<std::uint32_t> m_events;
    std::uint32_t m_timerSetting = 0;
    std::uint64_t m_generation = 0;
    cpCConnectAttempts m_attempts{this};
};
