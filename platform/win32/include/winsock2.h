// The Winsock 2 subset, implemented on POSIX sockets by the win32 library.
//
// Error numbers are Winsock's (WSAGetLastError). The address structures,
// socket option names and byte-order helpers are the system's own
// (sockaddr_in, SOL_SOCKET, SO_LINGER, htons, inet_addr, ...), which have
// the same fields as Winsock's.
//
// How the calls that share a name with the C library are reached: the C
// library's functions are never replaced or interposed. The calls that take
// a socket (connect, send, recv, bind, listen, accept, setsockopt, ...) are
// C++ overloads whose first parameter is SOCKET, so a call with a SOCKET
// resolves to the Winsock version. socket() and gethostbyname() have no
// socket parameter to overload on: this header maps them with function-like
// macros to W32socket() and W32gethostbyname(). Include this header, not
// <sys/socket.h>, in code written against Winsock.
#pragma once

#include "windows.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <type_traits>

typedef UINT_PTR SOCKET;
#define INVALID_SOCKET ((SOCKET)(~0))
#define SOCKET_ERROR (-1)

typedef struct sockaddr SOCKADDR, *PSOCKADDR, *LPSOCKADDR;
typedef struct sockaddr_in SOCKADDR_IN, *PSOCKADDR_IN, *LPSOCKADDR_IN;
typedef struct sockaddr_in6 SOCKADDR_IN6, *PSOCKADDR_IN6, *LPSOCKADDR_IN6;
typedef struct sockaddr_storage SOCKADDR_STORAGE, *PSOCKADDR_STORAGE, *LPSOCKADDR_STORAGE;
typedef struct in_addr IN_ADDR, *PIN_ADDR, *LPIN_ADDR;
typedef struct hostent HOSTENT, *PHOSTENT, *LPHOSTENT;
typedef struct linger LINGER, *PLINGER, *LPLINGER;

#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128

typedef struct WSAData {
  WORD wVersion;
  WORD wHighVersion;
  unsigned short iMaxSockets;
  unsigned short iMaxUdpDg;
  char* lpVendorInfo;
  char szDescription[WSADESCRIPTION_LEN + 1];
  char szSystemStatus[WSASYS_STATUS_LEN + 1];
} WSADATA, *LPWSADATA;

// Winsock error numbers
#define WSABASEERR 10000
#define WSAEINTR 10004
#define WSAEBADF 10009
#define WSAEACCES 10013
#define WSAEFAULT 10014
#define WSAEINVAL 10022
#define WSAEMFILE 10024
#define WSAEWOULDBLOCK 10035
#define WSAEINPROGRESS 10036
#define WSAEALREADY 10037
#define WSAENOTSOCK 10038
#define WSAEDESTADDRREQ 10039
#define WSAEMSGSIZE 10040
#define WSAEPROTOTYPE 10041
#define WSAENOPROTOOPT 10042
#define WSAEPROTONOSUPPORT 10043
#define WSAESOCKTNOSUPPORT 10044
#define WSAEOPNOTSUPP 10045
#define WSAEPFNOSUPPORT 10046
#define WSAEAFNOSUPPORT 10047
#define WSAEADDRINUSE 10048
#define WSAEADDRNOTAVAIL 10049
#define WSAENETDOWN 10050
#define WSAENETUNREACH 10051
#define WSAENETRESET 10052
#define WSAECONNABORTED 10053
#define WSAECONNRESET 10054
#define WSAENOBUFS 10055
#define WSAEISCONN 10056
#define WSAENOTCONN 10057
#define WSAESHUTDOWN 10058
#define WSAETIMEDOUT 10060
#define WSAECONNREFUSED 10061
#define WSAEHOSTDOWN 10064
#define WSAEHOSTUNREACH 10065
#define WSASYSNOTREADY 10091
#define WSAVERNOTSUPPORTED 10092
#define WSANOTINITIALISED 10093
#define WSATYPE_NOT_FOUND 10109
#define WSA_NOT_ENOUGH_MEMORY 8
#define WSAHOST_NOT_FOUND 11001
#define WSATRY_AGAIN 11002
#define WSANO_RECOVERY 11003
#define WSANO_DATA 11004

// WSAAsyncSelect events
#define FD_READ 0x01
#define FD_WRITE 0x02
#define FD_OOB 0x04
#define FD_ACCEPT 0x08
#define FD_CONNECT 0x10
#define FD_CLOSE 0x20
#define FD_ALL_EVENTS 0x3f

