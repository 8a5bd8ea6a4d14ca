// Any bytes a client sends as a request head parse without a fault; a target
// that is accepted never leads out of the served folder, and an accepted
// range that starts within the file ends within it.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "HttpRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string head(reinterpret_cast<const char*>(data), size);
    publisher::Request request;
    if (!publisher::parseRequestHead(head, request))
        return 0;
    std::string path;
    if (publisher::decodeTargetPath(request.target, path)) {
        if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos)
            abort();
        for (size_t at = path.find("/.."); at != std::string::npos; at = path.find("/..", at + 1)) {
            if (at + 3 == path.size() || path[at + 3] == '/')
                abort();
        }
    }
    constexpr uint64_t kSize = 1000;
    uint64_t first = 0, last = 0;
    if (publisher::parseRange(request.range, kSize, first, last) && first < kSize && (first > last || last >= kSize))
        abort();
    return 0;
}
