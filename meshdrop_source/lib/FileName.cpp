#include "FileName.h"

#include "MirrorUrls.h"
#include "nw/nwHttpUrl.h"

std::string FileNameOf(const std::string& url, const char* givenName)
{
    if (givenName != nullptr && *givenName != '\0')
        return givenName;
    const size_t slash = url.rfind('/');
    return slash == std::string::npos ? std::string() : url.substr(slash + 1);
}

bool IsUsableFileUrl(const std::string& url)
{
    for (const std::string& mirror : SplitMirrorUrls(url)) {
        nwHttpUrl parsed;
        if (nwParseHttpUrl(mirror.c_str(), &parsed))
            return true;
    }
    return false;
}
