// Conversions between the window's wide strings and the narrow strings of the
// system code page that the download library takes and gives.
#pragma once

#include <string>
#include <string_view>

// Characters the code page cannot hold become its default character.
std::string ToSystemCodePage(std::wstring_view text);
// UTF-8, whatever the system code page, for a terminal or a log.
std::string ToUtf8(std::wstring_view text);
// Bytes that are not valid in the code page become U+FFFD.
std::wstring FromSystemCodePage(std::string_view text);
