#include "MirrorUrls.h"

std::vector<std::string> SplitMirrorUrls(const std::string& url)
{
    std::vector<std::string> mirrors;
    size_t start = 0;
    for (;;) {
        const size_t bar = url.find('|', start);
        mirrors.push_back(url.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos)
            return mirrors;
        start = bar + 1;
    }
}
