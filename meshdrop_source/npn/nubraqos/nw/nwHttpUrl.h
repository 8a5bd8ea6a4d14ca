#pragma once
// Splits an "http://" or "https://" address into scheme, host, port and path.

#include <cstdint>
#include <string>

#include "ov/ovCString.h"

inline constexpr int HTTP_SCHEME_HTTP = 1;
inline constexpr int HTTP_SCHEME_HTTPS = 3;

struct nwHttpUrl {
    int scheme = 0;
    // A name or an address literal; an IPv6 literal without its brackets.
    ovCString host;
    std::uint16_t port = 0;
    // From the first "/" after the host on, query included; empty when none.
    ovCString path;

    // The host as a URL or a Host header writes it: an IPv6 literal in brackets.
    std::string HostText() const;
    // HostText() and ":" port.
    std::string Authority() const;
    // The scheme and the host, with the port when it is not the scheme's
    // own: "http://[::1]:8080".
    std::string Origin() const;
};

// The scheme is matched ignoring case (default ports 80 and 443). After it,
// up to the first "/" comes host[:port]; the host must not be empty and a
// port must be a decimal number from 1 to 65535. An IPv6 literal stands in
// brackets ("[2001:db8::1]:8080", "[::1]"). False for anything else.
bool nwParseHttpUrl(const char* url, nwHttpUrl* out);

// `host` as it stands in a URL: an IPv6 literal (any host with a ":") in
// brackets, anything else as it is.
std::string nwUrlHostText(const char* host);

// The absolute address that `reference` (a redirect's "Location:" value)
// stands for in an answer to `base`, resolved as HTTP/1.1 says: an address
// with a scheme stays as it is; "//host/p", "/p", "?q" and relative paths
// ("p", "../p") take what they lack from `base`, and "." and ".." steps are
// removed. A fragment ("#...") is dropped. Empty for an empty reference; the
// reference itself when `base` has no scheme.
ovCString nwResolveUrl(const char* base, const char* reference);
