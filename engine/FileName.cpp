#include "FileName.h"

#include <cstdint>
#include <cstdio>

namespace engine {

namespace {

constexpr std::string_view kPartSuffix = ".mdpart";
constexpr std::string_view kStateSuffix = ".mdstate";
constexpr std::string_view kStateTempSuffix = ".mdstate~";

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

bool EndsWith(std::string_view text, std::string_view suffix)
{
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

} // namespace

std::string NameFromUrl(std::string_view url)
{
    const std::size_t slash = url.rfind('/');
    std::string_view name = slash == std::string_view::npos ? std::string_view() : url.substr(slash + 1);
    return std::string(name.substr(0, name.find_first_of("?#")));
}

bool HasEngineSuffix(std::string_view name)
{
    return EndsWith(name, kPartSuffix) || EndsWith(name, kStateSuffix) || EndsWith(name, kStateTempSuffix);
}

std::string PartFileName(std::string_view name)
{
    return WithSuffix(name, kPartSuffix);
}

std::string StateFileName(std::string_view name)
{
    return WithSuffix(name, kStateSuffix);
}

std::string StateTempName(std::string_view name)
{
    return WithSuffix(name, kStateTempSuffix);
}

} // namespace engine
