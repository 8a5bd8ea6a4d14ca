#include "ut/utFileName.h"

#include <windows.h>

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

bool IsReservedFileName(std::string_view name)
{
    for (const std::string_view suffix : {kPartFileSuffix, kStateFileSuffix, kStateTempSuffix}) {
        if (name.size() >= suffix.size() && name.substr(name.size() - suffix.size()) == suffix)
            return true;
    }
    return false;
}

std::string StoredFileName(std::string_view name)
{
    if (name.empty() || name.size() > kMaxFileNameBytes * 4)
        return {};
    const int length = static_cast<int>(name.size());
    const int wide = MultiByteToWideChar(CP_ACP, 0, name.data(), length, nullptr, 0);
    if (wide <= 0)
        return {};
    std::wstring buffer(static_cast<std::size_t>(wide), L'\0');
    MultiByteToWideChar(CP_ACP, 0, name.data(), length, buffer.data(), wide);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, buffer.data(), wide, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return {};
    std::string stored(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, buffer.data(), wide, stored.data(), bytes, nullptr, nullptr);
    return stored;
}
