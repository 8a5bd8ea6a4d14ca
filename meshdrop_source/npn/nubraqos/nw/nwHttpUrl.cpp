#include "nw/nwHttpUrl.h"

#include <ws2tcpip.h>

#include <cstring>
#include <string>
#include <vector>

#include "nw/nwHttpText.h"

std::string nwUrlHostText(const char* host)
{
    const std::string text = host ? host : "";
    return text.find(':') == std::string::npos ? text : "[" + text + "]";
}

std::string nwHttpUrl::HostText() const
{
    return nwUrlHostText(host.GetString());
}

std::string nwHttpUrl::Authority() const
{
    return HostText() + ":" + std::to_string(port);
}

std::string nwHttpUrl::Origin() const
{
    const bool https = scheme == HTTP_SCHEME_HTTPS;
    const bool defaultPort = port == (https ? 443 : 80);
    return (https ? "https://" : "http://") + (defaultPort ? HostText() : Authority());
}

namespace {

// Splits host[:port] of `length` bytes at `text`: the host (an IPv6 literal
// without its brackets) and where the port part starts (null without one).
bool SplitHostPort(const char* text, std::uint32_t length, ovCString* host, const char** portPart,
                   std::uint32_t* portLength)
{
    const char* end = text + length;
    const char* hostEnd = nullptr;
    if (length > 0 && *text == '[') {
        const char* close = static_cast<const char*>(std::memchr(text, ']', length));
        if (!close) {
            return false;
        }
        const std::string literal(text + 1, close);
        in6_addr address{};
        if (inet_pton(AF_INET6, literal.c_str(), &address) != 1) {
            return false;
        }
        host->Assign(literal.c_str());
        hostEnd = close + 1;
        if (hostEnd != end && *hostEnd != ':') {
            return false; // nothing but a port may follow the literal
        }
    } else {
        hostEnd = static_cast<const char*>(std::memchr(text, ':', length));
        hostEnd = hostEnd ? hostEnd : end;
        if (hostEnd == text) {
            return false;
        }
        host->Assign(text, static_cast<std::uint32_t>(hostEnd - text));
    }
    *portPart = hostEnd == end ? nullptr : hostEnd + 1;
    *portLength = hostEnd == end ? 0 : static_cast<std::uint32_t>(end - hostEnd - 1);
    return true;
}

} // namespace

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
    const char* portPart = nullptr;
    std::uint32_t portLength = 0;
    if (!SplitHostPort(rest, hostPortLength, &parsed.host, &portPart, &portLength)) {
        return false;
    }
    // The host goes into the Host header as it is.
    if (nwHasLineBreak(parsed.host.GetString())) {
        return false;
    }
    if (portPart) {
        const std::int64_t port = nwParseLeadingDecimal(portPart, portLength, 65535);
        // The whole port part must be the number.
        if (port <= 0 || portLength > 5 || std::strspn(portPart, "0123456789") < portLength) {
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

namespace {

bool HasScheme(const char* text)
{
    // scheme = ALPHA *( ALPHA / DIGIT / "+" / "-" / "." ) ":"
    if (!((*text >= 'a' && *text <= 'z') || (*text >= 'A' && *text <= 'Z'))) {
        return false;
    }
    for (const char* p = text + 1; *p; ++p) {
        if (*p == ':') {
            return true;
        }
        const bool ok = (*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') || (*p >= '0' && *p <= '9') || *p == '+' ||
                        *p == '-' || *p == '.';
        if (!ok) {
            return false;
        }
    }
    return false;
}

// A path starting with "/" without its "." and ".." steps (never above "/").
std::string WithoutDotSteps(const std::string& path)
{
    std::vector<std::string> steps;
    bool trailingSlash = false;
    std::size_t start = 1;
    while (start <= path.size()) {
        const std::size_t slash = path.find('/', start);
        const std::size_t end = slash == std::string::npos ? path.size() : slash;
        const std::string step = path.substr(start, end - start);
        const bool last = slash == std::string::npos;
        if (step == "..") {
            if (!steps.empty()) {
                steps.pop_back();
            }
            trailingSlash = last;
        } else if (step == ".") {
            trailingSlash = last;
        } else {
            steps.push_back(step);
            trailingSlash = false;
        }
        start = end + 1;
    }
    std::string out;
    for (const std::string& step : steps) {
        out += "/" + step;
    }
    if (out.empty() || trailingSlash) {
        out += "/";
    }
    return out;
}

} // namespace

ovCString nwResolveUrl(const char* base, const char* reference)
{
    if (!reference || !*reference) {
        return ovCString();
    }
    std::string ref(reference);
    ref = ref.substr(0, ref.find('#'));
    const char* schemeEnd = base ? std::strstr(base, "://") : nullptr;
    if (HasScheme(ref.c_str()) || !schemeEnd) {
        return ovCString(ref.c_str());
    }
    const std::string whole(base);
    const std::size_t authorityStart = static_cast<std::size_t>(schemeEnd - base) + 3;
    std::size_t pathStart = whole.find_first_of("/?#", authorityStart);
    if (pathStart == std::string::npos) {
        pathStart = whole.size();
    }
    const std::string scheme = whole.substr(0, authorityStart - 3); // without "://"
    const std::string origin = whole.substr(0, pathStart);
    std::string basePath = whole.substr(pathStart);
    basePath = basePath.substr(0, basePath.find_first_of("?#"));
    if (basePath.empty()) {
        basePath = "/";
    }

    std::string resolved;
    if (ref.empty()) {
        resolved = whole.substr(0, whole.find('#'));
    } else if (ref.compare(0, 2, "//") == 0) {
        resolved = scheme + ":" + ref;
    } else if (!ref.empty() && ref[0] == '?') {
        resolved = origin + basePath + ref;
    } else {
        const std::size_t queryAt = ref.find('?');
        const std::string query = queryAt == std::string::npos ? "" : ref.substr(queryAt);
        std::string path = ref.substr(0, queryAt);
        if (path.empty() || path[0] != '/') {
            path = basePath.substr(0, basePath.rfind('/') + 1) + path;
        }
        resolved = origin + WithoutDotSteps(path) + query;
    }
    return ovCString(resolved.c_str());
}
