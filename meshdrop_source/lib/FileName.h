#pragma once
// The local name of a job's file. Whether the client gives it or it is taken
// from the URL, it must be one plain path component of the download folder:
// a name that could step out of the folder (a separator, "..", a drive
// letter) is refused before anything is created, however the platform
// below would read it.

#include <string>

// The longest name a file system takes, in bytes.
inline constexpr size_t kMaxFileNameBytes = 255;

// Whether `name` is one plain path component: not empty, not "." or "..", no
// "\", "/", ":", control character or NUL, at most 255 bytes. The name with
// its percent escapes decoded must pass too, so that no later decoding of
// the URL can turn it into a path ("%2e%2e", "a%00b", "a%5cb").
bool IsPlainFileName(const std::string& name);

// The name a file is stored under: `givenName` when it is not null or empty,
// else the text after the last "/" of the URL (empty when there is none).
std::string FileNameOf(const std::string& url, const char* givenName);

// Whether at least one "|"-separated address of the URL is an http:// or
// https:// address with a host: one that the downloaders can fetch (a
// mirror that cannot be used is skipped when its turn comes).
bool IsUsableFileUrl(const std::string& url);
