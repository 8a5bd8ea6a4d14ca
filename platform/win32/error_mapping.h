// Translation of errno values into Win32 and Winsock error numbers.
#pragma once

#include "windows.h"

namespace w32 {

// Win32 error number (GetLastError) for an errno value of a file call.
DWORD Win32ErrorFromErrno(int err);
// Winsock error number (WSAGetLastError) for an errno value of a socket call.
int WsaErrorFromErrno(int err);
// Sets the last error from errno and returns FALSE, for the common failure path.
BOOL FailWithErrno(int err);

}  // namespace w32
