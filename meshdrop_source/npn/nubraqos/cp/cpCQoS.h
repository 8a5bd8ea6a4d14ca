#pragma once
// The bandwidth manager: the table of live connection contexts indexed by the
// hidden window's socket slots, the shared send and receive budgets, and a
// one-second tick that refills budgets and quotas and counts idle seconds.
// One per process, created by the network runtime; reachable from anywhere on
// the library side through GetInstance (sessions use its Lock/Unlock).

#include <array>
#include <cstdint>

#include "cp/cpCSocketWindow.h"
#include "cp/cpSocketRecord.h"
#include "ov/ovSmartPtr.h"

class cpCMutex;
class cpCQoSContext;

// Socket event kinds passed by the window procedure.
enum : int {
    CP_SOCKET_EVENT_READABLE = 2,
    CP_SOCKET_EVENT_WRITABLE = 3,
    CP_SOCKET_EVENT_CONNECTED = 4,
    CP_SOCKET_EVENT_ACCEPT = 6,
    CP_SOCKET_EVENT_CLOSED = 7,
    CP_SOCKET_EVENT_REFUSED = 8,
    CP_SOCKET_EVENT_UNREACHABLE = 9,
};

class cpCQoS {
public:
    cpCQoS() = default;
    ~cpCQoS();
    cpCQoS(const cpCQoS&) = delete;
    cpCQoS& operator=(const cpCQoS&) = delete;

    // Creates the hidden window and the one-second timer and makes this the
    // process's manager. Fails (and stays stopped) without a window or timer.
    OVRESULT Start(cpCMutex* lock);
    void Stop();
    bool IsStarted() const { return m_started; }

    static cpCQoS* GetInstance();

    // The library lock, for sessions that drive contexts from outside a callback.
    OVRESULT Lock();
    OVRESULT Unlock();
    cpCMutex* GetLock() const;

    // Gives the context a slot: makes a non-blocking TCP socket when *record is
    // null, registers it with the window and holds a reference to the
    // context. Fails with OVR_PLATFORM_FAIL when all 64 slots are taken (a
    // socket made here is closed again and *record stays null).
    OVRESULT Register(cpCQoSContext* context, cpSocketRecord** record);
    // Frees the slot and the context's reference, closes the socket and frees
    // the record (*record becomes null).
    void Unregister(cpCQoSContext* context, cpSocketRecord** record);

    // Called by the window procedure under the lock, for a notice of
    // `socket`: the slot's context's own socket or one of its connect attempts.
    void OnSocketEvent(int slot, SOCKET socket, int kind, int error);
    // `generation` names the context that posted the event; an event of a
    // context that is gone (the slot reused since) is dropped.
    void OnContextEvent(int slot, std::uint64_t generation);
    // The slot's budget wake fired (cpSocketStartBudgetWake).
    void OnBudgetWake(int slot);
    // Whether a notice about `socket` still concerns the context in `slot`
    // (its socket, or a socket of its connect attempts).
    bool SlotUsesSocket(int slot, SOCKET socket) const;

    std::uint32_t TakeSendBudget(std::uint32_t bytes);
    void ReturnSendBudget(std::uint32_t bytes);
    std::uint32_t TakeReceiveBudget(std::uint32_t bytes);
    void ReturnReceiveBudget(std::uint32_t bytes);

    // The one-second tick; the timer calls it, tests may too.
    void Tick();
    std::uint32_t GetTickCount() const { return m_ticks; }
    int GetLiveContextCount() const;
    cpCQoSContext* GetContextAt(int slot) const;
    cpSocketWindowHolder* GetWindowHolder() { return &m_window.Holder(); }

    static constexpr std::uint32_t kDefaultRate = 104857600;

private:
    static void OnTimer(void* context);
    int FindFreeSlot() const;

    ovSmartPtr m_lock;
    ovSmartPtr m_timer;
    cpCSocketWindow m_window;
    std::array<cpCQoSContext*, CP_SOCKET_SLOTS> m_table{};
    int m_nextFree = 0;
    std::uint32_t m_ticks = 0;
    // One direction's budget for the current second.
    struct Budget {
        std::uint32_t budget = 0;
        std::uint32_t taken = 0;

        std::uint32_t Take(std::uint32_t bytes);
        void Return(std::uint32_t bytes);
        void Refill(std::uint32_t rate);
    };
    Budget m_send;
    Budget m_receive;
    std::uint32_t m_sendRate = kDefaultRate;
    std::uint32_t m_receiveRate = kDefaultRate;
    bool m_started = false;
};
