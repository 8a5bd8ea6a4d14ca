// BSD socket calls with Winsock's contract: SOCKET handles, SOCKET_ERROR and
// Winsock error numbers, non-blocking connect reporting WSAEWOULDBLOCK, and
// the re-enabling of WSAAsyncSelect notices by recv, send and accept.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "error_mapping.h"
#include "socket_table.h"
#include "test_switches.h"
#include "win32_ext.h"
#include "winsock2.h"
#include "ws2tcpip.h"

namespace w32 {
namespace {

struct Table {
  std::unordered_map<int, SocketState> sockets;
  uint32_t nextGeneration = 1;
};

Table& Sockets() {
  static Table* table = new Table;
  return *table;
}

bool ValidSocket(SOCKET s) { return s != INVALID_SOCKET && s <= static_cast<SOCKET>(INT32_MAX); }

int Fd(SOCKET s) { return static_cast<int>(s); }

bool IsNonBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && (flags & O_NONBLOCK) != 0;
}

// Runs `f` on the state of `s` under the table lock, adopting sockets this
// layer did not create.
template <typename F>
void WithSocket(SOCKET s, F f) {
  if (!ValidSocket(s)) return;
  std::lock_guard<std::mutex> lock(SocketLock());
  if (SocketState* state = FindSocketLocked(Fd(s), true)) f(*state);
}

bool IsConnectFailure(int err) {
  return err == ECONNREFUSED || err == ENETUNREACH || err == EHOSTUNREACH || err == ETIMEDOUT;
}

socklen_t Length(int len) { return len < 0 ? 0 : static_cast<socklen_t>(len); }

bool IsUnreachableForTesting(const struct sockaddr* name, int namelen) {
  const unsigned short port = UnreachablePortForTesting();
  if (port == 0 || name == nullptr) return false;
  if (name->sa_family == AF_INET && namelen >= static_cast<int>(sizeof(sockaddr_in)))
    return ntohs(reinterpret_cast<const sockaddr_in*>(name)->sin_port) == port;
  if (name->sa_family == AF_INET6 && namelen >= static_cast<int>(sizeof(sockaddr_in6)))
    return ntohs(reinterpret_cast<const sockaddr_in6*>(name)->sin6_port) == port;
  return false;
}

// Winsock's number for a failed look-up.
int WsaErrorFromLookup(int rc) {
  switch (rc) {
    case EAI_AGAIN: return WSATRY_AGAIN;
    case EAI_NONAME:
    case EAI_NODATA:
    case EAI_ADDRFAMILY: return WSAHOST_NOT_FOUND;
    case EAI_FAMILY: return WSAEAFNOSUPPORT;
    case EAI_SOCKTYPE: return WSAESOCKTNOSUPPORT;
    case EAI_SERVICE: return WSATYPE_NOT_FOUND;
    case EAI_MEMORY: return WSA_NOT_ENOUGH_MEMORY;
    case EAI_BADFLAGS: return WSAEINVAL;
    default: return WSANO_RECOVERY;
  }
}

thread_local struct HostStorage {
  std::vector<char> name;
  std::vector<in_addr> addresses;
  std::vector<char*> addressPointers;
  char* noAliases[1] = {nullptr};
  hostent entry{};
} t_host;

}  // namespace

std::mutex& SocketLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

size_t LiveSocketCount() {
  std::lock_guard<std::mutex> lock(SocketLock());
  return Sockets().sockets.size();
}

SocketState& AddSocketLocked(int fd) {
  Table& t = Sockets();
  SocketState& state = t.sockets[fd];
  state = SocketState{};
  state.fd = fd;
  state.generation = t.nextGeneration++;
  if (t.nextGeneration == 0) t.nextGeneration = 1;
  int type = 0;
  socklen_t len = sizeof(type);
  if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) == 0) state.stream = type == SOCK_STREAM;
  if (!state.stream) state.phase = SocketPhase::Connected;  // datagrams flow without a connection
  return state;
}

