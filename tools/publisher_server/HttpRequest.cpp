#include "HttpRequest.h"

#include <cerrno>
#include <cstdlib>
#include <strings.h>

namespace publisher {

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

bool parseRequestHead(const std::string& head, Request& r)
{
    size_t lineEnd = head.find("\r\n");
    if (lineEnd == std::string::npos)
        lineEnd = head.size();
    std::string line = head.substr(0, lineEnd);
    size_t a = line.find(' '), b = line.rfind(' ');
    if (a == std::string::npos || b == a)
        return false;
    r.method = line.substr(0, a);
    r.target = line.substr(a + 1, b - a - 1);
    r.version = line.substr(b + 1);
    for (size_t pos = lineEnd + 2; pos < head.size();) {
        size_t next = head.find("\r\n", pos);
        if (next == std::string::npos)
            break;
        std::string h = head.substr(pos, next - pos);
        pos = next + 2;
        size_t colon = h.find(':');
        if (colon == std::string::npos)
            continue;
        std::string name = h.substr(0, colon);
        size_t vs = h.find_first_not_of(' ', colon + 1);
        std::string value = vs == std::string::npos ? "" : h.substr(vs);
        if (strcasecmp(name.c_str(), "Range") == 0)
            r.range = value;
        else if (strcasecmp(name.c_str(), "Connection") == 0)
            r.connection = value;
    }
    return true;
}

bool parseRange(const std::string& value, uint64_t size, uint64_t& first, uint64_t& last)
{
    if (value.compare(0, 6, "bytes=") != 0)
        return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long f = strtoull(value.c_str() + 6, &end, 10);
    if (errno || end == value.c_str() + 6 || *end != '-')
        return false;
    unsigned long long l = size ? size - 1 : 0;
    if (end[1] != '\0') {
        char* end2 = nullptr;
        l = strtoull(end + 1, &end2, 10);
        if (*end2 != '\0' || l < f)
            return false;
        if (size && l > size - 1)
            l = size - 1;
    }
    first = f;
    last = l;
    return true;
}

bool decodeTargetPath(const std::string& target, std::string& path)
{
    std::string raw = target.substr(0, target.find('?'));
    if (raw.empty() || raw[0] != '/')
        return false;
    path.clear();
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '%' && i + 2 < raw.size() && hexValue(raw[i + 1]) >= 0 && hexValue(raw[i + 2]) >= 0) {
            char c = static_cast<char>(hexValue(raw[i + 1]) * 16 + hexValue(raw[i + 2]));
            if (c == '\0')
                return false;
            path.push_back(c);
            i += 2;
        } else if (raw[i] == '\0') {
            // A NUL would end the name the file system sees, after the check below.
            return false;
        } else {
            path.push_back(raw[i]);
        }
    }
    // No way out of the served folder.
    for (size_t pos = 0; pos != std::string::npos;) {
        size_t next = path.find('/', pos + 1);
        std::string seg = path.substr(pos + 1, next == std::string::npos ? std::string::npos : next - pos - 1);
        if (seg == "..")
            return false;
        pos = next;
    }
    return true;
}

} // namespace publisher
