#include "ut/utFileName.h"

#include <cstdint>

#include "ut/utCUriCodec.h"

namespace {

bool IsOneComponent(std::string_view name)
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

bool IsPlainFileName(std::string_view name)
{
    if (!IsOneComponent(name))
        return false;
    const ovCString decoded = utCUriCodec::DecodeString(name.data(), static_cast<std::uint32_t>(name.size()));
    return IsOneComponent(std::string_view(decoded.GetString(), decoded.GetLength()));
}