SocketState* FindSocketLocked(int fd, bool adopt) {
  Table& t = Sockets();
  auto it = t.sockets.find(fd);
  if (it != t.sockets.end()) return &it->second;
  if (!adopt) return nullptr;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode)) return nullptr;
  SocketState& state = AddSocketLocked(fd);
  sockaddr_storage peer{};
  socklen_t len = sizeof(peer);
  if (state.stream && getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len) == 0)
    state.phase = SocketPhase::Connected;
  return &state;
}

void RemoveSocketLocked(int fd) {
  Table& t = Sockets();
  auto it = t.sockets.find(fd);
  if (it == t.sockets.end()) return;
  if (it->second.inSet)
    if (auto queue = it->second.queue.lock()) queue->UnwatchDescriptor(fd);
  t.sockets.erase(it);
}

int FailSocketCall(int err) {
  WSASetLastError(WsaErrorFromErrno(err));
  return SOCKET_ERROR;
}

}  // namespace w32

using namespace w32;

int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData) {
  if (lpWSAData == nullptr) return WSAEFAULT;
  BYTE major = LOBYTE(wVersionRequested), minor = HIBYTE(wVersionRequested);
  std::memset(lpWSAData, 0, sizeof(*lpWSAData));
  lpWSAData->wHighVersion = MAKEWORD(2, 2);
  if (major < 1 || (major == 1 && minor < 1)) return WSAVERNOTSUPPORTED;
  lpWSAData->wVersion = (major > 2 || (major == 2 && minor >= 2)) ? MAKEWORD(2, 2) : wVersionRequested;
  std::strcpy(lpWSAData->szDescription, "WinSock 2.0");
  std::strcpy(lpWSAData->szSystemStatus, "Running");
  return 0;
}

// Sockets need no global start-up on POSIX; the count is not enforced.
int WSACleanup(void) { return 0; }

int WSAGetLastError(void) { return static_cast<int>(GetLastError()); }

void WSASetLastError(int iError) { SetLastError(static_cast<DWORD>(iError)); }

SOCKET W32socket(int af, int type, int protocol) {
  int fd = (::socket)(af, type | SOCK_CLOEXEC, protocol);  // parenthesised: not our macro
  if (fd < 0) {
    FailSocketCall(errno);
    return INVALID_SOCKET;
  }
  std::lock_guard<std::mutex> lock(SocketLock());
  AddSocketLocked(fd);
  return static_cast<SOCKET>(fd);
}

int closesocket(SOCKET s) {
  if (!ValidSocket(s)) return FailSocketCall(ENOTSOCK);
  {
    std::lock_guard<std::mutex> lock(SocketLock());
    RemoveSocketLocked(Fd(s));
  }
  if (::close(Fd(s)) != 0) return FailSocketCall(errno);
  return 0;
}

int ioctlsocket(SOCKET s, long cmd, u_long* argp) {
  if (!ValidSocket(s)) return FailSocketCall(ENOTSOCK);
  if (argp == nullptr) return FailSocketCall(EFAULT);
  int fd = Fd(s);
  if (static_cast<unsigned long>(cmd) == FIONBIO) {
    bool registered = false;
    WithSocket(s, [&](SocketState& st) { registered = st.mask != 0; });
    if (*argp == 0 && registered) return FailSocketCall(EINVAL);  // Winsock refuses while selected
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0) return FailSocketCall(errno == EBADF ? ENOTSOCK : errno);
    flags = *argp ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    if (fcntl(fd, F_SETFL, flags) != 0) return FailSocketCall(errno);
    return 0;
  }
  if (static_cast<unsigned long>(cmd) == FIONREAD) {
    int available = 0;
    if (::ioctl(fd, FIONREAD, &available) != 0) return FailSocketCall(errno == EBADF ? ENOTSOCK : errno);
    *argp = static_cast<u_long>(available);
    return 0;
  }
  return FailSocketCall(EINVAL);
}

