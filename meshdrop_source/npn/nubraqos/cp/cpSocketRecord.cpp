#include "cp/cpSocketRecord.h"

#include <cstring>
#include <memory>

#include <win32_ext.h>

namespace {

constexpr long kAllEvents = FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE;
constexpr long kRearmEvents = FD_READ | FD_WRITE | FD_OOB | FD_CLOSE; // 0x27

sockaddr_in ToSockaddr(const cpEndpoint& endpoint)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(endpoint.port);
    address.sin_addr.s_addr = endpoint.address;
    return address;
}

cpEndpoint FromSockaddr(const sockaddr_in& address)
{
    return {address.sin_addr.s_addr, ntohs(address.sin_port)};
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

OVRESULT cpSocketCreate(cpSocketRecord** record, int kind)
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
        target->socket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        result = target->HasSocket() ? OVR_PLATFORM_OK : OVR_BAD_SOCKET;
    } else {
        target->socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
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
    record->address = ToSockaddr(endpoint);
    record->addressLength = sizeof(record->address);
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
    record->address = ToSockaddr(endpoint);
    record->addressLength = sizeof(record->address);
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
    sockaddr_in address{};
    int length = sizeof(address);
    SOCKET s = accept(record->socket, reinterpret_cast<sockaddr*>(&address), &length);
    if (s == INVALID_SOCKET) {
        return cpLastSocketError();
    }
    SetLingerReset(s);
    auto made = std::make_unique<cpSocketRecord>();
    made->socket = s;
    made->kind = CP_SOCKET_TCP;
    made->address = address;
    made->addressLength = length;
    if (peer) {
        *peer = FromSockaddr(address);
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

OVRESULT cpSocketReceiveChunks(cpSocketRecord* record, void* buffer, std::uint32_t chunk, std::uint32_t count,
                               std::uint32_t* received)
{
    if (!record) {
        return OVR_BAD_SOCKET;
    }
    if (!record->HasSocket()) {
        return OVR_SOCK_NOTSOCK;
    }
    return ReceiveResult(
        W32RecvChunks(record->socket, static_cast<char*>(buffer), static_cast<int>(chunk), static_cast<int>(count)),
        received);
}

OVRESULT cpSocketSendTo(cpSocketRecord* record, const void* bytes, std::uint32_t length, const cpEndpoint& endpoint,
                        std::uint32_t* sent)
{
    if (!record) {
        return OVR_BAD_SOCKET;
    }
    record->address = ToSockaddr(endpoint);
    record->addressLength = sizeof(record->address);
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
    sockaddr_in address{};
    int length = sizeof(address);
    const int n = recvfrom(record->socket, static_cast<char*>(buffer), static_cast<int>(size), 0,
                           reinterpret_cast<sockaddr*>(&address), &length);
    if (n == SOCKET_ERROR) {
        return cpLastSocketError();
    }
    if (from) {
        *from = FromSockaddr(address);
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

OVRESULT cpResolveAll(const char* name, std::uint32_t* addresses, int capacity, int* count)
{
    if (count) {
        *count = 0;
    }
    if (!name || !*name) {
        return OVR_PLATFORM_FAIL;
    }
    hostent* host = gethostbyname(name);
    if (!host || host->h_addrtype != AF_INET || host->h_length != 4 || !host->h_addr_list) {
        return OVR_PLATFORM_FAIL;
    }
    int n = 0;
    for (char** entry = host->h_addr_list; *entry && n < capacity; ++entry) {
        std::memcpy(&addresses[n++], *entry, 4);
    }
    if (count) {
        *count = n;
    }
    return n > 0 ? OVR_PLATFORM_OK : OVR_PLATFORM_FAIL;
}

OVRESULT cpResolveFirst(const char* name, std::uint32_t* address)
{
    std::uint32_t first = 0;
    int count = 0;
    const OVRESULT result = cpResolveAll(name, &first, 1, &count);
    if (OV_SUCCEEDED(result) && address) {
        *address = first;
    }
    return result;
}
