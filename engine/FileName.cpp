#include "FileName.h"

#include <cstdint>
#include <cstdio>

namespace engine {

namespace {

std::string WithSuffix(std::string_view name, std::string_view suffix)
{
    if (name.size() + suffix.size() <= kMaxFileNameBytes) {
        return std::string(name) + std::string(suffix);
    }
    std::uint64_t hash = 0xcbf29ce484222325ull; // FNV-1a
    for (const char c : name) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
    }
    char digits[17];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(hash));
    return "~" + std::string(digits) + std::string(suffix);
}

} // namespace

std::string PartFileName(std::string_view name)
{
    return WithSuffix(name, kPartFileSuffix);
}

std::string StateFileName(std::string_view name)
{
    return WithSuffix(name, kStateFileSuffix);
}

std::string StateTempName(std::string_view name)
{
    return WithSuffix(name, kStateTempSuffix);
}

} // namespace engine
