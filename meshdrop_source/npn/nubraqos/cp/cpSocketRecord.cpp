#include "cp/cpSocketRecord.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include <ws2tcpip.h>

namespace {

constexpr long kAllEvents = FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE;
constexpr long kRearmEvents = FD_READ | FD_WRITE | FD_OOB | FD_CLOSE; // 0x27

// Stores the endpoint as the record's last peer.
void SetPeer(cpSocketRecord* record, const cpEndpoint& endpoint)
{
    record->addressLength = endpoint.address.ToSockaddr(endpoint.port, &record->address);
}

cpEndpoint FromSockaddr(const sockaddr_storage& address, int length)
{
    cpEndpoint endpoint;
    cpAddress::FromSockaddr(reinterpret_cast<const sockaddr*>(&address), length, &endpoint.address, &endpoint.port);
    return endpoint;
}

OVRESULT SetLingerReset(SOCKET s)
{
    linger option{};
    option.l_onoff = 1;
    option.l_linger = 0;
    if (setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&option), sizeof(option)) != 0) {
        return cpLastSocketError();
    }
    return OVR_PLATFORM_OK;
}

// A receive's answer: the bytes, or a failure when none came (0 is the
// peer's orderly close, reported through the mapping as well).
OVRESULT ReceiveResult(int n, std::uint32_t* received)
{
    if (n <= 0) {
        return n == 0 ? OVR_PLATFORM_FAIL : cpLastSocketError();
    }
    if (received) {
        *received = static_cast<std::uint32_t>(n);
    }
    return OVR_PLATFORM_OK;
}

} // namespace

OVRESULT cpMapSocketError(int platformError)
{
    switch (platformError) {
    case WSAEWOULDBLOCK:
        return OVR_SOCK_WOULDBLOCK;
    case WSAEINPROGRESS:
        return OVR_SOCK_INPROGRESS;
    case WSAEALREADY:
        return OVR_SOCK_ALREADY;
    case WSAENOTSOCK:
        return OVR_SOCK_NOTSOCK;
    case WSAENOBUFS:
        return OVR_SOCK_NOBUFS;
    case WSAECONNREFUSED:
        return OVR_SOCK_REFUSED;
    default:
        return OVR_PLATFORM_FAIL;
    }
}

OVRESULT cpLastSocketError()
{
    return cpMapSocketError(WSAGetLastError());
}

