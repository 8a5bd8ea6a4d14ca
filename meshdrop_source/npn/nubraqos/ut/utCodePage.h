#pragma once
// Converts text between two code pages (for example the system code page and
// UTF-8) through UTF-16, as the platform converts them.

#include <cstdint>
#include <string>

// `text` in code page `to`. Text that is not valid in `from`, or that `to`
// cannot hold, comes back unchanged.
std::string utConvertCodePage(const char* text, std::uint32_t length, unsigned from, unsigned to);
