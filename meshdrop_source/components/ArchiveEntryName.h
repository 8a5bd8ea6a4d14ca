#pragma once
// The rule that keeps every archive entry below its target folder.

#include <string>
#include <string_view>
#include <vector>

// Drops a leading drive prefix (a letter and a colon), then leading
// backslashes and slashes, then everything up to and including the last
// parent-folder step (a ".." between separators of either kind).
std::string MakeSafeEntryName(std::string_view name);

// The folder steps of a safe name: split at "/" and "\", without empty and
// "." steps.
std::vector<std::string> SplitEntryName(std::string_view safeName);

// True when the name stands for a folder (it ends with a separator).
bool IsFolderEntryName(std::string_view name);
