#pragma once
// Proxies from the environment, read as curl reads them, so that the library
// and the engine (libcurl) take the same way out:
// - http:// requests use http_proxy (lower case only), https:// requests
//   https_proxy, else HTTPS_PROXY; both fall back to all_proxy, else
//   ALL_PROXY. An empty variable counts as unset.
// - no_proxy, else NO_PROXY, lists the hosts reached directly, separated by
//   commas or spaces: "*" (every host), a name that also covers its
//   subdomains ("example.com" and ".example.com" both match
//   "a.example.com" and "example.com"), an address ("10.1.2.3", "::1" or
//   "[::1]"), an address range ("10.0.0.0/8", "fd00::/8"), and any of these
//   with ":port" to match only that port ("example.com:8080", "[::1]:8443").
//   Names compare ignoring ASCII case; a name is never resolved to compare
//   it with an address.
// - A proxy is written [http://][user:password@]host[:port][/]; the port
//   defaults to 1080, as curl's does. The user and password are
//   percent-decoded and sent as Basic credentials. A proxy of another scheme
//   (https://, socks5://) cannot be used by the library.

#include <cstdint>
#include <string>

#include "nw/nwHttpUrl.h"

struct nwHttpProxy {
    ovCString host; // a name or a literal (an IPv6 literal without brackets)
    std::uint16_t port = 0;
    // The Proxy-Authorization value ("Basic ..."); empty without credentials.
    std::string authorization;
    // The proxy as log lines name it: scheme, host and port, never the credentials.
    std::string text;
};

enum class nwProxyChoice {
    Direct,   // no proxy is set for the scheme, or no_proxy lists the host
    Proxy,    // through *proxy
    Unusable, // a proxy is set but cannot be used (*proxy's text says which)
};

// The way to `target` by the process's environment.
nwProxyChoice nwChooseProxy(const nwHttpUrl& target, nwHttpProxy* proxy);

// The proxy setting (as the environment writes it) for a request to `url`,
// or empty for a direct one: what the engine hands libcurl.
std::string nwProxySettingFor(const char* url);

// Whether the no_proxy list `list` exempts a request to host:port.
bool nwNoProxyMatches(const char* list, const char* host, std::uint16_t port);

// Parses a proxy setting; false for a malformed one or another scheme than
// http:// (`proxy->text` is still filled as far as it could be read).
bool nwParseProxySetting(const char* setting, nwHttpProxy* proxy);
