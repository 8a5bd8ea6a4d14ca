#include "StateFile.h"

#include <charconv>

namespace engine {

namespace {

constexpr std::size_t kMaxRanges = 4096;

bool ParseNumber(std::string_view text, std::int64_t* value)
{
    const char* end = text.data() + text.size();
    const auto [last, error] = std::from_chars(text.data(), end, *value);
    return error == std::errc() && last == end;
}

// Splits off the text up to the next newline.
bool NextLine(std::string_view* text, std::string_view* line)
{
    const std::size_t newline = text->find('\n');
    if (newline == std::string_view::npos) {
        return false;
    }
    *line = text->substr(0, newline);
    text->remove_prefix(newline + 1);
    return true;
}

bool TakeField(std::string_view line, std::string_view key, std::string_view* value)
{
    if (line.size() <= key.size() || line.substr(0, key.size()) != key || line[key.size()] != ' ') {
        return false;
    }
    *value = line.substr(key.size() + 1);
    return true;
}

} // namespace

std::string FormatState(const SavedState& state)
{
    std::string text = "MDSTATE 1\nsize " + std::to_string(state.size) + "\nvalidator " + state.validator + "\n";
    std::size_t written = 0;
    for (const ByteRange& range : state.done.Ranges()) {
        if (++written > kMaxRanges) {
            break; // a shorter state only means more to fetch again
        }
        text += "done " + std::to_string(range.begin) + " " + std::to_string(range.end) + "\n";
    }
    return text + "end\n";
}

std::optional<SavedState> ParseState(std::string_view text)
{
    if (text.size() > kMaxStateText) {
        return std::nullopt;
    }
    SavedState state;
    std::string_view line;
    std::string_view value;
    if (!NextLine(&text, &line) || line != "MDSTATE 1" || !NextLine(&text, &line) || !TakeField(line, "size", &value) ||
        !ParseNumber(value, &state.size) || state.size < -1 || !NextLine(&text, &line) ||
        !TakeField(line, "validator", &value) || value.size() > kMaxValidator ||
        value.find('\r') != std::string_view::npos) {
        return std::nullopt;
    }
    state.validator = value;
    std::size_t ranges = 0;
    while (NextLine(&text, &line)) {
        if (line == "end") {
            return text.empty() ? std::optional<SavedState>(std::move(state)) : std::nullopt;
        }
        const std::size_t space = line.find(' ', 5);
        std::int64_t begin = 0;
        std::int64_t end = 0;
        if (++ranges > kMaxRanges || line.substr(0, 5) != "done " || space == std::string_view::npos ||
            !ParseNumber(line.substr(5, space - 5), &begin) || !ParseNumber(line.substr(space + 1), &end) ||
            begin < 0 || end <= begin || (state.size >= 0 && end > state.size)) {
            return std::nullopt;
        }
        state.done.Add(begin, end);
    }
    return std::nullopt;
}

} // namespace engine
