// String conversions between the system code page, UTF-8 and wide strings,
// used by the A entry points and by path handling.
#pragma once

#include <string>
#include <string_view>

#include "windows.h"

namespace w32 {

// Lenient conversions: bytes that do not decode become U+FFFD, characters
// that do not encode become '?'.
std::wstring ToWide(UINT codePage, std::string_view text);
std::string FromWide(UINT codePage, std::wstring_view text);

inline std::wstring AcpToWide(const char* text) { return text ? ToWide(CP_ACP, text) : std::wstring(); }
inline std::string WideToAcp(std::wstring_view text) { return FromWide(CP_ACP, text); }
inline std::wstring Utf8ToWide(std::string_view text) { return ToWide(CP_UTF8, text); }
inline std::string WideToUtf8(std::wstring_view text) { return FromWide(CP_UTF8, text); }

// Copies `text` with its terminator into a caller's buffer of `size`
// characters, with the usual Win32 length contract: returns the length
// without terminator, or the size needed (with terminator) when it does not fit.
DWORD CopyOut(std::string_view text, LPSTR buffer, DWORD size);
DWORD CopyOut(std::wstring_view text, LPWSTR buffer, DWORD size);

}  // namespace w32
