#include "DisplayFormat.h"

#include "SystemCodePage.h"

#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

std::wstring Printf(const wchar_t* format, double value)
{
    wchar_t buffer[128];
    int n = std::swprintf(buffer, sizeof buffer / sizeof buffer[0], format, value);
    return n > 0 ? std::wstring(buffer, static_cast<size_t>(n)) : std::wstring();
}

constexpr const wchar_t* kSizeUnits[] = {L"%.2f KB", L"%.2f MB", L"%.2f GB", L"%.2f TB"};
constexpr const wchar_t* kSpeedUnits[] = {L"%0.2f KB/Sec", L"%0.2f MB/Sec", L"%0.2f GB/Sec", L"%0.2f TB/Sec"};

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
        return Printf(L"%0.f Bytes", bytes);
    int unit = ScaleToUnit(bytes);
    return unit < 0 ? std::wstring() : Printf(kSizeUnits[unit], bytes);
}

std::wstring FormatSpeed(double bytesPerSecond)
{
    if (!(bytesPerSecond > 0.0))
        return L"0.0 Bytes";
    if (bytesPerSecond < 1024.0)
        return Printf(L"%0.f Bytes", bytesPerSecond);
    int unit = ScaleToUnit(bytesPerSecond);
    return unit < 0 ? std::wstring(L"0.0 Bytes") : Printf(kSpeedUnits[unit], bytesPerSecond);
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
