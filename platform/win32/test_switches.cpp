// The test switches of win32_ext.h: atomics, so any thread may flip them.
#include "test_switches.h"

#include <atomic>

#include "win32_ext.h"

namespace {
std::atomic<bool> g_diskFull{false};
std::atomic<int> g_internet{-1};
std::atomic<bool> g_elevationDeclined{false};
std::atomic<unsigned short> g_unreachablePort{0};
}  // namespace

namespace w32 {
bool DiskFullForTesting() { return g_diskFull.load(); }
int InternetConnectedForTesting() { return g_internet.load(); }
bool ElevationDeclinedForTesting() { return g_elevationDeclined.load(); }
unsigned short UnreachablePortForTesting() { return g_unreachablePort.load(); }
}  // namespace w32

void W32SetDiskFullForTesting(BOOL diskFull) { g_diskFull = diskFull != FALSE; }

void W32SetInternetConnectedForTesting(int state) { g_internet = state < 0 ? -1 : (state ? 1 : 0); }

void W32SetElevationDeclinedForTesting(BOOL declined) { g_elevationDeclined = declined != FALSE; }

void W32SetHostUnreachableForTesting(unsigned short port) { g_unreachablePort = port; }

void W32GetLiveCountsForTesting(W32LiveCounts* counts) {
  if (counts == nullptr) return;
  counts->handles = w32::LiveHandleCount();
  counts->windows = w32::LiveWindowCount();
  counts->sockets = w32::LiveSocketCount();
}
