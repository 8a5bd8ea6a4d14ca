#pragma once
// The interface of the proxy tunnel layer (class OVCLS_HTTP_PROXY_TUNNEL_LAYER),
// which the HTTP client layer pushes at the very bottom of a context whose
// "https://" request goes through an HTTP proxy: the TCP connection goes to
// the proxy, the layer asks it with CONNECT for a tunnel to the origin, and
// only once the proxy has agreed do the layers above (TLS, then HTTP) hear
// that they are connected.

#include <cstdint>

#include "ov/ovIUnknown.h"

class ovIHttpProxyTunnelLayer : public ovIUnknown {
public:
    // The origin to tunnel to (its host as a URL writes it, and its port),
    // the Proxy-Authorization value (empty for none) and the proxy as log
    // lines name it. Call before the context connects.
    virtual OVRESULT SetTarget(const char* host, std::uint16_t port, const char* authorization,
                               const char* proxyText) = 0;
    // The origin's host name (an IPv6 literal without brackets): the name the
    // TLS layer above verifies the server's certificate against.
    virtual const char* GetTargetHost() = 0;
};
