#include "DisplayFormat.h"

#include "SystemCodePage.h"

#include <windows.h>

#include <charconv>
#include <cstdio>

namespace {

// The value with `decimals` digits after a "." whatever the process locale:
// once Qt has set the locale from the environment, printf would write "1,50"
// on a German or French desktop. Rounded as printf rounds (to nearest, on
// the exact binary value).
std::wstring Fixed(double value, int decimals)
{
    char digits[400];
    const auto [end, error] = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, decimals);
    return error == std::errc() ? std::wstring(digits, end) : std::wstring();
}

struct Unit {
    int decimals;
    const wchar_t* suffix;
};

constexpr Unit kSizeUnits[] = {{2, L" KB"}, {2, L" MB"}, {2, L" GB"}, {2, L" TB"}};
constexpr Unit kSpeedUnits[] = {{2, L" KB/Sec"}, {2, L" MB/Sec"}, {2, L" GB/Sec"}, {2, L" TB/Sec"}};

std::wstring Bytes(double value)
{
    return Fixed(value, 0) + L" Bytes";
}

std::wstring InUnit(double value, const Unit& unit)
{
    return Fixed(value, unit.decimals) + unit.suffix;
}

// Divides by 1024 for each unit step and returns the index of the first unit
// whose value stays below 1024, or -1 past the last one. Each step divides the
// already divided value, so 1048575 bytes stay "1024.00 KB" after rounding.
int ScaleToUnit(double& value)
{
    for (int unit = 0; unit < 4; ++unit) {
        value /= 1024.0;
        if (value < 1024.0)
            return unit;
    }
    return -1;
}

} // namespace

std::wstring FormatSize(double bytes)
{
    if (bytes < 1024.0)
        return Bytes(bytes);
    int unit = ScaleToUnit(bytes);
    return unit < 0 ? std::wstring() : InUnit(bytes, kSizeUnits[unit]);
}

std::wstring FormatSpeed(double bytesPerSecond)
{
    if (!(bytesPerSecond > 0.0))
        return L"0.0 Bytes";
    if (bytesPerSecond < 1024.0)
        return Bytes(bytesPerSecond);
    int unit = ScaleToUnit(bytesPerSecond);
    return unit < 0 ? std::wstring(L"0.0 Bytes") : InUnit(bytesPerSecond, kSpeedUnits[unit]);
}

std::wstring FormatTime(std::int64_t seconds)
{
    const std::int64_t days = seconds / 86400;
    const std::int64_t hours = seconds / 3600 - days * 24;
    const std::int64_t minutes = seconds / 60 % 60;
    wchar_t buffer[64];
    std::swprintf(buffer, sizeof buffer / sizeof buffer[0], L"%02d:%02d:%02d", static_cast<int>(hours),
                  static_cast<int>(minutes), static_cast<int>(seconds % 60));
    return buffer;
}

std::optional<std::wstring> FormatCurrentFileLabel(const std::vector<std::wstring>& fileList, int index, int ordinal)
{
    if (index < 0 || static_cast<size_t>(index) >= fileList.size())
        return std::nullopt;

    // The label shows the name as the system code page sees it, which is also
    // how the library will name the file on disk.
    const std::wstring& entry = fileList[static_cast<size_t>(index)];
    const std::wstring shown = FromSystemCodePage(ToSystemCodePage(entry));

    size_t slash = shown.rfind(L'/');
    std::wstring name = slash == std::wstring::npos ? std::wstring() : shown.substr(slash + 1);

    std::wstring label = name + L" [";
    label += std::to_wstring(ordinal) + L"/" + std::to_wstring(fileList.size()) + L"]";
    return label;
}

int PercentOfRange(int lower, int upper, int position)
{
    // An empty range would divide by zero; it counts as a span of one.
    float span = static_cast<float>(upper) - static_cast<float>(lower);
    if (span == 0.0f)
        span = 1.0f;
    return static_cast<int>((static_cast<float>(position) - static_cast<float>(lower)) * 100.0f / span);
}

std::wstring FormatPercent(int lower, int upper, int position)
{
    return std::to_wstring(PercentOfRange(lower, upper, position)) + L"%";
}
