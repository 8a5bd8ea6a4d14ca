#include "nw/nwHttpUrl.h"

#include <cstring>

#include "nw/nwHttpText.h"

bool nwParseHttpUrl(const char* url, nwHttpUrl* out)
{
    if (!url || !out) {
        return false;
    }
    nwHttpUrl parsed;
    const char* rest = nullptr;
    if (nwStartsWith(url, "http://", true)) {
        parsed.scheme = HTTP_SCHEME_HTTP;
        parsed.port = 80;
        rest = url + 7;
    } else if (nwStartsWith(url, "https://", true)) {
        parsed.scheme = HTTP_SCHEME_HTTPS;
        parsed.port = 443;
        rest = url + 8;
    } else {
        return false;
    }
    if (!*rest) {
        return false;
    }
    const char* slash = std::strchr(rest, '/');
    const auto hostPortLength = static_cast<std::uint32_t>(slash ? slash - rest : std::strlen(rest));
    const char* colon = static_cast<const char*>(std::memchr(rest, ':', hostPortLength));
    const auto hostLength = static_cast<std::uint32_t>(colon ? colon - rest : hostPortLength);
    if (hostLength == 0) {
        return false;
    }
    parsed.host.Assign(rest, hostLength);
    // The host goes into the Host header as it is.
    if (nwHasLineBreak(parsed.host.GetString())) {
        return false;
    }
    if (colon) {
        const auto portLength = hostPortLength - hostLength - 1;
        const std::int64_t port = nwParseLeadingDecimal(colon + 1, portLength, 65535);
        // The whole port part must be the number.
        if (port <= 0 || portLength > 5 || std::strspn(colon + 1, "0123456789") < portLength) {
            return false;
        }
        parsed.port = static_cast<std::uint16_t>(port);
    }
    if (slash) {
        parsed.path.Assign(slash);
    }
    *out = std::move(parsed);
    return true;
}
