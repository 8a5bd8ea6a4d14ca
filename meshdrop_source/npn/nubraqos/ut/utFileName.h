#pragma once
// The rule every name a download is written under must pass, in the library
// and in the engine alike: one plain path component of the download folder.
// A name that could step out of the folder (a separator, "..", a drive
// letter) is refused before anything is created, however the platform below
// would read it.

#include <cstddef>
#include <string>
#include <string_view>

// The longest name a file system takes, in bytes.
inline constexpr std::size_t kMaxFileNameBytes = 255;

// The suffixes of the engine's work files beside a download: its part file,
// its state file and the state file's temporary name.
inline constexpr std::string_view kPartFileSuffix = ".mdpart";
inline constexpr std::string_view kStateFileSuffix = ".mdstate";
inline constexpr std::string_view kStateTempSuffix = ".mdstate~";

// Whether `name` is one plain path component: not empty, not "." or "..", no
// "\", "/", ":", control character or NUL, at most 255 bytes. The name with
// its percent escapes decoded must pass too, so that no later decoding of
// the URL can turn it into a path ("%2e%2e", "a%00b", "a%5cb").
bool IsPlainFileName(std::string_view name);

// Whether `name` ends in a suffix of the engine's work files: no download
// may take such a name, or it could collide with another file's work files.
bool IsReservedFileName(std::string_view name);

// A name in the system code page as the file system stores it: UTF-8 (bytes
// the code page does not know become replacement characters). Empty when
// the conversion fails.
std::string StoredFileName(std::string_view name);
