#include "FileName.h"

#include "MirrorUrls.h"
#include "nw/nwHttpUrl.h"
#include "ut/utCUriCodec.h"

namespace {

// "%" and two hexadecimal digits become that byte; anything else stays.
std::string PercentDecoded(const std::string& text)
{
    const ovCString decoded = utCUriCodec::DecodeString(text.data(), static_cast<std::uint32_t>(text.size()));
    return std::string(decoded.GetString(), decoded.GetLength());
}

bool IsOneComponent(const std::string& name)
{
    if (name.empty() || name.size() > kMaxFileNameBytes || name == "." || name == "..")
        return false;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '\\' || c == '/' || c == ':')
            return false;
    }
    return true;
}

} // namespace

bool IsPlainFileName(const std::string& name)
{
    return IsOneComponent(name) && IsOneComponent(PercentDecoded(name));
}

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
