#include "nw/nwHttpProxy.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cp/cpAddress.h"
#include "nw/nwHttpText.h"
#include "ut/utCUriCodec.h"

namespace {

constexpr std::uint16_t kDefaultProxyPort = 1080;

// The first of the variables that is set and not empty, or null.
const char* FirstSet(std::initializer_list<const char*> names)
{
    for (const char* name : names) {
        const char* value = std::getenv(name);
        if (value && *value) {
            return value;
        }
    }
    return nullptr;
}

// The proxy setting for a request to `target`, or null to go direct.
const char* ProxySettingFor(const nwHttpUrl& target)
{
    const char* setting = target.scheme == HTTP_SCHEME_HTTPS
                              ? FirstSet({"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
                              : FirstSet({"http_proxy", "all_proxy", "ALL_PROXY"});
    if (!setting || nwNoProxyMatches(FirstSet({"no_proxy", "NO_PROXY"}), target.host.GetString(), target.port)) {
        return nullptr;
    }
    return setting;
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return text;
}

bool AllDigits(const std::string& text)
{
    return !text.empty() && text.size() <= 5 && text.find_first_not_of("0123456789") == std::string::npos;
}

// Whether `host` lies in the range "address/bits".
bool InRange(const std::string& range, const cpAddress& host)
{
    const std::size_t slash = range.find('/');
    cpAddress network;
    const std::string bitsText = range.substr(slash + 1);
    if (!cpAddress::Parse(range.substr(0, slash).c_str(), &network) || network.Family() != host.Family() ||
        !AllDigits(bitsText)) {
        return false;
    }
    const int width = host.IsIPv6() ? 128 : 32;
    const int bits = std::atoi(bitsText.c_str());
    if (bits > width) {
        return false;
    }
    for (int i = 0; i < bits; ++i) {
        const int mask = 0x80 >> (i % 8);
        if ((network.Bytes()[i / 8] & mask) != (host.Bytes()[i / 8] & mask)) {
            return false;
        }
    }
    return true;
}

// Whether one no_proxy entry (without its port) covers `host`.
bool EntryCovers(const std::string& entry, const std::string& host)
{
    cpAddress hostAddress;
    const bool hostIsAddress = cpAddress::Parse(host.c_str(), &hostAddress);
    if (entry.find('/') != std::string::npos) {
        return hostIsAddress && InRange(entry, hostAddress);
    }
    cpAddress entryAddress;
    if (cpAddress::Parse(entry.c_str(), &entryAddress)) {
        return hostIsAddress && entryAddress == hostAddress;
    }
    const std::string name = Lower(entry[0] == '.' ? entry.substr(1) : entry);
    const std::string target = Lower(host);
    if (name.empty()) {
        return false;
    }
    return target == name ||
           (target.size() > name.size() && target.compare(target.size() - name.size(), name.size(), name) == 0 &&
            target[target.size() - name.size() - 1] == '.');
}

// Splits a no_proxy entry into its host part and its port (0 for none);
// false for an entry that cannot be read.
bool SplitEntry(const std::string& entry, std::string* host, std::uint16_t* port)
{
    *port = 0;
    std::string portText;
    if (entry[0] == '[') {
        const std::size_t close = entry.find(']');
        if (close == std::string::npos) {
            return false;
        }
        *host = entry.substr(1, close - 1);
        const std::string rest = entry.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':') {
                return false;
            }
            portText = rest.substr(1);
        }
    } else if (std::count(entry.begin(), entry.end(), ':') == 1) {
        const std::size_t colon = entry.find(':');
        *host = entry.substr(0, colon);
        portText = entry.substr(colon + 1);
    } else {
        *host = entry; // a name, an IPv4 address, or an IPv6 address without a port
    }
    if (!portText.empty()) {
        if (!AllDigits(portText) || std::atoi(portText.c_str()) > 65535) {
            return false;
        }
        *port = static_cast<std::uint16_t>(std::atoi(portText.c_str()));
    }
    return !host->empty();
}

std::string Base64(const std::string& bytes)
{
    std::vector<unsigned char> out(4 * ((bytes.size() + 2) / 3) + 1);
    const int length = EVP_EncodeBlock(out.data(), reinterpret_cast<const unsigned char*>(bytes.data()),
                                       static_cast<int>(bytes.size()));
    return std::string(reinterpret_cast<const char*>(out.data()), static_cast<std::size_t>(std::max(length, 0)));
}

std::string Decoded(const std::string& text)
{
    const ovCString decoded = utCUriCodec::DecodeString(text.data(), static_cast<std::uint32_t>(text.size()));
    return std::string(decoded.GetString(), decoded.GetLength());
}

} // namespace