#define WSAMAKESELECTREPLY(event, error) ((LONG)MAKELONG(event, error))
#define WSAGETSELECTEVENT(lParam) LOWORD(lParam)
#define WSAGETSELECTERROR(lParam) HIWORD(lParam)

#define SD_RECEIVE 0x00
#define SD_SEND 0x01
#define SD_BOTH 0x02

int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData);
int WSACleanup(void);
int WSAGetLastError(void);
void WSASetLastError(int iError);

SOCKET W32socket(int af, int type, int protocol);
#define socket(af, type, protocol) W32socket(af, type, protocol)
int closesocket(SOCKET s);
int ioctlsocket(SOCKET s, long cmd, u_long* argp);
int connect(SOCKET s, const struct sockaddr* name, int namelen);
int bind(SOCKET s, const struct sockaddr* name, int namelen);
int listen(SOCKET s, int backlog);
SOCKET accept(SOCKET s, struct sockaddr* addr, int* addrlen);
int send(SOCKET s, const char* buf, int len, int flags);
int recv(SOCKET s, char* buf, int len, int flags);
int sendto(SOCKET s, const char* buf, int len, int flags, const struct sockaddr* to, int tolen);
int recvfrom(SOCKET s, char* buf, int len, int flags, struct sockaddr* from, int* fromlen);
int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen);
int getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen);
int getsockname(SOCKET s, struct sockaddr* name, int* namelen);
int getpeername(SOCKET s, struct sockaddr* name, int* namelen);
int shutdown(SOCKET s, int how);

// Buffers of other types and lengths of other integer types (size_t from
// sizeof or strlen) still reach the Winsock calls above, never the C
// library's.
template <typename Buffer, typename Length, typename = std::enable_if_t<std::is_integral_v<Length>>>
inline int send(SOCKET s, const Buffer* buf, Length len, int flags) {
  return send(s, reinterpret_cast<const char*>(buf), static_cast<int>(len), flags);
}
template <typename Buffer, typename Length, typename = std::enable_if_t<std::is_integral_v<Length>>>
inline int recv(SOCKET s, Buffer* buf, Length len, int flags) {
  return recv(s, reinterpret_cast<char*>(buf), static_cast<int>(len), flags);
}
template <typename Buffer, typename Length, typename = std::enable_if_t<std::is_integral_v<Length>>>
inline int sendto(SOCKET s, const Buffer* buf, Length len, int flags, const struct sockaddr* to, int tolen) {
  return sendto(s, reinterpret_cast<const char*>(buf), static_cast<int>(len), flags, to, tolen);
}
template <typename Buffer, typename Length, typename = std::enable_if_t<std::is_integral_v<Length>>>
inline int recvfrom(SOCKET s, Buffer* buf, Length len, int flags, struct sockaddr* from, int* fromlen) {
  return recvfrom(s, reinterpret_cast<char*>(buf), static_cast<int>(len), flags, from, fromlen);
}
template <typename Value, typename Length, typename = std::enable_if_t<std::is_integral_v<Length>>>
inline int setsockopt(SOCKET s, int level, int optname, const Value* optval, Length optlen) {
  return setsockopt(s, level, optname, reinterpret_cast<const char*>(optval), static_cast<int>(optlen));
}

// IPv4 host look-up. The result lives in storage of the calling thread until
// its next call, as Winsock's does; failure sets WSAHOST_NOT_FOUND or
// WSATRY_AGAIN.
struct hostent* W32gethostbyname(const char* name);
#define gethostbyname(name) W32gethostbyname(name)

// Readiness notices as window messages: wMsg is posted to hWnd's thread with
// wParam = the socket and lParam = WSAMAKESELECTREPLY(event, error).
// Re-enabling follows Winsock: FD_READ is not posted again until recv is
// called, FD_ACCEPT until accept is called, FD_WRITE after connect and then
// only after a send failed with WSAEWOULDBLOCK and space became available,
// FD_CONNECT once with its error, FD_CLOSE once after every byte received
// before the peer's close has been read. A new call replaces the
// registration and re-arms (a notice follows at once for a socket that is
// already readable or writable); lEvent 0 cancels. Sets the socket
// non-blocking.
int WSAAsyncSelect(SOCKET s, HWND hWnd, UINT wMsg, long lEvent);
