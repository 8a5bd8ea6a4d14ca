// The Winsock 2 protocol-independent name look-up (getaddrinfo) and the
// address text conversions, implemented by the win32 library.
//
// getaddrinfo keeps Winsock's contract: 0 on success, otherwise a Windows
// Sockets error number (also set as the last error): WSAHOST_NOT_FOUND for a
// name without addresses, WSATRY_AGAIN for a temporary failure,
// WSANO_RECOVERY for any other. The result is freed with freeaddrinfo. Like
// socket(), it has no parameter to overload on: this header maps it with a
// function-like macro to W32getaddrinfo(). inet_pton and inet_ntop are the
// system's own (same signatures as Winsock's).
#pragma once

#include "winsock2.h"

typedef struct addrinfo ADDRINFOA, *PADDRINFOA;

INT W32getaddrinfo(PCSTR pNodeName, PCSTR pServiceName, const ADDRINFOA* pHints, PADDRINFOA* ppResult);
#define getaddrinfo(pNodeName, pServiceName, pHints, ppResult) W32getaddrinfo(pNodeName, pServiceName, pHints, ppResult)
