#include "ProgressText.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <iterator>

namespace {

// The length of the UTF-8 sequence a lead byte starts, 1 for a stray byte.
size_t SequenceLength(unsigned char lead)
{
    if (lead >= 0xF0 && lead < 0xF8)
        return 4;
    if (lead >= 0xE0)
        return lead < 0xF0 ? 3 : 1;
    if (lead >= 0xC0)
        return 2;
    return 1;
}

uint32_t DecodeAt(const std::string& text, size_t at, size_t length)
{
    if (length == 1 || at + length > text.size())
        return static_cast<unsigned char>(text[at]);
    uint32_t code = static_cast<unsigned char>(text[at]) & (0x7F >> length);
    for (size_t i = 1; i < length; ++i)
        code = (code << 6) | (static_cast<unsigned char>(text[at + i]) & 0x3F);
    return code;
}

bool IsWide(uint32_t code)
{
    return (code >= 0x1100 && code <= 0x115F) || (code >= 0x2E80 && code <= 0xA4CF) ||
           (code >= 0xAC00 && code <= 0xD7A3) || (code >= 0xF900 && code <= 0xFAFF) ||
           (code >= 0xFE30 && code <= 0xFE4F) || (code >= 0xFF00 && code <= 0xFF60) ||
           (code >= 0xFFE0 && code <= 0xFFE6) || (code >= 0x20000 && code <= 0x3FFFD);
}

std::string FileLabel(const ProgressSample& sample)
{
    std::string label = "[" + std::to_string(sample.fileNumber) + "/" + std::to_string(sample.fileCount) + "]";
    if (!sample.fileName.empty())
        label += " " + sample.fileName;
    return label;
}

std::string Percent(const ProgressSample& sample)
{
    char text[8];
    std::snprintf(text, sizeof text, "%3u%%", sample.percent > 100 ? 100u : sample.percent);
    return text;
}

} // namespace

std::string FormatBytes(uint64_t bytes)
{
    if (bytes < 1024)
        return std::to_string(bytes) + " B";
    static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    double value = static_cast<double>(bytes) / 1024;
    size_t unit = 0;
    // 1023.995 and more would print as "1024.00" of the smaller unit.
    while (value >= 1023.995 && unit + 1 < std::size(kUnits)) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.2f %s", value, kUnits[unit]);
    return text;
}

std::string FormatRate(uint64_t bytesPerSecond)
{
    return FormatBytes(bytesPerSecond) + "/s";
}

std::string FormatEta(uint64_t seconds, uint32_t speed)
{
    if (speed == 0)
        return "--:--:--";
    char text[32];
    std::snprintf(text, sizeof text, "%" PRIu64 ":%02u:%02u", seconds / 3600, static_cast<unsigned>(seconds / 60 % 60),
                  static_cast<unsigned>(seconds % 60));
    return text;
}

uint64_t SecondsLeft(uint64_t total, uint64_t done, uint32_t speed)
{
    if (speed == 0 || done >= total)
        return 0;
    return (total - done) / speed + ((total - done) % speed != 0 ? 1 : 0);
}

std::string BarLine(const ProgressSample& sample, int columns)
{
    const size_t width = columns > 1 ? static_cast<size_t>(columns - 1) : 0;
    std::string amounts = FormatBytes(sample.done);
    if (sample.total > 0)
        amounts += "/" + FormatBytes(sample.total);
    const std::string tail =
        " " + amounts + "  " + FormatRate(sample.speed) + "  ETA " + FormatEta(sample.remaining, sample.speed);
    const std::string label = FileLabel(sample);
    const std::string percent = " " + Percent(sample);

    // The label keeps up to 32 columns before the bar gets any room.
    const size_t fixed = DisplayColumns(percent) + DisplayColumns(tail);
    const size_t labelRoom = width > fixed ? width - fixed : 0;
    const size_t labelColumns = std::min(DisplayColumns(label), std::min<size_t>(labelRoom, 32));
    std::string line = CutToColumns(label, labelColumns) + percent;
    const size_t used = labelColumns + fixed;
    constexpr size_t kMinBar = 10;
    if (width >= used + kMinBar + 3) {
        const size_t inner = std::min<size_t>(width - used - 3, 50);
        const size_t filled = inner * std::min<uint32_t>(sample.percent, 100) / 100;
        std::string bar(inner, ' ');
        for (size_t i = 0; i < filled; ++i)
            bar[i] = '=';
        if (filled > 0 && filled < inner)
            bar[filled - 1] = '>';
        line += " [" + bar + "]";
    }
    line += tail;
    return CutToColumns(line, width);
}

std::string PlainLine(const ProgressSample& sample)
{
    std::string line = FileLabel(sample) + " " + std::to_string(std::min<uint32_t>(sample.percent, 100)) + "% " +
                       std::to_string(sample.done);
    if (sample.total > 0)
        line += "/" + std::to_string(sample.total);
    line += " bytes " + FormatRate(sample.speed) + " ETA " + FormatEta(sample.remaining, sample.speed);
    return line;
}

size_t DisplayColumns(const std::string& utf8)
{
    size_t columns = 0;
    for (size_t at = 0; at < utf8.size();) {
        const size_t length = SequenceLength(static_cast<unsigned char>(utf8[at]));
        columns += IsWide(DecodeAt(utf8, at, length)) ? 2 : 1;
        at += length;
    }
    return columns;
}

std::string CutToColumns(const std::string& utf8, size_t columns)
{
    size_t used = 0, at = 0;
    while (at < utf8.size()) {
        const size_t length = SequenceLength(static_cast<unsigned char>(utf8[at]));
        const size_t need = IsWide(DecodeAt(utf8, at, length)) ? 2 : 1;
        if (used + need > columns || at + length > utf8.size())
            break;
        used += need;
        at += length;
    }
    return utf8.substr(0, at);
}
