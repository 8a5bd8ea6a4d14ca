#pragma once
// Socket records: the state of one non-blocking platform socket, and the
// functions the connection context and cpCSocket call on them. Readiness is
// reported to the hidden socket window as message 0x40A + the record's slot.

#include <winsock2.h>

#include <cstdint>

#include <vector>

#include "cp/cpAddress.h"
#include "ov/ovResult.h"

// Messages of the hidden socket window.
inline constexpr UINT CP_WM_SOCKET_WINDOW_STOP = 0x408;
inline constexpr UINT CP_WM_CONTEXT_EVENT = 0x409;
inline constexpr UINT CP_WM_SOCKET_NOTIFY = 0x40A; // + slot 0..63
inline constexpr int CP_SOCKET_SLOTS = 64;
// Timers of the hidden socket window (WM_TIMER): a slot's budget wake.
inline constexpr UINT_PTR CP_BUDGET_TIMER_ID = 0x40A; // + slot 0..63

// The address callers pass: an address of either family, port in host order.
struct cpEndpoint {
    cpAddress address;
    std::uint16_t port = 0;
};

// Holds the hidden window's handle for the records registered with it.
struct cpSocketWindowHolder {
    HWND window = nullptr;
};

enum cpSocketKind : int { CP_SOCKET_TCP = 0, CP_SOCKET_UDP = 1 };

struct cpSocketRecord {
    SOCKET socket = INVALID_SOCKET;
    int kind = CP_SOCKET_TCP;
    int family = AF_INET; // of the socket
    sockaddr_storage address{};
    int addressLength = 0;
    u_long nonBlocking = 0;
    int slot = -1;
    cpSocketWindowHolder* window = nullptr;

    bool HasSocket() const { return socket != INVALID_SOCKET; }
};

// Maps the platform's last socket error to a result code.
OVRESULT cpMapSocketError(int platformError);
OVRESULT cpLastSocketError();

// Makes the socket in *record (a new record when *record is null), of the
// address family `family` (AF_INET or AF_INET6). Fails with OVR_SOCK_EXISTS
// when the record already holds a socket. On failure a record made here is
// freed again and *record set back to null.
OVRESULT cpSocketCreate(cpSocketRecord** record, int kind, int family = AF_INET);
// A TCP socket of `family` that closes with a reset, as cpSocketCreate makes
// them, on its own (a connect attempt beside a record's socket);
// INVALID_SOCKET when the platform cannot make one.
SOCKET cpSocketCreateStream(int family);
OVRESULT cpSocketSetNonBlocking(cpSocketRecord* record, int flag);
OVRESULT cpSocketConnect(cpSocketRecord* record, const cpEndpoint& endpoint);
OVRESULT cpSocketBind(cpSocketRecord* record, const cpEndpoint& endpoint);
OVRESULT cpSocketListen(cpSocketRecord* record);
OVRESULT cpSocketAccept(cpSocketRecord* record, cpSocketRecord** accepted, cpEndpoint* peer);
OVRESULT cpSocketSend(cpSocketRecord* record, const void* bytes, std::uint32_t length, std::uint32_t* sent);
// Succeeds only when more than 0 bytes arrived; an orderly close and errors
// go through the error mapping.
OVRESULT cpSocketReceive(cpSocketRecord* record, void* buffer, std::uint32_t size, std::uint32_t* received);
OVRESULT cpSocketSendTo(cpSocketRecord* record, const void* bytes, std::uint32_t length, const cpEndpoint& endpoint,
                        std::uint32_t* sent);
OVRESULT cpSocketReceiveFrom(cpSocketRecord* record, void* buffer, std::uint32_t size, cpEndpoint* from,
                             std::uint32_t* received);
// Option 0 turns broadcast on; anything else fails.
OVRESULT cpSocketSetOption(cpSocketRecord* record, int option);
// Closes the socket and frees the record; *record becomes null.
OVRESULT cpSocketClose(cpSocketRecord** record);

// Asks for every socket event as message CP_WM_SOCKET_NOTIFY + slot.
OVRESULT cpSocketRegister(cpSocketRecord* record, cpSocketWindowHolder* window, int slot);
// Asks again for read, write, out-of-band and close notifications.
OVRESULT cpSocketRearm(cpSocketRecord* record);
// Cancels the notifications; *slot receives the slot or -1.
OVRESULT cpSocketUnregister(cpSocketRecord* record, int* slot);
// Asks for the connect notification of `socket`, a connect attempt beside the
// record's own socket, with the record's message, and cancels it again.
OVRESULT cpSocketWatchAttempt(cpSocketRecord* record, SOCKET socket);
void cpSocketForgetAttempt(cpSocketRecord* record, SOCKET socket);
// Puts `socket` (connected by an attempt) in the record's place: the record's
// own socket is closed and the new one registered for every notification at
// the record's slot.
OVRESULT cpSocketAdopt(cpSocketRecord* record, SOCKET socket, const cpEndpoint& peer);
// Posts CP_WM_CONTEXT_EVENT for the record's slot, with the posting
// context's generation number as the second parameter.
OVRESULT cpSocketPostContextEvent(cpSocketRecord* record, std::uint64_t generation);
// Starts (or restarts) the slot's budget wake: a WM_TIMER of the hidden
// window after `ms` milliseconds (10 at least), on the window's thread, at
// millisecond resolution rather than the timer queue's 100 ms tick. The
// window procedure stops it when it fires; the stop function earlier.
OVRESULT cpSocketStartBudgetWake(cpSocketRecord* record, std::uint32_t ms);
void cpSocketStopBudgetWake(cpSocketRecord* record);

// Host look-up of both families: the first address, or up to `capacity` of
// them in the platform's order (which prefers what the system's address
// selection rules prefer), each once.
OVRESULT cpResolveFirst(const char* name, cpAddress* address);
OVRESULT cpResolveAll(const char* name, std::vector<cpAddress>* addresses, std::size_t capacity);