SOCKET cpSocketCreateStream(int family)
{
    const SOCKET s = socket(family, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        return INVALID_SOCKET;
    }
    // Closing resets the connection rather than lingering.
    if (OV_FAILED(SetLingerReset(s))) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

OVRESULT cpSocketCreate(cpSocketRecord** record, int kind, int family)
{
    if (!record) {
        return OVR_BAD_SOCKET;
    }
    if (*record && (*record)->HasSocket()) {
        return OVR_SOCK_EXISTS;
    }
    std::unique_ptr<cpSocketRecord> made;
    if (!*record) {
        made = std::make_unique<cpSocketRecord>();
    }
    cpSocketRecord* target = made ? made.get() : *record;
    OVRESULT result = OVR_PLATFORM_OK;
    if (kind == CP_SOCKET_UDP) {
        target->socket = socket(family, SOCK_DGRAM, IPPROTO_UDP);
        result = target->HasSocket() ? OVR_PLATFORM_OK : OVR_BAD_SOCKET;
    } else {
        target->socket = socket(family, SOCK_STREAM, IPPROTO_TCP);
        // Closing resets the connection rather than lingering.
        result = SetLingerReset(target->socket);
        if (OV_FAILED(result) && target->HasSocket()) {
            closesocket(target->socket);
            target->socket = INVALID_SOCKET;
        }
    }
    if (OV_FAILED(result)) {
        return result;
    }
    target->kind = kind;
    target->family = family;
    if (made) {
        *record = made.release();
    }
    return OVR_PLATFORM_OK;
}

OVRESULT cpSocketSetNonBlocking(cpSocketRecord* record, int flag)
{
    if (!record) {
        return OVR_BAD_SOCKET;
    }
    record->nonBlocking = flag == 1 ? 0 : 1;
    if (ioctlsocket(record->socket, FIONBIO, &record->nonBlocking) != 0) {
        return cpLastSocketError();
    }
    return OVR_PLATFORM_OK;
}

OVRESULT cpSocketConnect(cpSocketRecord* record, const cpEndpoint& endpoint)
{
    if (!record) {
        return OVR_BAD_SOCKET;
    }
    SetPeer(record, endpoint);
    if (connect(record->socket, reinterpret_cast<const sockaddr*>(&record->address), record->addressLength) != 0) {
        return cpLastSocketError();
    }
    return OVR_PLATFORM_OK;
}

OVRESULT cpSocketBind(cpSocketRecord* record, const cpEndpoint& endpoint)
{
    if (!record) {
        return OVR_BAD_SOCKET;
    }
    BOOL reuse = TRUE;
    setsockopt(record->socket, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof(reuse));
    SetPeer(record, endpoint);
    if (bind(record->socket, reinterpret_cast<const sockaddr*>(&record->address), record->addressLength) != 0) {
        return cpLastSocketError();
    }
    return OVR_PLATFORM_OK;
}

OVRESULT cpSocketListen(cpSocketRecord* record)
{
    if (!record) {
        return OVR_BAD_SOCKET;
    }
    if (listen(record->socket, 5) != 0) {
        return cpLastSocketError();
    }
    return OVR_PLATFORM_OK;
}

OVRESULT cpSocketAccept(cpSocketRecord* record, cpSocketRecord** accepted, cpEndpoint* peer)
{
    if (!record || !accepted) {
        return OVR_BAD_SOCKET;
    }
    sockaddr_storage address{};
    int length = sizeof(address);
    SOCKET s = accept(record->socket, reinterpret_cast<sockaddr*>(&address), &length);
    if (s == INVALID_SOCKET) {
        return cpLastSocketError();
    }
    SetLingerReset(s);
    auto made = std::make_unique<cpSocketRecord>();
    made->socket = s;
    made->kind = CP_SOCKET_TCP;
    made->family = address.ss_family;
    made->address = address;
    made->addressLength = length;
    if (peer) {
        *peer = FromSockaddr(address, length);
    }
    *accepted = made.release();
    return OVR_PLATFORM_OK;
}

OVRESULT cpSocketSend(cpSocketRecord* record, const void* bytes, std::uint32_t length, std::uint32_t* sent)
{
    if (!record) {
        return OVR_BAD_SOCKET;
    }
    if (!record->HasSocket()) {
        return OVR_SOCK_NOTSOCK;
    }
    const int n = send(record->socket, static_cast<const char*>(bytes), static_cast<int>(length), 0);
    if (n == SOCKET_ERROR) {
        return cpLastSocketError();
    }
    if (sent) {
        *sent = static_cast<std::uint32_t>(n);
    }
    return OVR_PLATFORM_OK;
}

OVRESULT cpSocketReceive(cpSocketRecord* record, void* buffer, std::uint32_t size, std::uint32_t* received)
{
    if (!record) {
        return OVR_BAD_SOCKET;
    }
    if (!record->HasSocket()) {
        return OVR_SOCK_NOTSOCK;
    }
    return ReceiveResult(recv(record->socket, static_cast<char*>(buffer), static_cast<int>(size), 0), received);
}

OVRESULT cpSocketSendTo(cpSocketRecord* record, const void* bytes, std::uint32_t length, const cpEndpoint& endpoint,
                        std::uint32_t* sent)
{
    if (!record) {
        return OVR_BAD_SOCKET;
    }
    SetPeer(record, endpoint);
    const int n = sendto(record->socket, static_cast<const char*>(bytes), static_cast<int>(length), 0,
                         reinterpret_cast<const sockaddr*>(&record->address), record->addressLength);
    if (n == SOCKET_ERROR) {
        return cpLastSocketError();
    }
    if (sent) {
        *sent = static_cast<std::uint32_t>(n);
    }
    return OVR_PLATFORM_OK;
}

OVRESULT cpSocketReceiveFrom(cpSocketRecord* record, void* buffer, std::uint32_t size, cpEndpoint* from,
                             std::uint32_t* received)
{
    if (!record) {
        return OVR_BAD_SOCKET;
    }
    sockaddr_storage address{};
    int length = sizeof(address);
    const int n = recvfrom(record->socket, static_cast<char*>(buffer), static_cast<int>(size), 0,
                           reinterpret_cast<sockaddr*>(&address), &length);
    if (n == SOCKET_ERROR) {
        return cpLastSocketError();
    }
    if (from) {
        *from = FromSockaddr(address, length);
    }
    if (received) {
        *received = static_cast<std::uint32_t>(n);
    }
    return OVR_PLATFORM_OK;
}

OVRESULT cpSocketSetOption(cpSocketRecord* record, int option)
{
    if (!record || option != 0) {
        return OVR_PLATFORM_FAIL;
    }
    BOOL on = TRUE;
    if (setsockopt(record->socket, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof(on)) != 0) {
        return cpLastSocketError();
    }
    return OVR_PLATFORM_OK;
}

OVRESULT cpSocketClose(cpSocketRecord** record)
{
    if (!record || !*record) {
        return OVR_BAD_SOCKET;
    }
    std::unique_ptr<cpSocketRecord> owned(*record);
    *record = nullptr;
    if (owned->HasSocket()) {
        closesocket(owned->socket);
    }
    return OVR_PLATFORM_OK;
}

OVRESULT cpSocketRegister(cpSocketRecord* record, cpSocketWindowHolder* window, int slot)
{
    if (!record || !window) {
        return OVR_BAD_SOCKET;
    }
    record->window = window;
    record->slot = slot;
    if (WSAAsyncSelect(record->socket, window->window, CP_WM_SOCKET_NOTIFY + slot, kAllEvents) != 0) {
        return cpLastSocketError();
    }
    return OVR_PLATFORM_OK;
}

OVRESULT cpSocketRearm(cpSocketRecord* record)
{
    if (!record || !record->window || record->slot < 0) {
        return OVR_BAD_SOCKET;
    }
    if (WSAAsyncSelect(record->socket, record->window->window, CP_WM_SOCKET_NOTIFY + record->slot, kRearmEvents) != 0) {
        return cpLastSocketError();
    }
    return OVR_PLATFORM_OK;
}

OVRESULT cpSocketUnregister(cpSocketRecord* record, int* slot)
{
    if (slot) {
        *slot = -1;
    }
    if (!record || record->slot < 0) {
        return OVR_PLATFORM_FAIL;
    }
    if (slot) {
        *slot = record->slot;
    }
    if (record->window && record->HasSocket()) {
        WSAAsyncSelect(record->socket, record->window->window, 0, 0);
    }
    record->slot = -1;
    return OVR_PLATFORM_OK;
}

OVRESULT cpSocketPostContextEvent(cpSocketRecord* record, std::uint64_t generation)
{
    if (!record || !record->window) {
        return OVR_BAD_SOCKET;
    }
    if (!PostMessageA(record->window->window, CP_WM_CONTEXT_EVENT, static_cast<WPARAM>(record->slot),
                      static_cast<LPARAM>(generation))) {
        return OVR_PLATFORM_FAIL;
    }
    return OVR_PLATFORM_OK;
}

OVRESULT cpSocketStartBudgetWake(cpSocketRecord* record, std::uint32_t ms)
{
    if (!record || !record->window || record->slot < 0) {
        return OVR_BAD_SOCKET;
    }
    if (!SetTimer(record->window->window, CP_BUDGET_TIMER_ID + static_cast<UINT_PTR>(record->slot), ms, nullptr)) {
        return OVR_PLATFORM_FAIL;
    }
    return OVR_PLATFORM_OK;
}

void cpSocketStopBudgetWake(cpSocketRecord* record)
{
    if (record && record->window && record->slot >= 0) {
        KillTimer(record->window->window, CP_BUDGET_TIMER_ID + static_cast<UINT_PTR>(record->slot));
    }
}

OVRESULT cpSocketWatchAttempt(cpSocketRecord* record, SOCKET socket)
{
    if (!record || !record->window || record->slot < 0 || socket == INVALID_SOCKET) {
        return OVR_BAD_SOCKET;
    }
    if (WSAAsyncSelect(socket, record->window->window, CP_WM_SOCKET_NOTIFY + record->slot, FD_CONNECT) != 0) {
        return cpLastSocketError();
    }
    return OVR_PLATFORM_OK;
}

void cpSocketForgetAttempt(cpSocketRecord* record, SOCKET socket)
{
    if (socket == INVALID_SOCKET) {
        return;
    }
    if (record && record->window) {
        WSAAsyncSelect(socket, record->window->window, 0, 0);
    }
    closesocket(socket);
}

OVRESULT cpSocketAdopt(cpSocketRecord* record, SOCKET socket, const cpEndpoint& peer)
{
    if (!record || !record->window || record->slot < 0 || socket == INVALID_SOCKET) {
        return OVR_BAD_SOCKET;
    }
    SetPeer(record, peer);
    if (socket == record->socket) {
        return OVR_PLATFORM_OK; // registered for everything already
    }
    if (record->HasSocket()) {
        WSAAsyncSelect(record->socket, record->window->window, 0, 0);
        closesocket(record->socket);
    }
    record->socket = socket;
    record->kind = CP_SOCKET_TCP;
    record->family = peer.address.Family();
    if (WSAAsyncSelect(record->socket, record->window->window, CP_WM_SOCKET_NOTIFY + record->slot, kAllEvents) != 0) {
        return cpLastSocketError();
    }
    return OVR_PLATFORM_OK;
}

OVRESULT cpResolveAll(const char* name, std::vector<cpAddress>* addresses, std::size_t capacity)
{
    if (addresses) {
        addresses->clear();
    }
    if (!name || !*name || !addresses) {
        return OVR_PLATFORM_FAIL;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0) {
        return OVR_PLATFORM_FAIL;
    }
    for (const addrinfo* entry = found; entry && addresses->size() < capacity; entry = entry->ai_next) {
        cpAddress address;
        if (cpAddress::FromSockaddr(entry->ai_addr, static_cast<int>(entry->ai_addrlen), &address, nullptr) &&
            std::find(addresses->begin(), addresses->end(), address) == addresses->end()) {
            addresses->push_back(address);
        }
    }
    freeaddrinfo(found);
    return addresses->empty() ? OVR_PLATFORM_FAIL : OVR_PLATFORM_OK;
}

OVRESULT cpResolveFirst(const char* name, cpAddress* address)
{
    std::vector<cpAddress> found;
    const OVRESULT result = cpResolveAll(name, &found, 1);
    if (OV_SUCCEEDED(result) && address) {
        *address = found.front();
    }
    return result;
}
