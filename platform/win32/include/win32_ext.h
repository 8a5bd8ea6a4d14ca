// Extensions of this program's Win32 layer that Windows does not have: drive
// mapping, the GUI toolkit hook, the published window state and the switches
// tests use to reach failure paths.
#pragma once

#include "windows.h"

#include <string>
#include <string_view>

// ---------------------------------------------------------------------------
// Drives and paths.
// C: is a folder of its own: $MESHDROP_DRIVE_C, else $WINEPREFIX/drive_c,
// else ~/.wine/drive_c when it exists, else ~/.local/share/meshdrop/drive_c
// (created on demand). Z: is /. Other drive letters do not exist.
// Drive-less paths (\foo) resolve on the current directory's drive, relative
// paths against the current directory. Narrow Windows paths are in the
// system code page; POSIX paths are UTF-8 bytes.
//
// The conversions write a null-terminated result and return its length
// without the terminator; when the buffer is too small they return the size
// needed including the terminator and write nothing; 0 on failure (last
// error ERROR_PATH_NOT_FOUND for an unknown drive, ERROR_INVALID_PARAMETER
// for a null path).
DWORD W32PathToPosix(LPCSTR windowsPath, LPSTR posixPath, DWORD posixSize);
DWORD W32PathToPosix(LPCWSTR windowsPath, LPSTR posixPath, DWORD posixSize);
// POSIX paths under the C: folder become C:\..., others Z:\...; relative
// POSIX paths are taken against the current directory.
DWORD W32PathFromPosix(LPCSTR posixPath, LPSTR windowsPath, DWORD windowsSize);
DWORD W32PathFromPosix(LPCSTR posixPath, LPWSTR windowsPath, DWORD windowsSize);
// The same conversions for C++ callers; empty on failure.
std::string W32PathToPosix(std::string_view windowsPath);
std::string W32PathToPosix(std::wstring_view windowsPath);
std::string W32PathFromPosixA(std::string_view posixPath);
std::wstring W32PathFromPosixW(std::string_view posixPath);
// The POSIX folder that C: stands for (no trailing slash).
std::string W32DriveCRoot();

// ---------------------------------------------------------------------------
// GUI toolkit hook. A file descriptor that is readable whenever the calling
// thread's message queue has something to retrieve (a posted message, a due
// timer, a socket notice) and stops being readable once the queue has been
// drained with PeekMessage(PM_REMOVE). A toolkit watches it in its own event
// loop and drains the queue with PeekMessageW + TranslateMessage +
// DispatchMessageW, so windows it creates on its thread receive posted
// messages also inside nested loops. The descriptor belongs to the queue:
// do not close it.
int W32GetMessageQueueFd(void);

// ---------------------------------------------------------------------------
// Windows of other processes. Titles of live top-level windows are published
// in the runtime folder ($MESHDROP_RUNTIME_DIR, else
// $XDG_RUNTIME_DIR/meshdrop, else /tmp/meshdrop-<uid>), where each process
// listens on a socket of its own for restore and activate requests.
// The owner publishes whether its window is minimised (IsIconic answers it).
BOOL W32SetWindowIconic(HWND hWnd, BOOL iconic);
// The GUI toolkit tells which modal pop-up (a message box, a dialog) a window
// of this process has open while it runs (open TRUE) and when it closes
// (FALSE); GetLastActivePopup answers the innermost, and it is published
// with the window.
BOOL W32SetActivePopup(HWND hWndOwner, HWND hWndPopup, BOOL open);
std::string W32RuntimeDir();

// ---------------------------------------------------------------------------
// Owners of TCP sockets of this machine, as the kernel's socket table names
// them (the user id that made the socket; an accepted socket has its
// listener's). Loopback peers are told apart by user this way, with the
// port and the bytes on the connection unchanged.
// The user this process runs as: the owner its own sockets get.
DWORD W32GetCurrentOwner(void);
// The owner of the socket at the other end of the connected TCP socket `s`
// (both ends on this machine). FALSE when the kernel does not know that
// socket (the peer is gone, or `s` is not connected).
BOOL W32GetTcpPeerOwner(UINT_PTR s, DWORD* owner);  // s: a SOCKET or descriptor
// The owner of the socket that listens on the loopback address (or every
// address) at `port`, and, when that owner is this process's user and pid is
// not null, the process that holds it (0 when none was found). FALSE when
// nothing listens there.
BOOL W32GetTcpListenerOwner(unsigned short port, DWORD* owner, DWORD* pid);

// ---------------------------------------------------------------------------
// Processes.
// Asks a process of this user to end as a program ends on the system's stop
// request (SIGTERM: it finishes its work and leaves), then waits for it, at
// most dwMilliseconds. TRUE once it has ended (or was gone already); FALSE
// with ERROR_TIMEOUT while it still runs, or another error when it could not
// be asked.
BOOL W32AskProcessToLeave(DWORD pid, DWORD dwMilliseconds);

// ---------------------------------------------------------------------------
// Test switches: process-wide and thread-safe.
// While set, every WriteFile fails with ERROR_DISK_FULL (112) and
// GetDiskFreeSpaceEx reports 0 free bytes.
void W32SetDiskFullForTesting(BOOL diskFull);
// -1 the real state, 0 no connection, 1 connected (InternetGetConnectedState).
void W32SetInternetConnectedForTesting(int state);
// While set, ShellExecuteEx with "runas" fails with ERROR_CANCELLED (1223),
// as when the user declines the elevation prompt.
void W32SetElevationDeclinedForTesting(BOOL declined);
// While set to a port number (not 0), every connect to that port on any
// address fails with WSAEHOSTUNREACH (10065), as when no route leads to the
// host; 0 clears it.
void W32SetHostUnreachableForTesting(unsigned short port);
// What the tables hold now: open kernel handles, windows and sockets. The
// tests compare these before and after each test to find what was left open.
struct W32LiveCounts {
  size_t handles;
  size_t windows;
  size_t sockets;
};
void W32GetLiveCountsForTesting(W32LiveCounts* counts);
