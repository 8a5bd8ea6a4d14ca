#include "nw/nwHttpUrl.h"

#include <cstring>
#include <string>
#include <vector>

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