int connect(SOCKET s, const struct sockaddr* name, int namelen) {
  if (!ValidSocket(s)) return FailSocketCall(ENOTSOCK);
  int fd = Fd(s);
  if (IsUnreachableForTesting(name, namelen)) {
    errno = EHOSTUNREACH;
  } else if (::connect(fd, name, Length(namelen)) == 0) {
    WithSocket(s, [](SocketState& st) {
      // A selected socket still learns of its connection through FD_CONNECT.
      st.phase = st.mask != 0 ? SocketPhase::Connecting : SocketPhase::Connected;
      if (st.mask == 0) st.readArmed = st.writeArmed = true;
      UpdateInterestLocked(st);
    });
    return 0;
  }
  int err = errno;
  if (err == EINPROGRESS) {
    WithSocket(s, [](SocketState& st) {
      st.phase = SocketPhase::Connecting;
      UpdateInterestLocked(st);
    });
    return FailSocketCall(EAGAIN);  // Winsock: WSAEWOULDBLOCK
  }
  if (IsConnectFailure(err) && IsNonBlocking(fd)) {
    // Winsock reports a failed non-blocking connect through FD_CONNECT only.
    HWND hwnd = nullptr;
    UINT message = 0;
    bool notify = false;
    WithSocket(s, [&](SocketState& st) {
      st.phase = SocketPhase::Idle;
      notify = (st.mask & FD_CONNECT) != 0 && st.hwnd != nullptr;
      if (!notify) st.pendingConnectError = err;
      hwnd = st.hwnd;
      message = st.message;
    });
    if (notify) PostMessageW(hwnd, message, s, WSAMAKESELECTREPLY(FD_CONNECT, WsaErrorFromErrno(err)));
    return FailSocketCall(EAGAIN);
  }
  return FailSocketCall(err);
}

int bind(SOCKET s, const struct sockaddr* name, int namelen) {
  if (!ValidSocket(s)) return FailSocketCall(ENOTSOCK);
  if (::bind(Fd(s), name, Length(namelen)) != 0) return FailSocketCall(errno);
  return 0;
}

int listen(SOCKET s, int backlog) {
  if (!ValidSocket(s)) return FailSocketCall(ENOTSOCK);
  if (::listen(Fd(s), backlog) != 0) return FailSocketCall(errno);
  WithSocket(s, [](SocketState& st) {
    st.phase = SocketPhase::Listening;
    st.acceptArmed = true;
    UpdateInterestLocked(st);
  });
  return 0;
}

SOCKET accept(SOCKET s, struct sockaddr* addr, int* addrlen) {
  if (!ValidSocket(s)) {
    FailSocketCall(ENOTSOCK);
    return INVALID_SOCKET;
  }
  socklen_t len = addrlen ? Length(*addrlen) : 0;
  int fd = ::accept4(Fd(s), addr, addrlen ? &len : nullptr, SOCK_CLOEXEC);
  int err = errno;
  std::lock_guard<std::mutex> lock(SocketLock());
  SocketState* listener = FindSocketLocked(Fd(s), true);
  if (listener) {
    listener->acceptArmed = true;  // FD_ACCEPT is enabled again by accept
    UpdateInterestLocked(*listener);
  }
  if (fd < 0) return static_cast<SOCKET>(FailSocketCall(err));
  if (addrlen) *addrlen = static_cast<int>(len);
  SocketState& st = AddSocketLocked(fd);
  st.phase = SocketPhase::Connected;
  st.readArmed = st.writeArmed = true;
  if (listener && listener->mask != 0) {
    // An accepted socket inherits the listener's selection, as in Winsock.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    st.hwnd = listener->hwnd;
    st.message = listener->message;
    st.mask = listener->mask;
    st.queue = listener->queue;
    UpdateInterestLocked(st);
  }
  return static_cast<SOCKET>(fd);
}

int send(SOCKET s, const char* buf, int len, int flags) {
  if (!ValidSocket(s)) return FailSocketCall(ENOTSOCK);
  if (len < 0) return FailSocketCall(EINVAL);
  ssize_t n = ::send(Fd(s), static_cast<const void*>(buf), static_cast<size_t>(len), flags | MSG_NOSIGNAL);
  if (n >= 0) return static_cast<int>(n);
  int err = errno;
  if (err == EAGAIN || err == EWOULDBLOCK) {
    WithSocket(s, [](SocketState& st) {
      st.writeArmed = true;  // FD_WRITE once space is available again
      UpdateInterestLocked(st);
    });
  }
  return FailSocketCall(err);
}

