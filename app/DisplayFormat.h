// Texts of the main window's value labels: sizes, speeds, times, the current
// file label and the percentage shown on a progress bar.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// "0 Bytes", "1.00 KB", ... "1023.99 TB"; empty for 1024 TB and more.
std::wstring FormatSize(double bytes);

// "0.0 Bytes" for zero, negative and absurd speeds; "512 Bytes" below 1 KB;
// "2.00 KB/Sec" ... "1.50 TB/Sec" above.
std::wstring FormatSpeed(double bytesPerSecond);

// "HH:MM:SS" of the hours within the day: whole days are not shown.
std::wstring FormatTime(std::int64_t seconds);

// "%s [%d/%d]" of the file name of entry `index` (the text after its last "/"),
// the ordinal and the number of entries; nothing when `index` is past the list.
std::optional<std::wstring> FormatCurrentFileLabel(const std::vector<std::wstring>& fileList, int index, int ordinal);

// The whole-number part of (position - lower) * 100 / (upper - lower), in
// single precision; an empty range counts as a span of one.
int PercentOfRange(int lower, int upper, int position);
// "%d%%" of that.
std::wstring FormatPercent(int lower, int upper, int position);