bool nwNoProxyMatches(const char* list, const char* host, std::uint16_t port)
{
    if (!list || !host || !*host) {
        return false;
    }
    const std::string text(list);
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find_first_of(", \t", start), text.size());
        const std::string entry = text.substr(start, end - start);
        start = end + 1;
        if (entry.empty()) {
            continue;
        }
        if (entry == "*") {
            return true;
        }
        std::string entryHost;
        std::uint16_t entryPort = 0;
        if (SplitEntry(entry, &entryHost, &entryPort) && (entryPort == 0 || entryPort == port) &&
            EntryCovers(entryHost, host)) {
            return true;
        }
    }
    return false;
}

bool nwParseProxySetting(const char* setting, nwHttpProxy* proxy)
{
    *proxy = {};
    std::string rest = setting ? setting : "";
    const std::size_t schemeEnd = rest.find("://");
    if (schemeEnd != std::string::npos) {
        const std::string scheme = Lower(rest.substr(0, schemeEnd));
        rest = rest.substr(schemeEnd + 3);
        if (scheme != "http") {
            proxy->text = scheme + "://" + rest.substr(rest.find('@') == std::string::npos ? 0 : rest.find('@') + 1);
            return false;
        }
    }
    rest = rest.substr(0, rest.find('/'));
    const std::size_t at = rest.rfind('@');
    std::string userInfo;
    if (at != std::string::npos) {
        userInfo = rest.substr(0, at);
        rest = rest.substr(at + 1);
    }
    proxy->text = "http://" + rest;
    // The host and port read as a URL's do.
    nwHttpUrl parsed;
    if (rest.empty() || nwHasLineBreak(rest.c_str()) || !nwParseHttpUrl(("http://" + rest).c_str(), &parsed)) {
        return false;
    }
    const std::size_t hostEnd = rest[0] == '[' ? rest.find(']') : 0;
    const bool portGiven = rest.find(':', hostEnd) != std::string::npos;
    proxy->host = parsed.host;
    proxy->port = portGiven ? parsed.port : kDefaultProxyPort;
    proxy->text = "http://" + parsed.HostText() + ":" + std::to_string(proxy->port);
    if (!userInfo.empty()) {
        const std::size_t colon = userInfo.find(':');
        const std::string user = Decoded(userInfo.substr(0, colon));
        const std::string password = colon == std::string::npos ? "" : Decoded(userInfo.substr(colon + 1));
        proxy->authorization = "Basic " + Base64(user + ":" + password);
    }
    return true;
}

nwProxyChoice nwChooseProxy(const nwHttpUrl& target, nwHttpProxy* proxy)
{
    const char* setting = ProxySettingFor(target);
    if (!setting) {
        return nwProxyChoice::Direct;
    }
    return nwParseProxySetting(setting, proxy) ? nwProxyChoice::Proxy : nwProxyChoice::Unusable;
}

std::string nwProxySettingFor(const char* url)
{
    nwHttpUrl target;
    const char* setting = nwParseHttpUrl(url, &target) ? ProxySettingFor(target) : nullptr;
    return setting ? setting : "";
}
