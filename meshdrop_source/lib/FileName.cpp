#include "FileName.h"

#include "MirrorUrls.h"
#include "nw/nwHttpUrl.h"

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// "%" and two hexadecimal digits become that byte; anything else stays.
std::string PercentDecoded(const std::string& text)
{
    std::string decoded;
    decoded.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            decoded.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
            i += 2;
        } else {
            decoded.push_back(text[i]);
        }
    }
    return decoded;
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
