#include "ut/utFileEntry.h"

#include <cctype>
#include <cstdint>

#include "ut/utFileName.h"

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// What follows "http://" or "https://", matched in any case; npos without.
std::size_t AfterScheme(std::string_view url)
{
    for (const std::string_view scheme : {std::string_view("http://"), std::string_view("https://")}) {
        if (url.size() >= scheme.size()) {
            bool same = true;
            for (std::size_t i = 0; i < scheme.size() && same; ++i) {
                same = std::tolower(static_cast<unsigned char>(url[i])) == scheme[i];
            }
            if (same) {
                return scheme.size();
            }
        }
    }
    return std::string_view::npos;
}

} // namespace

bool utIsHttpAddress(std::string_view url)
{
    const std::size_t start = AfterScheme(url);
    if (start == std::string_view::npos) {
        return false;
    }
    for (const char c : url) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            return false;
        }
    }
    // host[:port] up to the path; the host may be a bracketed IPv6 literal.
    const std::string_view authority = url.substr(start, url.find('/', start) - start);
    std::size_t colon = authority.find(':');
    if (!authority.empty() && authority.front() == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos || close == 1 ||
            authority.substr(1, close - 1).find_first_not_of("0123456789abcdefABCDEF:.") != std::string_view::npos) {
            return false;
        }
        if (close + 1 == authority.size()) {
            return true;
        }
        if (authority[close + 1] != ':') {
            return false;
        }
        colon = close + 1;
    }
    if (colon == 0 || authority.empty()) {
        return false;
    }
    if (colon == std::string_view::npos) {
        return true;
    }
    const std::string_view port = authority.substr(colon + 1);
    std::uint32_t value = 0;
    for (const char c : port) {
        if (c < '0' || c > '9' || value > 65535) {
            return false;
        }
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return !port.empty() && port.size() <= 5 && value >= 1 && value <= 65535;
}

std::vector<std::string> utSplitMirrors(std::string_view entry)
{
    std::vector<std::string> mirrors;
    entry = Trim(entry);
    if (entry.size() > kMaxEntryBytes) {
        return mirrors;
    }
    for (;;) {
        const std::size_t bar = entry.find('|');
        const std::string_view part = Trim(entry.substr(0, bar));
        if (utIsHttpAddress(part) && mirrors.size() < kMaxEntryMirrors) {
            mirrors.emplace_back(part);
        }
        if (bar == std::string_view::npos) {
            return mirrors;
        }
        entry.remove_prefix(bar + 1);
    }
}

std::string utNameFromEntry(std::string_view entry)
{
    const std::vector<std::string> mirrors = utSplitMirrors(entry);
    if (mirrors.empty()) {
        return {};
    }
    std::string_view url = mirrors.front();
    url = url.substr(0, url.find_first_of("?#"));
    const std::size_t path = url.find('/', AfterScheme(url));
    if (path == std::string_view::npos) {
        return {};
    }
    return std::string(url.substr(url.rfind('/') + 1));
}

utEntryCheck utReadFileEntry(std::string_view entry, std::string_view givenName, utFileEntry* out)
{
    out->mirrors = utSplitMirrors(entry);
    if (out->mirrors.empty()) {
        return utEntryCheck::NoAddress;
    }
    out->name = givenName.empty() ? utNameFromEntry(entry) : std::string(givenName);
    // The name as the job gives it and as the file system stores it must both pass.
    const std::string stored = StoredFileName(out->name);
    if (!IsPlainFileName(out->name) || !IsPlainFileName(stored) || IsReservedFileName(stored)) {
        return utEntryCheck::BadName;
    }
    return utEntryCheck::Ok;
}
