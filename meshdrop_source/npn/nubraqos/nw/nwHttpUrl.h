#pragma once
// Splits an "http://" or "https://" address into scheme, host, port and path.

#include <cstdint>

#include "ov/ovCString.h"

inline constexpr int HTTP_SCHEME_HTTP = 1;
inline constexpr int HTTP_SCHEME_HTTPS = 3;

struct nwHttpUrl {
    int scheme = 0;
    ovCString host;
    std::uint16_t port = 0;
    // From the first "/" after the host on, query included; empty when none.
    ovCString path;
};

// The scheme is matched ignoring case (default ports 80 and 443). After it,
// up to the first "/" comes host[:port]; the host must not be empty and a
// port must be a decimal number from 1 to 65535. False for anything else.
bool nwParseHttpUrl(const char* url, nwHttpUrl* out);

// The absolute address that `reference` (a redirect's "Location:" value)
// stands for in an answer to `base`, resolved as HTTP/1.1 says: an address
// with a scheme stays as it is; "//host/p", "/p", "?q" and relative paths
// ("p", "../p") take what they lack from `base`, and "." and ".." steps are
// removed. A fragment ("#...") is dropped. Empty for an empty reference; the
// reference itself when `base` has no scheme.
ovCString nwResolveUrl(const char* base, const char* reference);
