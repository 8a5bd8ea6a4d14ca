#pragma once
// The text of a file's state file: its size, the server's validator and the
// byte ranges on disk. Read back only when whole: a state file is trusted
// only with its first line and its closing "end" line.
//
//     MDSTATE 1
//     size <bytes, or -1 when unknown>
//     validator <text, may be empty>
//     done <first byte> <end byte>     (one line per range, at most 4096)
//     end

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "RangeSet.h"

namespace engine {

struct SavedState {
    std::int64_t size = -1;
    std::string validator;
    RangeSet done;
};

inline constexpr std::size_t kMaxStateText = 256 * 1024;
inline constexpr std::size_t kMaxValidator = 512;

std::string FormatState(const SavedState& state);
// Nothing for a text that is not a whole, consistent state: no closing line,
// ranges outside the size, numbers that do not parse, a validator with line
// breaks or too long.
std::optional<SavedState> ParseState(std::string_view text);

} // namespace engine
