#pragma once
// Windows folder paths as the library keeps them: "\" separators and one
// trailing "\"; and creation of every missing folder along a path.

#include <string>

// Every "/" becomes "\", and a "\" is appended unless the folder ends in one.
std::string NormalizeFolder(const char* folder);

// Creates, in order, every folder named by a prefix of the path that ends just
// after a "\" (a "\" in the first position excepted) and does not exist yet.
// The text after the last "\" (a file name) is left alone. False when a
// creation fails.
[[nodiscard]] bool CreateFolderPrefixes(const std::string& path);

// Makes sure a download folder exists, creating it and its missing parents.
// An empty or null folder fails; an existing one succeeds at once.
[[nodiscard]] bool CreateFolderPath(const char* folder);

// Whether `path`, once mapped to the platform's own path, names an entry
// directly inside the mapped `folder` (not the folder itself, not deeper,
// not elsewhere): the check made where a download file is created.
[[nodiscard]] bool LiesDirectlyInFolder(const std::string& folder, const std::string& path);

// The bytes of the volume that holds the folder that this program may use
// (asked for the folder itself, so that a folder on another file system than
// its drive's root answers for the right one; blocks kept for the system's
// administrator do not count); 0 when it cannot be read.
unsigned long long GetFolderFreeSpace(const std::string& folder);