int recv(SOCKET s, char* buf, int len, int flags) {
  if (!ValidSocket(s)) return FailSocketCall(ENOTSOCK);
  if (len < 0) return FailSocketCall(EINVAL);
  ssize_t n = ::recv(Fd(s), static_cast<void*>(buf), static_cast<size_t>(len), flags);
  int err = errno;
  WithSocket(s, [](SocketState& st) {
    if (!st.closePosted) st.readArmed = true;  // FD_READ (or FD_CLOSE) may follow again
    UpdateInterestLocked(st);
  });
  if (n >= 0) return static_cast<int>(n);
  return FailSocketCall(err);
}

int sendto(SOCKET s, const char* buf, int len, int flags, const struct sockaddr* to, int tolen) {
  if (!ValidSocket(s)) return FailSocketCall(ENOTSOCK);
  if (len < 0) return FailSocketCall(EINVAL);
  ssize_t n =
      ::sendto(Fd(s), static_cast<const void*>(buf), static_cast<size_t>(len), flags | MSG_NOSIGNAL, to, Length(tolen));
  if (n >= 0) return static_cast<int>(n);
  int err = errno;
  if (err == EAGAIN || err == EWOULDBLOCK) {
    WithSocket(s, [](SocketState& st) {
      st.writeArmed = true;
      UpdateInterestLocked(st);
    });
  }
  return FailSocketCall(err);
}

int recvfrom(SOCKET s, char* buf, int len, int flags, struct sockaddr* from, int* fromlen) {
  if (!ValidSocket(s)) return FailSocketCall(ENOTSOCK);
  if (len < 0) return FailSocketCall(EINVAL);
  socklen_t flen = fromlen ? Length(*fromlen) : 0;
  ssize_t n =
      ::recvfrom(Fd(s), static_cast<void*>(buf), static_cast<size_t>(len), flags, from, fromlen ? &flen : nullptr);
  int err = errno;
  WithSocket(s, [](SocketState& st) {
    st.readArmed = true;
    UpdateInterestLocked(st);
  });
  if (n < 0) return FailSocketCall(err);
  if (fromlen) *fromlen = static_cast<int>(flen);
  return static_cast<int>(n);
}

int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen) {
  if (!ValidSocket(s)) return FailSocketCall(ENOTSOCK);
  if (level == SOL_SOCKET && optname == SO_LINGER && optlen == 4 && optval) {
    // Winsock's linger holds two u_shorts.
    unsigned short fields[2];
    std::memcpy(fields, optval, sizeof(fields));
    struct linger l {
      fields[0], fields[1]
    };
    if (::setsockopt(Fd(s), level, optname, static_cast<const void*>(&l), socklen_t{sizeof(l)}) != 0)
      return FailSocketCall(errno);
    return 0;
  }
  if (level == SOL_SOCKET && (optname == SO_RCVTIMEO || optname == SO_SNDTIMEO) && optlen == 4 && optval) {
    // Winsock's time-outs are DWORD milliseconds.
    DWORD ms;
    std::memcpy(&ms, optval, sizeof(ms));
    timeval tv{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>((ms % 1000) * 1000)};
    if (::setsockopt(Fd(s), level, optname, static_cast<const void*>(&tv), socklen_t{sizeof(tv)}) != 0)
      return FailSocketCall(errno);
    return 0;
  }
  if (::setsockopt(Fd(s), level, optname, static_cast<const void*>(optval), Length(optlen)) != 0)
    return FailSocketCall(errno);
  return 0;
}

int getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen) {
  if (!ValidSocket(s)) return FailSocketCall(ENOTSOCK);
  if (optlen == nullptr) return FailSocketCall(EFAULT);
  socklen_t len = Length(*optlen);
  if (::getsockopt(Fd(s), level, optname, static_cast<void*>(optval), &len) != 0) return FailSocketCall(errno);
  if (level == SOL_SOCKET && optname == SO_ERROR && len == sizeof(int) && optval) {
    int err;
    std::memcpy(&err, optval, sizeof(err));
    err = WsaErrorFromErrno(err);
    std::memcpy(optval, &err, sizeof(err));
  }
  *optlen = static_cast<int>(len);
  return 0;
}

namespace {

// getsockname and getpeername: the same call shape.
int AddressQuery(int (*query)(int, sockaddr*, socklen_t*), SOCKET s, struct sockaddr* name, int* namelen) {
  if (!ValidSocket(s)) return FailSocketCall(ENOTSOCK);
  if (namelen == nullptr) return FailSocketCall(EFAULT);
  socklen_t len = Length(*namelen);
  if (query(Fd(s), name, &len) != 0) return FailSocketCall(errno);
  *namelen = static_cast<int>(len);
  return 0;
}

}  // namespace

int getsockname(SOCKET s, struct sockaddr* name, int* namelen) { return AddressQuery(::getsockname, s, name, namelen); }

int getpeername(SOCKET s, struct sockaddr* name, int* namelen) { return AddressQuery(::getpeername, s, name, namelen); }

int shutdown(SOCKET s, int how) {
  if (!ValidSocket(s)) return FailSocketCall(ENOTSOCK);
  if (::shutdown(Fd(s), how) != 0) return FailSocketCall(errno);
  return 0;
}

struct hostent* W32gethostbyname(const char* name) {
  if (name == nullptr) {
    WSASetLastError(WSAEFAULT);
    return nullptr;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  int rc = (::getaddrinfo)(name, nullptr, &hints, &result);  // parenthesised: not our macro
  if (rc != 0) {
    WSASetLastError(WsaErrorFromLookup(rc));
    return nullptr;
  }
  HostStorage& h = t_host;
  h.addresses.clear();
  for (addrinfo* ai = result; ai != nullptr && h.addresses.size() < 64; ai = ai->ai_next) {
    if (ai->ai_family != AF_INET || ai->ai_addrlen < sizeof(sockaddr_in)) continue;
    in_addr a = reinterpret_cast<sockaddr_in*>(ai->ai_addr)->sin_addr;
    bool seen = false;
    for (auto& known : h.addresses) seen = seen || known.s_addr == a.s_addr;
    if (!seen) h.addresses.push_back(a);
  }
  const char* canonical = result->ai_canonname ? result->ai_canonname : name;
  h.name.assign(canonical, canonical + std::strlen(canonical) + 1);
  freeaddrinfo(result);
  if (h.addresses.empty()) {
    WSASetLastError(WSANO_DATA);
    return nullptr;
  }
  h.addressPointers.clear();
  for (auto& a : h.addresses) h.addressPointers.push_back(reinterpret_cast<char*>(&a));
  h.addressPointers.push_back(nullptr);
  h.entry.h_name = h.name.data();
  h.entry.h_aliases = h.noAliases;
  h.entry.h_addrtype = AF_INET;
  h.entry.h_length = 4;
  h.entry.h_addr_list = h.addressPointers.data();
  return &h.entry;
}

INT W32getaddrinfo(PCSTR pNodeName, PCSTR pServiceName, const ADDRINFOA* pHints, PADDRINFOA* ppResult) {
  if (ppResult == nullptr || (pNodeName == nullptr && pServiceName == nullptr)) {
    WSASetLastError(WSANO_RECOVERY);
    return WSANO_RECOVERY;
  }
  *ppResult = nullptr;
  const int rc = (::getaddrinfo)(pNodeName, pServiceName, pHints, ppResult);
  if (rc != 0) {
    *ppResult = nullptr;
    const int error = rc == EAI_SYSTEM ? WsaErrorFromErrno(errno) : WsaErrorFromLookup(rc);
    WSASetLastError(error);
    return error;
  }
  return 0;
}
