#include "ArchiveEntryName.h"

namespace {

bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

bool IsDriveLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

} // namespace

std::string MakeSafeEntryName(std::string_view name)
{
    if (name.size() >= 2 && IsDriveLetter(name[0]) && name[1] == ':')
        name.remove_prefix(2);
    while (!name.empty() && IsSeparator(name.front()))
        name.remove_prefix(1);
    // Cut after the last ".." step.
    size_t keepFrom = 0;
    for (size_t step = 0; step < name.size();) {
        size_t end = step;
        while (end < name.size() && !IsSeparator(name[end]))
            ++end;
        if (name.substr(step, end - step) == "..")
            keepFrom = end < name.size() ? end + 1 : end;
        step = end + 1;
    }
    return std::string(name.substr(keepFrom));
}

std::vector<std::string> SplitEntryName(std::string_view safeName)
{
    std::vector<std::string> steps;
    size_t step = 0;
    while (step <= safeName.size()) {
        size_t end = step;
        while (end < safeName.size() && !IsSeparator(safeName[end]))
            ++end;
        const std::string_view part = safeName.substr(step, end - step);
        if (!part.empty() && part != ".")
            steps.emplace_back(part);
        step = end + 1;
    }
    return steps;
}

bool IsFolderEntryName(std::string_view name)
{
    return !name.empty() && IsSeparator(name.back());
}
