// InternetGetConnectedState: connected when an interface other than loopback
// is up with an address.
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>

#include "test_switches.h"
#include "windows.h"

BOOL WINAPI InternetGetConnectedState(LPDWORD lpdwFlags, DWORD) {
  int forced = w32::InternetConnectedForTesting();
  bool connected = forced == 1;
  if (forced < 0) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) == 0) {
      for (ifaddrs* i = list; i != nullptr && !connected; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || (i->ifa_flags & IFF_LOOPBACK) || !(i->ifa_flags & IFF_UP)) continue;
        connected = i->ifa_addr->sa_family == AF_INET || i->ifa_addr->sa_family == AF_INET6;
      }
      freeifaddrs(list);
    }
  }
  if (lpdwFlags) *lpdwFlags = connected ? INTERNET_CONNECTION_LAN : INTERNET_CONNECTION_OFFLINE;
  return connected ? TRUE : FALSE;
}
